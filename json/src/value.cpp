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
    // Stable, so that among equal keys the last one read is the last one here.
    std::ranges::stable_sort(members, KeyLess{});
    Object object;
    object.members_.reserve(members.size());
    for (auto& member : members) {
        if (!object.members_.empty() && object.members_.back().key == member.key)
            object.members_.back().value = std::move(member.value);
        else
            object.members_.push_back(std::move(member));
    }
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
