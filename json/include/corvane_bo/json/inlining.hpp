// The reader's steps taken on every value, and the writer's on every member, are inlined into the
// record readers and writers even where those have grown past the compiler's own limits, which
// otherwise leave them as calls (a key's prefix is then a constant, copied in a move or two). Where
// the attribute is unknown they are plain inline functions.
#pragma once

#if defined(__has_cpp_attribute)
#if __has_cpp_attribute(gnu::always_inline)
#define CORVANE_HOT_INLINE [[gnu::always_inline]] inline
#endif
#endif
#ifndef CORVANE_HOT_INLINE
#define CORVANE_HOT_INLINE inline
#endif
