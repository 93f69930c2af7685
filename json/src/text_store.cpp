#include "corvane_bo/json/text_store.hpp"

#include <algorithm>
#include <cstring>

namespace corvane_bo_json {

namespace {

constexpr std::size_t block_size = std::size_t{16} << 10;

}  // namespace

void TextStore::next_block(std::size_t n) {
    const std::size_t size = std::max(n, block_size);
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
    next_ = blocks_.back().get();
    end_ = next_ + size;
}

Value& TextStore::hold(Value&& value) { return values_.emplace_front(std::move(value)); }

}  // namespace corvane_bo_json
