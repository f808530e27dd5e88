// Ciphers of the DHCP+ login. Expected bytes come from RFC 1321, the DES
// validation vectors of FIPS 81 / NIST SP 800-17, or were worked out by hand
// from the algorithm with an independent script (not with this code).
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "dhcpauth.h"
#include "dhcpcrypt.h"
#include "dhcpplus_config.h"
#include "test_secrets.h"

using namespace dhcpplus;
using dhcpplus_testing::counting;
using dhcpplus_testing::from_hex;
using dhcpplus_testing::LoginTest;
using dhcpplus_testing::test_secrets;
using Bytes = std::vector<uint8_t>;

namespace {

std::string hex(const uint8_t *p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; i++) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

class SecretsGuard : public LoginTest {
protected:
    void SetUp() override {
        saved_ = secrets;
        secrets = test_secrets();
    }
    void TearDown() override {
        secrets = saved_;
        genkey_time = time;
    }
    Secrets saved_;
};

// --- MD5 and DES through the wrappers ---

TEST(Md5, Rfc1321TestSuite) {
    struct Case {
        const char *input;
        const char *digest;
    };
    const Case cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"1234567890123456789012345678901234567890123456789012345678901234567890123456"
         "7890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.input);
        uint8_t digest[16];
        MD5String(reinterpret_cast<const uint8_t *>(c.input), strlen(c.input), digest);
        EXPECT_EQ(hex(digest, 16), c.digest);

        // The same through Init/Update/Final, fed in two pieces.
        MD5Context ctx;
        MD5Init(&ctx);
        const size_t half = strlen(c.input) / 2;
        MD5Update(&ctx, reinterpret_cast<const uint8_t *>(c.input), half);
        MD5Update(&ctx, reinterpret_cast<const uint8_t *>(c.input) + half,
                  strlen(c.input) - half);
        MD5Final(digest, &ctx);
        EXPECT_EQ(hex(digest, 16), c.digest);
    }
}

TEST(Des, FipsVectors) {
    struct Case {
        const char *key, *plain, *cipher;
    };
    const Case cases[] = {
        {"0123456789abcdef", "4e6f772069732074", "3fa40e8a984d4815"},   // FIPS 81 "Now is t"
        {"133457799bbcdff1", "0123456789abcdef", "85e813540f0ab405"},
        {"0101010101010101", "8000000000000000", "95f8a5e5dd31d900"},   // weak key, SP 800-17
        {"0000000000000000", "8000000000000000", "95f8a5e5dd31d900"},   // parity bits ignored
        {"10316e028c8f3b4a", "0000000000000000", "82dcbafbdeab6602"},   // SP 800-17 key test
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.key);
        Bytes key = from_hex(c.key), data = from_hex(c.plain);
        en_DES(key.data(), data.data(), 8);
        EXPECT_EQ(hex(data.data(), 8), c.cipher);
    }
}

TEST(Des, OnlyWholeBlocksOfLenModulo256) {
    const Bytes key = from_hex("0123456789abcdef");
    struct Case {
        unsigned len;
        const char *after;   // the 12 bytes of "Now is tNow " after en_DES
    };
    const Case cases[] = {
        {12, "3fa40e8a984d48154e6f7720"},    // one block, 4 bytes left alone
        {7, "4e6f7720697320744e6f7720"},     // no whole block
        {264, "3fa40e8a984d48154e6f7720"},   // 264 mod 256 = 8
        {256, "4e6f7720697320744e6f7720"},   // 256 mod 256 = 0
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.len);
        Bytes data(300, 0);
        memcpy(data.data(), "Now is tNow ", 12);
        en_DES(key.data(), data.data(), c.len);
        EXPECT_EQ(hex(data.data(), 12), c.after);
    }
}

// --- payload stream cipher ---

TEST(StreamCipher, KnownVector) {
    const Bytes key = counting(11);   // 0x00..0x0a; the key is bytes 1..10
    const Bytes plain = counting(20);
    uint8_t out[30] = {};
    memcpy(out, key.data() + 1, 10);
    encrypt_suboption(plain.data(), plain.size(), out);
    EXPECT_EQ(hex(out, 10), "0102030405060708090a");
    EXPECT_EQ(hex(out + 10, 20), "664e59427f04598e7b20fb0e17f8295a0b4c4dde");
}

