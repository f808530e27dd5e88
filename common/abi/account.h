/* The router kernel's per-host accounting, which trafmon reads and the
 * simulation's sim_account plays.
 *
 * /proc/vkproc/account lists the pages, one "page=%d third=%d second=%d"
 * line each (the page's kernel address as a signed decimal, then the third
 * and second octets of the /24 block it covers), at most kMaxPages lines.
 * A page is 4096 bytes of 256 acctentry records, entry i for the host whose
 * last octet is i; it lies in the directly mapped kernel segment, so its
 * offset in /dev/mem is its address minus kKsegBase.
 *
 * /proc/vkproc/currconn holds the connection counts: connpair records
 * (address in network byte order, native count) ended by a zero address, at
 * most kConnFileSize bytes. */
#pragma once
#include "common/abi/abi.h"

RC_ABI_BEGIN

RC_ABI_CONST(int, kMaxPages, 9)
RC_ABI_CONST(size_t, kAcctPageSize, 4096)
RC_ABI_CONST(int, kAcctEntries, 256)
RC_ABI_CONST(uint32_t, kKsegBase, 0x80000000u)
RC_ABI_CONST(uint32_t, kKsegSize, 0x20000000u)

typedef struct acctentry {
  uint32_t psent; /* zero means no host */
  uint32_t bsent;
  uint32_t precv;
  uint32_t brecv;
} acctentry;
RC_ABI_ASSERT(sizeof(acctentry) == 16, "accounting entry is 16 bytes");
RC_ABI_ASSERT(offsetof(acctentry, bsent) == 4 && offsetof(acctentry, precv) == 8 &&
                  offsetof(acctentry, brecv) == 12,
              "accounting words in order");
RC_ABI_ASSERT(kAcctEntries * sizeof(acctentry) == kAcctPageSize, "a page holds 256 entries");

RC_ABI_CONST(size_t, kConnFileSize, 4096)

typedef struct connpair {
  uint32_t addr; /* network byte order; zero ends the list */
  uint32_t count;
} connpair;
RC_ABI_ASSERT(sizeof(connpair) == 8 && offsetof(connpair, count) == 4, "connection count pair is 8 bytes");

RC_ABI_END
