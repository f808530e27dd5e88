/* The router kernel's DNS query log, /proc/dns_log2: kinwatch reads it, the
 * simulation's sim_dnslog plays it. Each read returns whole 132-byte records
 * logged since the previous read, at most what the reader asked for;
 * readers ask for kDnsLogPerRead records. */
#pragma once
#include "common/abi/abi.h"

RC_ABI_BEGIN

RC_ABI_CONST(size_t, kDnsNameSize, 128)
RC_ABI_CONST(int, kDnsLogPerRead, 20)

typedef struct dnslog_record {
  uint32_t addr;            /* the asking host, network byte order */
  char name[kDnsNameSize]; /* the queried name, NUL-terminated when shorter */
} dnslog_record;
RC_ABI_ASSERT(sizeof(dnslog_record) == 132, "a DNS log record is 132 bytes");
RC_ABI_ASSERT(offsetof(dnslog_record, name) == 4, "name from offset 4");

RC_ABI_END
