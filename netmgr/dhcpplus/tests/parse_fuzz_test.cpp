// Received datagrams: crafted and random ones, straight into the parser (in
// buffers of exactly the received size, so the sanitizer build catches any
// read past them) and through a real socket.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <vector>

#include "dhcpauth.h"
#include "dhcpcrypt.h"
#include "test_secrets.h"

using namespace dhcpplus;
using dhcpplus_testing::LoginTest;
using Bytes = std::vector<uint8_t>;

namespace {

using AckParser = LoginTest;
using ReceiveSocket = LoginTest;

const uint8_t kKey[10] = {0x3c, 0x81, 0x07, 0xee, 0x52, 0x19, 0xa4, 0x60, 0xd3, 0x2b};

// An ack datagram with the given code and plain payload, ciphered under kKey.
Bytes ack(uint8_t code, const Bytes &payload) {
    const size_t length = payload.size() + 10;
    Bytes d(length + 8);
    d[0] = 5;
    d[1] = code;
    d[2] = static_cast<uint8_t>(length >> 8);
    d[3] = static_cast<uint8_t>(length);
    d[4] = 1;
    d[6] = 7;
    d[7] = 15;
    memcpy(d.data() + 8, kKey, 10);
    encrypt_suboption(payload.data(), payload.size(), d.data() + 8);
    return d;
}

uint32_t ip(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    const uint8_t bytes[4] = {a, b, c, d};
    uint32_t v;
    memcpy(&v, bytes, 4);
    return v;
}

TEST_F(AckParser, CraftedAcks) {
    struct Case {
        const char *what;
        AckKind kind;
        uint8_t code;
        Bytes payload;
        int result;
        uint32_t server;   // srv_ip afterwards, for request acks
    };
    const Case cases[] = {
        {"hangup ack", AckKind::Hangup, 10, {}, 1, 0},
        {"hangup kind, code 2", AckKind::Hangup, 2, {}, -3, 0},
        {"one address", AckKind::Request, 2, {4, 4, 127, 0, 0, 1}, 1, ip(127, 0, 0, 1)},
        {"two addresses", AckKind::Request, 2, {4, 8, 10, 0, 0, 1, 10, 0, 0, 2}, 1,
         ip(10, 0, 0, 1)},
        {"three addresses", AckKind::Request, 2,
         {4, 12, 10, 0, 0, 9, 10, 0, 0, 2, 10, 0, 0, 3}, 1, ip(10, 0, 0, 9)},
        {"after another option", AckKind::Request, 2, {1, 4, 0, 0, 0, 0, 4, 4, 9, 9, 9, 9}, 1,
         ip(9, 9, 9, 9)},
        {"the last option 4 counts", AckKind::Request, 2, {4, 4, 1, 1, 1, 1, 4, 4, 2, 2, 2, 2},
         1, ip(2, 2, 2, 2)},
        {"length 6", AckKind::Request, 2, {4, 6, 10, 0, 0, 1, 0, 0}, -4, 0},
        {"length 0", AckKind::Request, 2, {4, 0}, -4, 0},
        {"address 0.0.0.0", AckKind::Request, 2, {4, 4, 0, 0, 0, 0}, -5, 0},
        {"no option 4", AckKind::Request, 2, {7, 2, 1, 1}, -5, 0},
        {"empty payload", AckKind::Request, 2, {}, -5, 0},
        {"value cut off: zeros", AckKind::Request, 2, {4, 12}, -5, 0},
        {"value half there", AckKind::Request, 2, {4, 4, 1, 2}, 1, ip(1, 2, 0, 0)},
        {"request kind, code 4", AckKind::Request, 4, {4, 4, 127, 0, 0, 1}, -3, 0},
        {"user accepted", AckKind::User, 4, {10, 1, 0x80}, 1, 0},
        {"user: 1 instead of 0x80", AckKind::User, 4, {10, 1, 1}, -6, 0},
        {"user: length 2", AckKind::User, 4, {10, 2, 0x80, 0}, -6, 0},
        {"user: length 0", AckKind::User, 4, {10, 0}, -6, 0},
        {"user: value cut off", AckKind::User, 4, {10, 1}, -6, 0},
        {"user: after the name", AckKind::User, 4, {8, 3, 'a', 'b', 'c', 10, 1, 0x80}, 1, 0},
        {"user: first option 10 decides", AckKind::User, 4, {10, 1, 5, 10, 1, 0x80}, -6, 0},
        {"user: no option 10", AckKind::User, 4, {8, 1, 'a'}, -7, 0},
        {"user: code 2", AckKind::User, 2, {10, 1, 0x80}, -3, 0},
        {"password accepted", AckKind::Password, 4, {10, 1, 1}, 1, 0},
        {"password: 0x80", AckKind::Password, 4, {10, 1, 0x80}, -6, 0},
        {"password: empty payload", AckKind::Password, 4, {}, -7, 0},
        {"password: option past a long one", AckKind::Password, 4, {7, 200, 10, 1, 1}, -7, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        InitVar("u", "p");
        const Bytes d = ack(c.code, c.payload);
        Bytes exact(d);   // heap buffer of exactly the datagram's size
        EXPECT_EQ(ParseAck(exact.data(), exact.size(), c.kind), c.result);
        if (c.kind == AckKind::Request) {
            EXPECT_EQ(srv_ip, c.server);
        }
    }
}

TEST_F(AckParser, SizeAndLengthField) {
    struct Case {
        const char *what;
        unsigned length;   // length field
        size_t size;       // bytes received
        int result;
    };
    const Case cases[] = {
        {"length 0", 0, 8, -2},
        {"length 9", 9, 17, -2},
        {"length 10: header and key only", 10, 18, -5},
        {"length 504, the largest", 504, 512, -5},
        {"length 505", 505, 513, -2},
        {"length 522", 522, 530, -2},
        {"length 65535", 65535, 530, -2},
        {"one byte short", 40, 47, -2},
        {"one byte long", 40, 49, -2},
        {"header only", 40, 8, -2},
        {"three bytes", 40, 3, -2},
        {"nothing", 40, 0, -2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        InitVar("u", "p");
        Bytes d(c.size == 0 ? 1 : c.size, 0);   // a request ack with a zero payload
        if (c.size >= 4) {
            d[0] = 5;
            d[1] = 2;
            d[2] = static_cast<uint8_t>(c.length >> 8);
            d[3] = static_cast<uint8_t>(c.length);
        }
        EXPECT_EQ(ParseAck(d.data(), c.size, AckKind::Request), c.result);
    }
}

TEST_F(AckParser, RandomDatagramsStayInBounds) {
    std::mt19937 rng(4242);
    const AckKind kinds[] = {AckKind::Hangup, AckKind::Request, AckKind::User,
                             AckKind::Password};
    const uint8_t codes[] = {10, 2, 4, 4};
    int parsed = 0;
    for (int round = 0; round < 20000; round++) {
        const size_t n = rng() % (kDatagramSize + 1);
        Bytes d(n == 0 ? 1 : n);
        for (auto &b : d)
            b = static_cast<uint8_t>(rng());
        const int k = static_cast<int>(rng() % 4);
        const unsigned mode = rng() % 4;
        if (n >= 4 && mode != 0) {
            // Mostly a length field that matches, so the walk is reached.
            const unsigned length = mode == 3 ? rng() % 65536 : static_cast<unsigned>(n - 8);
            d[2] = static_cast<uint8_t>(length >> 8);
            d[3] = static_cast<uint8_t>(length);
            d[1] = codes[k];
        }
        InitVar("u", "p");
        const int r = ParseAck(d.data(), n, kinds[k]);
        ASSERT_TRUE(r == 1 || (r <= -2 && r >= -7)) << r;
        if (r != -2) {
            parsed++;
            // Nothing written past the deciphered payload.
            const size_t plen = n - 18;
            for (size_t i = 8 + plen; i < kPlainPktSize; i++)
                ASSERT_EQ(uncrypt_receive[i], 0) << i;
        }
    }
    EXPECT_GT(parsed, 5000);
}

// Through the socket: whatever arrives, from whoever sends it.
TEST_F(ReceiveSocket, AnySenderAnyBytes) {
    recv_wait_ms = 20;
    InitVar("u", "p");
    ASSERT_EQ(CreateSock(1), 1);
    const uint16_t port = lport;
    const int tx = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    auto send_bytes = [&](const Bytes &b) {
        sendto(tx, b.data(), b.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    };

    // A well-formed request ack from a port that is not the server's.
    send_bytes(ack(2, {4, 4, 127, 0, 0, 1}));
    EXPECT_EQ(RecvReqAck(), 1);
    EXPECT_EQ(srv_ip, htonl(INADDR_LOOPBACK));

    // Larger than the receive buffer: cut to 530 bytes, refused by length.
    Bytes big = ack(2, Bytes(600, 0));
    send_bytes(big);
    EXPECT_EQ(RecvReqAck(), -2);

    // Nothing at all.
    EXPECT_EQ(RecvReqAck(), -1);

    // An empty datagram is no answer either.
    send_bytes(Bytes());
    EXPECT_EQ(RecvReqAck(), -1);

    std::mt19937 rng(99);
    for (int round = 0; round < 200; round++) {
        Bytes d(rng() % 600 + 1);
        for (auto &b : d)
            b = static_cast<uint8_t>(rng());
        if (d.size() >= 4 && rng() % 2) {
            d[2] = static_cast<uint8_t>((d.size() - 8) >> 8);
            d[3] = static_cast<uint8_t>(d.size() - 8);
            d[1] = 2;
        }
        send_bytes(d);
        srv_ip = 0;
        const int r = RecvReqAck();
        ASSERT_TRUE(r == 1 || (r <= -2 && r >= -7)) << r;
    }
    close(tx);
    closedhcpsocket();
    recv_wait_ms = kRecvWaitMs;
}

}  // namespace
