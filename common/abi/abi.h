/* The byte layouts other programs rely on: the command message of the
 * queues, the shared segments 205, 201 and 206, and the router kernel's
 * records (accounting pages, connection counts, connection limits, DNS
 * query log). Each has a header of its own in this directory, included by
 * its writers and its readers alike: the daemons (C++), sendmsg and the
 * simulation's kernel stand-ins (C). Every size and offset is a static
 * assertion, so the mipsel build and the PC build cannot disagree.
 *
 * This header gives the others what lets one text serve both languages:
 * RC_ABI_BEGIN/END (namespace rc in C++), RC_ABI_CONST (a constexpr in C++,
 * an enumerator in C, so both can size arrays with it) and RC_ABI_ASSERT. */
#pragma once

#ifdef __cplusplus
#include <cstddef>
#include <cstdint>
#define RC_ABI_BEGIN namespace rc {
#define RC_ABI_END }
#define RC_ABI_CONST(type, name, value) constexpr type name = (value);
#define RC_ABI_ASSERT(cond, msg) static_assert(cond, msg)
#else
#include <stddef.h>
#include <stdint.h>
#define RC_ABI_BEGIN
#define RC_ABI_END
#define RC_ABI_CONST(type, name, value) enum { name = (value) };
#define RC_ABI_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif
