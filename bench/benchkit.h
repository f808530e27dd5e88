// What the bench drivers share: the heap allocations counted by wrapping
// malloc, calloc and realloc (benchkit.cpp), and files written into a test
// root.
#pragma once
#include <cstddef>

namespace bench {

// Heap allocations since the program started.
long allocations();
// Writes data[len] to DIR/REL, making the directories on the way; exits on failure.
void put(const char *dir, const char *rel, const void *data, size_t len);
void putText(const char *dir, const char *rel, const char *text);

}  // namespace bench