TEST(StreamCipher, DecipherGivesThePayloadBack) {
    std::mt19937 rng(20240611);
    const size_t lengths[] = {0, 1, 9, 10, 11, 17, 100, 255, 494, 512};
    for (size_t n : lengths) {
        for (int round = 0; round < 8; round++) {
            SCOPED_TRACE(n);
            Bytes plain(n), dgram(10 + n), back(n + 1, 0xee);
            for (auto &b : plain)
                b = static_cast<uint8_t>(rng());
            for (size_t i = 0; i < 10; i++)
                dgram[i] = static_cast<uint8_t>(rng());
            encrypt_suboption(plain.data(), n, dgram.data());
            EXPECT_EQ(decrypt_data(dgram.data(), static_cast<int>(10 + n), back.data()),
                      static_cast<int>(n));
            EXPECT_EQ(Bytes(back.begin(), back.begin() + n), plain);
            EXPECT_EQ(back[n], 0xee);   // nothing written past the payload
        }
    }
}

TEST(StreamCipher, DecryptOfTenOrLessWritesNothing) {
    const int sizes[] = {10, 9, 0, -5};
    for (int m : sizes) {
        SCOPED_TRACE(m);
        uint8_t src[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
        uint8_t dst[4] = {0xee, 0xee, 0xee, 0xee};
        EXPECT_EQ(decrypt_data(src, m, dst), 0);
        EXPECT_EQ(hex(dst, 4), "eeeeeeee");
    }
}

// --- packet key ---

TEST(Mixing, KnownVector) {
    Bytes state = counting(16);
    Bytes block(16);
    for (int i = 0; i < 16; i++)
        block[i] = static_cast<uint8_t>(0xf0 + i);
    encry_simple_two_128bit(state.data(), block.data());
    EXPECT_EQ(hex(state.data(), 16), "44ba1af32477b4b80c1ea6376045b398");
    EXPECT_EQ(hex(block.data(), 16), "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");   // unchanged
}

TEST(PacketKey, KnownVectors) {
    const Secrets sec = test_secrets();
    struct Case {
        size_t n;
        const char *key;
    };
    const Case cases[] = {
        {32, "12347a27c4210e67f8a5"},   // two blocks, no filler
        {33, "1234f23b90d528627320"},   // three blocks, the last one byte and 15 x 0x0f
        {5, "12345cc0dc4c94f20b90"},    // one block: 5 bytes and 11 x 0x0b
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.n);
        const Bytes data = counting(c.n);
        uint8_t key[10];
        genkey_prefix(key, 0x12, 0x34, data.data(), c.n, sec.key_tail);
        EXPECT_EQ(hex(key, 10), c.key);
    }
}

TEST(PacketKey, FillerBlockOnlyForAPartialLastBlock) {
    const Secrets sec = test_secrets();
    uint8_t a[10], b[10];
    // 33 bytes: the filler block is the last byte and fifteen bytes of 15,
    // exactly what 48 bytes ending so give.
    Bytes d33 = counting(33), d48 = counting(33);
    d48.insert(d48.end(), 15, 15);
    genkey_prefix(a, 7, 9, d33.data(), 33, sec.key_tail);
    genkey_prefix(b, 7, 9, d48.data(), 48, sec.key_tail);
    EXPECT_EQ(hex(a, 10), hex(b, 10));
    // 32 bytes: no block of sixteen 16s is mixed after the two data blocks.
    Bytes d32 = counting(32), d32f = counting(32);
    d32f.insert(d32f.end(), 16, 16);
    genkey_prefix(a, 7, 9, d32.data(), 32, sec.key_tail);
    genkey_prefix(b, 7, 9, d32f.data(), 48, sec.key_tail);
    EXPECT_NE(hex(a, 10), hex(b, 10));
}

time_t fixed_time(time_t *t) {
    if (t)
        *t = 1700000000;
    return 1700000000;
}

TEST_F(SecretsGuard, SameSecondGivesSamePrefixBytes) {
    genkey_time = fixed_time;
    const Bytes data = counting(20);
    uint8_t k1[10], k2[10];
    first_genkey = 1;
    genkey(k1, data.data(), data.size());
    first_genkey = 1;
    genkey(k2, data.data(), data.size());
    EXPECT_EQ(hex(k1, 10), hex(k2, 10));
}

TEST_F(SecretsGuard, GenkeyKeepsPrefixUntilAskedForNewOne) {
    key1[0] = 0x12;
    key1[1] = 0x34;
    first_genkey = 0;
    const Bytes data = counting(32);
    uint8_t key[10];
    genkey(key, data.data(), data.size());
    EXPECT_EQ(hex(key, 10), "12347a27c4210e67f8a5");
}

// --- digest option and sealing ---

// A request packet: options 1 and 2 with 0.0.0.0, option 18 with 10.250.0.2.
Bytes request_plain() {
    Bytes plain(kPlainPktSize, 0);
    const uint8_t head[8 + 18] = {5, 1, 0, 0, 1, 0, 2, 15, 1, 4, 0, 0, 0, 0,
                                  2, 4, 0, 0, 0, 0, 18, 4, 10, 250, 0, 2};
    memcpy(plain.data(), head, sizeof head);
    return plain;
}

TEST(Seal, KnownDatagram) {
    Bytes plain = request_plain();
    uint8_t out[kDatagramSize];
    ASSERT_EQ(seal_packet(plain.data(), 18, 0x12, 0x34, test_secrets(), out), 54u);
    EXPECT_EQ(hex(out, 54),
              "0501002e0100020f"                           // header, length 46
              "12341903e8b0078adb01"                       // packet key
              "76d23d3edb0431a9875e833e8f523d3a4f0b4b42"   // ciphered payload
              "4679d15367e1c42258f614ef9de94f12");
    // The plaintext keeps the digest of the datagram built with digest_key.
    EXPECT_EQ(hex(plain.data() + 8 + 18, 18), "1810ab9f6e01723557ddf1e06961020b6222");
}

TEST(Seal, RefusesPayloadBeyondBuffer) {
    Bytes plain(kPlainPktSize, 0);
    uint8_t out[kDatagramSize];
    EXPECT_EQ(seal_packet(plain.data(), 495, 1, 2, test_secrets(), out), 0u);
    EXPECT_EQ(seal_packet(plain.data(), 494, 1, 2, test_secrets(), out), 530u);
}

TEST_F(SecretsGuard, DigestAndSealingStepsShareThePrefix) {
    genkey_time = fixed_time;
    InitVar("user", "pwd");
    pkt_seq = 2;   // as request_plain
    InitSendPkt(uncrypt_send, kCodeRequest);
    const Bytes plain = request_plain();
    memcpy(uncrypt_send + 8, plain.data() + 8, 18);
    MakeMd5Digest(18);
    uint8_t digest_key_step[10];
    memcpy(digest_key_step, pkt_key, 10);
    EncryptSendPkt();
    EXPECT_EQ(hex(send_pkt + 8, 2), hex(digest_key_step, 2));
    EXPECT_EQ(hex(pkt_key, 10), hex(send_pkt + 8, 10));
    // Same datagram as sealing with those prefix bytes (KnownDatagram checks
    // sealing against literal bytes).
    Bytes again = request_plain();
    uint8_t expect[kDatagramSize];
    ASSERT_EQ(seal_packet(again.data(), 18, send_pkt[8], send_pkt[9], test_secrets(), expect),
              54u);
    EXPECT_EQ(hex(send_pkt, 54), hex(expect, 54));
    EXPECT_EQ(hex(send_pkt + 54, kDatagramSize - 54), std::string(2 * (kDatagramSize - 54), '0'));
}

// --- packet builders ---

// Deciphers the datagram in send_pkt into its payload.
Bytes sent_payload(const uint8_t *send_pkt) {
    const size_t length = send_pkt[2] << 8 | send_pkt[3];
    Bytes payload(length - 10);
    decrypt_data(send_pkt + 8, static_cast<int>(length), payload.data());
    return payload;
}

TEST_F(SecretsGuard, PacketLayouts) {
    // name "alice" (L = 5), password "secret12" (c = 8), local port 1156.
    struct Case {
        const char *what;
        std::function<void()> build;
        uint8_t code;
        size_t size;
        std::string options;   // plain payload without option 24
    };
    const uint8_t opt18[4] = DHCPPLUS_OPT18_BYTES;   // the build's deployment address
    const Case cases[] = {
        {"hangup", [this] { MakeHangupPkt(auth_name); }, 9, 44 + 5, "010400000000" "0805616c696365"},
        {"request", [this] { MakeRequstPkt(); }, 1, 54,
         "010400000000" "020400000000"
         "1204" + hex(opt18, 4)},
        {"user", [this] { MakeAuthUserPkt(auth_name); }, 3, 50 + 5,
         "010400000000" "020400000000" "0805616c696365"},
        {"password", [this] { MakeAuthPwdPkt(auth_name, auth_pwd); }, 3, 54 + 5 + 8,
         "010400000000" "020400000000" "0805616c696365" "090a0801" "1f404c458177ed52"},
        {"secondary", [this] { MakeSecAuthPkt(auth_name); }, 5, 50 + 5,
         "010400000000" "020400000000" "0805616c696365"},
    };
    InitVar("alice", "secret12");
    lport = 1156;
    uint8_t seq = 1;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        c.build();
        const size_t length = send_pkt[2] << 8 | send_pkt[3];
        EXPECT_EQ(length + 8, c.size);
        EXPECT_EQ(hex(send_pkt, 8), hex(std::vector<uint8_t>{5, c.code, send_pkt[2], send_pkt[3],
                                                             1, 0, seq, 15}.data(), 8));
        seq++;
        const Bytes payload = sent_payload(send_pkt);
        const std::string &options = c.options;
        ASSERT_EQ(payload.size(), options.size() / 2 + 18);
        EXPECT_EQ(hex(payload.data(), payload.size() - 18), options);
        EXPECT_EQ(hex(payload.data() + payload.size() - 18, 2), "1810");
    }
    EXPECT_EQ(pkt_seq, 6);
}

