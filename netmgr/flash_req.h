// The read request of the router's flash driver (/dev/flash0, ioctl 1): six
// 32-bit words, the same on the router and on a PC.
#pragma once
#include <cstddef>
#include <cstdint>

namespace rc {

constexpr unsigned long kFlashRead = 1;     // the flash driver's read request
constexpr uint32_t kFlashOutOfScope = 10;  // status: address outside the flash

struct flash_req {
  uint32_t addr;         // flash offset to read from
  uint32_t dst;          // user address of the destination (32-bit on the router)
  uint32_t len;          // bytes to read
  uint32_t reserved[2];
  uint32_t status;       // set by the driver
};
static_assert(sizeof(flash_req) == 24, "flash request is six 32-bit words");
static_assert(offsetof(flash_req, addr) == 0, "addr at 0");
static_assert(offsetof(flash_req, dst) == 4, "dst at 4");
static_assert(offsetof(flash_req, len) == 8, "len at 8");
static_assert(offsetof(flash_req, reserved) == 12, "reserved words at 12");
static_assert(offsetof(flash_req, status) == 20, "status at 20");

// A request to read len bytes at flash offset addr into dst. The address is
// cut to 32 bits: right on the router, where the driver exists; a 64-bit PC
// never issues the request (tests read a flash image file instead).
flash_req flash_read_req(uint32_t addr, void *dst, uint32_t len);

}  // namespace rc
