// A map from text to text ordered by the bytes of the key: the headers of a request (its texts owned,
// or viewed where they are kept for the call). It holds a
// handful of entries, built once and written once, so it is one sorted vector rather than a tree: one
// allocation instead of one per entry. The interface is the part of std::map that header maps use.
// `TextPairs`, after it, keeps an object of texts just as it was read.
#pragma once

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

namespace corvane_bo_json {

template <class Text>
class BasicTextMap {
public:
    using key_type = Text;
    using mapped_type = Text;
    using value_type = std::pair<Text, Text>;
    using size_type = std::size_t;
    using iterator = typename std::vector<value_type>::iterator;
    using const_iterator = typename std::vector<value_type>::const_iterator;

    BasicTextMap() = default;
    // As std::map's: of entries with equal keys, the first is kept.
    BasicTextMap(std::initializer_list<value_type> entries) {
        entries_.reserve(entries.size());
        for (const auto& [key, value] : entries) emplace(key, value);
    }

    // Entries in any order, of which, for equal keys, the last is kept (a key read twice from JSON).
    static BasicTextMap from_entries(std::vector<value_type> entries) {
        BasicTextMap map;
        const std::size_t n = entries.size();
        // Already in order with no key twice (a map written by this system): taken as it is.
        bool ordered = true;
        for (std::size_t i = 1; i < n && ordered; ++i) ordered = entries[i - 1].first < entries[i].first;
        if (ordered) {
            map.entries_ = std::move(entries);
            return map;
        }
        // The order is found on indices, stably so that the last of equal keys stays last among
        // them, and each entry is then moved once: entries are two strings, costly to shuffle.
        std::vector<std::size_t> order(n);
        for (std::size_t i = 0; i < n; ++i) {
            const std::string_view key = entries[i].first;
            std::size_t j = i;
            for (; j > 0 && key < std::string_view(entries[order[j - 1]].first); --j) order[j] = order[j - 1];
            order[j] = i;
        }
        map.entries_.reserve(n);
        for (const std::size_t i : order) {
            if (!map.entries_.empty() && map.entries_.back().first == entries[i].first)
                map.entries_.back().second = std::move(entries[i].second);
            else
                map.entries_.push_back(std::move(entries[i]));
        }
        return map;
    }

    iterator begin() noexcept { return entries_.begin(); }
    iterator end() noexcept { return entries_.end(); }
    const_iterator begin() const noexcept { return entries_.begin(); }
    const_iterator end() const noexcept { return entries_.end(); }
    const_iterator cbegin() const noexcept { return entries_.cbegin(); }
    const_iterator cend() const noexcept { return entries_.cend(); }
    size_type size() const noexcept { return entries_.size(); }
    bool empty() const noexcept { return entries_.empty(); }
    void clear() noexcept { entries_.clear(); }
    void reserve(size_type n) { entries_.reserve(n); }

    iterator lower_bound(std::string_view key) {
        return std::lower_bound(entries_.begin(), entries_.end(), key, KeyLess{});
    }
    const_iterator lower_bound(std::string_view key) const {
        return std::lower_bound(entries_.begin(), entries_.end(), key, KeyLess{});
    }
    iterator find(std::string_view key) {
        const auto at = lower_bound(key);
        return at != end() && at->first == key ? at : end();
    }
    const_iterator find(std::string_view key) const {
        const auto at = lower_bound(key);
        return at != end() && at->first == key ? at : end();
    }
    bool contains(std::string_view key) const { return find(key) != end(); }
    size_type count(std::string_view key) const { return contains(key) ? 1 : 0; }

    mapped_type& at(std::string_view key) {
        const auto it = find(key);
        if (it == end()) throw std::out_of_range("TextMap::at");
        return it->second;
    }
    const mapped_type& at(std::string_view key) const {
        const auto it = find(key);
        if (it == end()) throw std::out_of_range("TextMap::at");
        return it->second;
    }
    mapped_type& operator[](std::string_view key) { return try_emplace(key).first->second; }

    // Inserts unless the key is there already, as std::map does.
    template <class K, class... V>
    std::pair<iterator, bool> try_emplace(K&& key, V&&... value) {
        auto at = lower_bound(key);
        if (at != end() && at->first == key) return {at, false};
        at = entries_.emplace(at, std::piecewise_construct, std::forward_as_tuple(std::forward<K>(key)),
                              std::forward_as_tuple(std::forward<V>(value)...));
        return {at, true};
    }
    template <class K, class V>
    std::pair<iterator, bool> emplace(K&& key, V&& value) {
        return try_emplace(std::forward<K>(key), std::forward<V>(value));
    }
    std::pair<iterator, bool> insert(value_type entry) {
        return try_emplace(std::move(entry.first), std::move(entry.second));
    }
    // The hint is taken when the key belongs right before it (entries added in order go to the end
    // without a search).
    template <class K, class V>
    iterator emplace_hint(const_iterator hint, K&& key, V&& value) {
        const std::string_view name(key);
        const bool after_previous = hint == cbegin() || std::prev(hint)->first < name;
        const bool before_hint = hint == cend() || name < hint->first;
        if (after_previous && before_hint) {
            const auto offset = hint - cbegin();
            return entries_.emplace(entries_.begin() + offset, std::piecewise_construct,
                                    std::forward_as_tuple(std::forward<K>(key)),
                                    std::forward_as_tuple(std::forward<V>(value)));
        }
        return emplace(std::forward<K>(key), std::forward<V>(value)).first;
    }
    template <class K, class V>
    std::pair<iterator, bool> insert_or_assign(K&& key, V&& value) {
        auto at = lower_bound(key);
        if (at != end() && at->first == key) {
            at->second = std::forward<V>(value);
            return {at, false};
        }
        at = entries_.emplace(at, std::forward<K>(key), std::forward<V>(value));
        return {at, true};
    }
    size_type erase(std::string_view key) {
        const auto it = find(key);
        if (it == end()) return 0;
        entries_.erase(it);
        return 1;
    }
    iterator erase(const_iterator position) { return entries_.erase(position); }

    friend bool operator==(const BasicTextMap&, const BasicTextMap&) = default;

private:
    struct KeyLess {
        bool operator()(const value_type& entry, std::string_view key) const { return entry.first < key; }
    };

    std::vector<value_type> entries_;
};

using TextMap = BasicTextMap<std::string>;
using TextViewMap = BasicTextMap<std::string_view>;

// The members of an object of texts as they were read: views, in the order of the text, a key given
// twice appearing twice. For headers that are searched once, where sorting them would cost more.
class TextPairs {
public:
    using value_type = std::pair<std::string_view, std::string_view>;
    using mapped_type = std::string_view;
    using const_iterator = std::vector<value_type>::const_iterator;

    TextPairs() = default;
    TextPairs(std::initializer_list<value_type> entries) : entries_(entries) {}

    const_iterator begin() const noexcept { return entries_.begin(); }
    const_iterator end() const noexcept { return entries_.end(); }
    std::size_t size() const noexcept { return entries_.size(); }
    bool empty() const noexcept { return entries_.empty(); }
    void reserve(std::size_t n) { entries_.reserve(n); }
    void push_back(std::string_view key, std::string_view value) { entries_.emplace_back(key, value); }

    friend bool operator==(const TextPairs&, const TextPairs&) = default;

private:
    std::vector<value_type> entries_;
};

}  // namespace corvane_bo_json
