// What the record mapping reads from. The mapping (record_read.hpp) is written once; a source gives it
// only primitives, as the static members of its `Source<S>`:
//
//   Peeked peek(S&)                 what the next value is, for the tests below; nothing consumed
//   is_string / is_bool / is_number / is_object / is_array (Peeked)
//   wrong_type(S&, Peeked, expected)   "invalid type: <found>, expected <expected>" or the source's own
//   not_a_name(S&, Peeked)          an enumeration given anything but a string
//   string(S&, std::string&)  string(S&, std::string_view&)   a string peeked, kept
//   string(S&, RelayedString&)      a string peeked, kept, with whether it stood with no escape
//   name(S&, scratch, std::string_view&)   a string peeked, viewed until the next read
//   boolean(S&, Peeked, bool&)      a boolean peeked
//   plain_unsigned(S&, value, max)  an optional fast path for small unsigned integers
//   number(S&)                      a number peeked, as its text
//   null(S&)                        true (consumed) when the next value is null
//   value_into(S&, Value&)          the next value whole
//   failure_offset(S&)              where a failure found now is placed (or DecodeError::unplaced)
//   fail(S&, message, offset)       a failure worded at run time, its text kept for the read's end
//   object(S&, body) / array(S&, body)   a container peeked: `body` walks it, the source closes it
//
// The walkers that `body` is given have next(), value() (the source to read the member or element
// from), and for objects key(), key_kept(), colon(), skip_member() and take_predicted<T>(index).
//
// The source is a template parameter throughout: every primitive is resolved at compile time and
// inlined, so reading from text costs what a reader written for text alone would.
#pragma once

namespace corvane_bo_json {

template <class S>
struct Source;

template <class S>
concept source = requires { typename Source<S>::Peeked; };

}  // namespace corvane_bo_json
