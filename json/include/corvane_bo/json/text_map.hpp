// A map from text to text ordered by the bytes of the key: the headers of a request (its texts owned,
// or viewed where they are kept for the call). It holds a
// handful of entries, built once and written once, so it is one sorted vector rather than a tree: one
// allocation instead of one per entry. The interface is the part of std::map that header maps use.
// `TextPairs`, after it, keeps an object of texts just as it was read.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <initializer_list>
#include <iterator>
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

    iterator begin() noexcept { return entries_.begin(); }
    iterator end() noexcept { return entries_.end(); }
    const_iterator begin() const noexcept { return entries_.begin(); }
    const_iterator end() const noexcept { return entries_.end(); }
    const_iterator cbegin() const noexcept { return entries_.cbegin(); }
    const_iterator cend() const noexcept { return entries_.cend(); }
    size_type size() const noexcept { return entries_.size(); }
    bool empty() const noexcept { return entries_.empty(); }
    void reserve(size_type n) { entries_.reserve(n); }

    iterator lower_bound(std::string_view key) {
        return std::lower_bound(entries_.begin(), entries_.end(), key, KeyLess{});
    }
    const_iterator lower_bound(std::string_view key) const {
        return std::lower_bound(entries_.begin(), entries_.end(), key, KeyLess{});
    }
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
// A request's usual handful is held inline, so that reading them claims no memory.
class TextPairs {
public:
    using value_type = std::pair<std::string_view, std::string_view>;
    using mapped_type = std::string_view;
    using const_iterator = const value_type*;

    static constexpr std::size_t inline_count = 16;

    TextPairs() = default;
    TextPairs(std::initializer_list<value_type> entries) {
        reserve(entries.size());
        for (const auto& [key, value] : entries) push_back(key, value);
    }

    // Past the inline room every entry is in `spilled_`.
    const_iterator begin() const noexcept { return size_ <= inline_count ? held_.data() : spilled_.data(); }
    const_iterator end() const noexcept { return begin() + size_; }
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    void reserve(std::size_t n) {
        if (n > inline_count) spilled_.reserve(n);
    }
    void push_back(std::string_view key, std::string_view value) {
        if (size_ < inline_count) {
            held_[size_++] = {key, value};
            return;
        }
        if (size_ == inline_count) spilled_.assign(held_.begin(), held_.end());
        spilled_.emplace_back(key, value);
        ++size_;
    }

    friend bool operator==(const TextPairs& a, const TextPairs& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }

private:
    std::array<value_type, inline_count> held_{};
    std::size_t size_ = 0;
    std::vector<value_type> spilled_;
};

}  // namespace corvane_bo_json
