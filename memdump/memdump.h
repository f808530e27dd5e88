// memdump: searches the first 27 MiB of physical memory for the marker
// 1F 2E 3D 4C and prints "i=%d j=%d mem=%x" for each place (i the 1024-byte
// chunk, j the offset in it, mem the address), then an empty line.
#pragma once
#include <cstddef>
#include <cstdio>

namespace rc {

constexpr size_t kChunkSize = 1024;
constexpr int kChunks = 27648;  // 27 MiB
constexpr unsigned char kMarker[4] = {0x1f, 0x2e, 0x3d, 0x4c};

// Scans at most `chunks` chunks of `in` and prints every marker to `out`,
// also one that starts in the last bytes of a chunk or spans two chunks (it
// is reported under the chunk it starts in). A short read (the end of the
// memory) ends the scan after its bytes are searched. A read that fails
// also ends it, after the bytes it brought are searched, and is reported to
// `err` with the address it stopped at and the reason. Returns the number of
// markers found, or -1 when a read failed.
int memdump_scan(FILE *in, FILE *out, FILE *err, int chunks = kChunks);

// The whole tool: opens `path` ("/dev/mem" under the kernel root), scans it
// and prints the closing empty line. 0, or 1 when a read failed: then the
// scan is not complete and the closing empty line is not printed.
int memdump_main(const char *path, FILE *out, FILE *err);

}  // namespace rc
