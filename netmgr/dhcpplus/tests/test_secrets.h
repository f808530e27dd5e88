// Secrets the tests use instead of the build's deployment values, so that
// the literal vectors hold whatever the build was configured with.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "common/clock.h"
#include "dhcpauth.h"
#include "dhcpcrypt.h"

namespace dhcpplus_testing {

inline dhcpplus::Secrets test_secrets() {
    return dhcpplus::Secrets{
        {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x1b, 0x1c, 0x1d},
        {0xa0, 0xa1, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xab, 0xac, 0xad,
         0xae, 0xaf},
        "abcd"};
}

// 0, 1, 2, ... n-1 as bytes.
inline std::vector<uint8_t> counting(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; i++)
        v[i] = static_cast<uint8_t>(i);
    return v;
}

inline std::vector<uint8_t> from_hex(const char *hex) {
    std::vector<uint8_t> out;
    auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    for (; hex[0] && hex[1]; hex += 2)
        out.push_back(static_cast<uint8_t>(nibble(hex[0]) << 4 | nibble(hex[1])));
    return out;
}

// A login client on the real socket and clock, whose state the tests read
// and set by its names.
struct LoginTest : ::testing::Test, rc::DhcpPlusLogin {
    LoginTest() : rc::DhcpPlusLogin(udp(), wall()) {}
    static rc::DhcpPlusSocket &udp() {
        static rc::DhcpPlusSocket s;
        return s;
    }
    static rc::Clock &wall() {
        static rc::SystemClock c;
        return c;
    }
};

}  // namespace dhcpplus_testing