TEST_F(SecretsGuard, EmptyPasswordOption) {
    InitVar("bob", "");
    lport = 1155;
    MakeAuthPwdPkt(auth_name, auth_pwd);
    const Bytes payload = sent_payload(send_pkt);
    ASSERT_EQ(payload.size(), 36u + 3);
    EXPECT_EQ(hex(payload.data() + 17, 4), "09020001");
    EXPECT_EQ(hex(payload.data() + 21, 2), "1810");
}

using Sequence = LoginTest;
TEST_F(Sequence, WrapsAt256) {
    InitVar("x", "y");
    pkt_seq = 255;
    uint8_t buf[kPlainPktSize];
    InitSendPkt(buf, kCodeRequest);
    EXPECT_EQ(buf[6], 255);
    InitSendPkt(buf, kCodeRequest);
    EXPECT_EQ(buf[6], 0);
}

// --- password cipher ---

TEST(PasswordKey, KeyText) {
    struct Case {
        uint32_t ip_host;
        uint16_t port;
        const char *text;
        const char *key;   // first 8 bytes of MD5 of the text
    };
    const Case cases[] = {
        {0, 1156, "0.0.0.0:1156:abcd", "117d773ff6abcfc8"},
        {0xffffffff, 65535, "255.255.255.255:65535:abcd", nullptr},
        {0xc0a80102, 1153, "192.168.1.2:1153:abcd", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        uint8_t key[8];
        char text[32];
        pwd_des_key(htonl(c.ip_host), c.port, "abcd", key, text);
        EXPECT_STREQ(text, c.text);
        if (c.key) {
            EXPECT_EQ(hex(key, 8), c.key);
        }
    }
}

TEST(PasswordCipher, LengthsAndBytes) {
    struct Case {
        const char *pwd;
        int c;
        const char *cipher;
    };
    const Case cases[] = {
        {"", 0, ""},
        {"secret12", 8, "1f404c458177ed52"},
        {"abcdefghijklmnopqrstuvwxyz01234", 32,   // 31 characters and one '0'
         "c131909e89d6f69389b176eb74001c43ebec0ece595494af3e054deb6e97a891"},
        {"0123456789abcdefghijklmnopqrstuvwxyzABCD", 32,   // 40 characters cut to 32
         "8507a318df3215789be4a0e26fb16f03916558306a35f6b3415340ceb09df9a1"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pwd);
        char buf[48] = {};
        strncpy(buf, c.pwd, sizeof buf - 1);
        EXPECT_EQ(encrypt_pwd_with(buf, sizeof buf, 0, 1156, "abcd"), c.c);
        EXPECT_EQ(hex(reinterpret_cast<uint8_t *>(buf), static_cast<size_t>(c.c)), c.cipher);
    }
}

// --- result texts ---

TEST(ErrorText, EveryCode) {
    struct Case {
        int code;
        const char *text;
    };
    const Case cases[] = {
        {-1, "can not recv ack"},
        {-2, "recv data len error"},
        {-3, "recv data cmd error"},
        {-4, "recv data option of server-ip error"},
        {-5, "recv data no option of server-ip"},
        {-6, "recv data option of auth-ack error"},
        {-7, "recv data no option of auth-ack"},
        {-8, "unkonwn error"},
        {0, "unkonwn error"},
        {1, "unkonwn error"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.code);
        char out[64];
        memset(out, 'x', sizeof out);
        getdhcperrormsg(c.code, out, sizeof out);
        EXPECT_STREQ(out, c.text);
    }
}

TEST(ErrorText, CutToTheBuffer) {
    char out[8];
    getdhcperrormsg(-4, out, sizeof out);
    EXPECT_STREQ(out, "recv da");
}

}  // namespace
