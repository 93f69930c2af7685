#include "corvane_bo/json/value.hpp"

#include <algorithm>

namespace corvane_bo_json {

namespace {
struct KeyLess {
    bool operator()(const Member& m, std::string_view key) const { return m.key < key; }
    bool operator()(const Member& a, const Member& b) const { return a.key < b.key; }
};
}  // namespace

Object Object::from_members(std::vector<Member> members) {
    // Members arrive in text order, a handful at a time: an insertion sort, stable so that among
    // equal keys the last one read stays last, moves each member only past those it precedes. Larger
    // objects take the merge sort.
    constexpr std::size_t insertion_limit = 32;
    if (members.size() <= insertion_limit) {
        for (std::size_t i = 1; i < members.size(); ++i) {
            if (!(members[i].key < members[i - 1].key)) continue;
            Member moving = std::move(members[i]);
            std::size_t j = i;
            do {
                members[j] = std::move(members[j - 1]);
                --j;
            } while (j > 0 && moving.key < members[j - 1].key);
            members[j] = std::move(moving);
        }
    } else {
        std::ranges::stable_sort(members, KeyLess{});
    }
    // Equal keys are adjacent now; the last of each run is the one kept.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (kept > 0 && members[kept - 1].key == members[i].key) {
            members[kept - 1].value = std::move(members[i].value);
        } else {
            if (kept != i) members[kept] = std::move(members[i]);
            ++kept;
        }
    }
    members.erase(members.begin() + static_cast<std::ptrdiff_t>(kept), members.end());
    Object object;
    object.members_ = std::move(members);
    return object;
}

const Value* Object::find(std::string_view key) const {
    auto it = std::lower_bound(members_.begin(), members_.end(), key, KeyLess{});
    return it != members_.end() && it->key == key ? &it->value : nullptr;
}

Value* Object::find(std::string_view key) {
    auto it = std::lower_bound(members_.begin(), members_.end(), key, KeyLess{});
    return it != members_.end() && it->key == key ? &it->value : nullptr;
}

void Object::set(std::string key, Value value) {
    auto it = std::lower_bound(members_.begin(), members_.end(), std::string_view(key), KeyLess{});
    if (it != members_.end() && it->key == key)
        it->value = std::move(value);
    else
        members_.insert(it, Member{std::move(key), std::move(value)});
}

}  // namespace corvane_bo_json
