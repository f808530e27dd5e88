// Counting heap allocations, for the tests that prove a daemon's one-second
// pass allocates nothing. Counted through the sanitizer's allocation hooks,
// so it works in the sanitizer build (the one CI tests); elsewhere
// alloc_counting() is false and a test skips its count.
#pragma once

namespace rc::test {

bool alloc_counting();
// Counts from now until alloc_count_stop, which returns the number.
void alloc_count_start();
long alloc_count_stop();

}  // namespace rc::test
