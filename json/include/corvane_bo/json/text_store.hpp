// Where the texts that records view are kept for the length of one call. A string read without
// escapes is viewed where it lies in the text being read; one with escapes is unescaped into the
// store, whose room never moves, so that every view stays valid as long as the store lives.
#pragma once

#include <cstddef>
#include <forward_list>
#include <memory>
#include <string_view>
#include <vector>

#include "corvane_bo/json/value.hpp"

namespace corvane_bo_json {

class TextStore {
public:
    TextStore() = default;
    // Views point into the store itself (its first room is inside it): it never moves.
    TextStore(const TextStore&) = delete;
    TextStore& operator=(const TextStore&) = delete;

    // `n` bytes of room; the caller writes into them and then keeps the first `used` with `keep`.
    char* room(std::size_t n) {
        if (static_cast<std::size_t>(end_ - next_) < n) next_block(n);
        return next_;
    }
    void keep(std::size_t used) noexcept { next_ += used; }

    // A decoded value kept whole, so that records read from it may view its texts.
    Value& hold(Value&& value);

private:
    void next_block(std::size_t n);

    // Enough for the body of a typical bank response, so that most calls claim nothing.
    static constexpr std::size_t inline_room = 2048;
    char first_[inline_room];
    char* next_ = first_;
    char* end_ = first_ + inline_room;
    std::vector<std::unique_ptr<char[]>> blocks_;
    std::forward_list<Value> values_;
};

}  // namespace corvane_bo_json
