// The heap allocations of a test program, for the tests and benchmarks that
// prove a daemon's periodic pass allocates nothing. Counted through the
// sanitizer's allocation hook in the sanitizer builds, and by wrapping
// malloc, calloc and realloc in the plain PC builds; the cross build has no
// counter, and a test that needs one skips itself there.
#pragma once

namespace rc::test {

// Heap allocations since the program started, or -1 when this build cannot
// count them.
long allocations();

// Runs fn and returns the number of allocations it made, or -1 when this
// build cannot count them.
template <typename Fn>
long count_allocations(Fn fn) {
  long before = allocations();
  fn();
  return before < 0 ? -1 : allocations() - before;
}

}  // namespace rc::test
