/* The connection-limit table fwmgr writes to /proc/vkproc/connlimit: an
 * enable word, then one connlimit_entry per address range (at most
 * kConnLimits). The addresses are in network byte order; the other words
 * are little-endian, whatever the writer's own byte order. The file holds
 * the enable word and the entries actually given, no more. */
#pragma once
#include "common/abi/abi.h"

RC_ABI_BEGIN

RC_ABI_CONST(int, kConnLimits, 32)

typedef struct connlimit_entry {
  uint32_t start; /* first address of the range, network byte order */
  uint32_t end;   /* last address, network byte order */
  uint32_t first; /* the two limit numbers, little-endian */
  uint32_t second;
} connlimit_entry;
RC_ABI_ASSERT(sizeof(connlimit_entry) == 16, "connection-limit entry is 16 bytes");
RC_ABI_ASSERT(offsetof(connlimit_entry, end) == 4 && offsetof(connlimit_entry, first) == 8 &&
                  offsetof(connlimit_entry, second) == 12,
              "connection-limit words in order");

typedef struct connlimit_table {
  uint32_t enable; /* little-endian */
  connlimit_entry entry[kConnLimits];
} connlimit_table;
RC_ABI_ASSERT(offsetof(connlimit_table, entry) == 4, "entries from offset 4");
RC_ABI_ASSERT(sizeof(connlimit_table) == 4 + 16 * 32, "the full table is 516 bytes");

RC_ABI_END
