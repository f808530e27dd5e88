// The hash scheme of the traffic monitor's per-address tables (connection
// counts, ARP): a fixed pool of 1024 entries, 256 buckets chosen by the
// address's last octet, new entries taken from the head of a free list and
// put at the head of their bucket. When the pool is used up, an address not
// yet in the table is not recorded. Links are pool indices (-1 ends a chain),
// so an entry has the same size on the router and on a 64-bit PC.
#pragma once
#include <cstdint>
#include <cstring>

namespace rc {

template <typename Node, int N = 1024>
struct HostHash {
  static constexpr int kBuckets = 256;
  Node pool[N];
  int32_t head[kBuckets];
  int32_t freehead;

  // Zeroes the pool, empties the buckets and chains the free list in pool
  // order (entry k to k + 1), head at entry 0.
  void reset() {
    memset(pool, 0, sizeof pool);
    for (int32_t &h : head) h = -1;
    for (int k = 0; k < N; ++k) pool[k].next = k + 1 < N ? k + 1 : -1;
    freehead = 0;
  }

  // The bucket of an address in network byte order: its fourth octet.
  static int bucket(uint32_t addr) { return reinterpret_cast<const unsigned char *>(&addr)[3]; }

  Node *find(uint32_t addr) {
    for (int32_t i = head[bucket(addr)]; i >= 0; i = pool[i].next)
      if (pool[i].addr == addr) return &pool[i];
    return nullptr;
  }

  // The entry of addr, taken from the free list when new; nullptr when the
  // address is new and the pool is used up.
  Node *get(uint32_t addr) {
    if (Node *n = find(addr)) return n;
    if (freehead < 0) return nullptr;
    int32_t i = freehead;
    Node &n = pool[i];
    freehead = n.next;
    n.addr = addr;
    n.next = head[bucket(addr)];
    head[bucket(addr)] = i;
    return &n;
  }
};

}  // namespace rc
