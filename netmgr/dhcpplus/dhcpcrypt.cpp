#include "dhcpcrypt.h"

#include <nettle/des.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dhcpplus_config.h"

namespace dhcpplus {

const Secrets kDeploymentSecrets = {DHCPPLUS_KEY_TAIL_BYTES, DHCPPLUS_DIGEST_KEY_BYTES,
                                    DHCPPLUS_PWD_SUFFIX};
Secrets secrets = kDeploymentSecrets;

uint8_t key1[2];
uint8_t first_genkey;
uint8_t pkt_key[kPktKeyLen];
time_t (*genkey_time)(time_t *) = time;

void MD5Init(MD5Context *context) { md5_init(&context->ctx); }

void MD5Update(MD5Context *context, const uint8_t *bytes, size_t count) {
    md5_update(&context->ctx, count, bytes);
}

void MD5Final(uint8_t digest[16], MD5Context *context) {
    md5_digest(&context->ctx, MD5_DIGEST_SIZE, digest);
}

void MD5String(const uint8_t *bytes, size_t count, uint8_t digest[16]) {
    MD5Context context;
    MD5Init(&context);
    MD5Update(&context, bytes, count);
    MD5Final(digest, &context);
}

void en_DES(const uint8_t key[8], uint8_t *data, unsigned len) {
    const size_t blocks = (len % 256) / DES_BLOCK_SIZE;
    if (blocks == 0)
        return;
    // des_set_key answers 0 for the weak keys but sets up the schedule all
    // the same; DES is defined for them, so they are used as they are.
    des_ctx ctx;
    des_set_key(&ctx, key);
    des_encrypt(&ctx, blocks * DES_BLOCK_SIZE, data, data);
}

// One step of the stream cipher: the byte added to plain byte i.
static inline uint8_t stream_byte(uint8_t a, uint8_t k, size_t i) {
    return static_cast<uint8_t>((5 * a) ^ k ^ (7 * i));
}

void encrypt_suboption(const uint8_t *src, size_t n, uint8_t *dst) {
    const uint8_t *k = dst;
    uint8_t *y = dst + kPktKeyLen;
    uint8_t a = 123;
    for (size_t i = 0; i < n; i++) {
        const uint8_t x = src[i];
        y[i] = static_cast<uint8_t>(x + stream_byte(a, k[i % kPktKeyLen], i));
        a = static_cast<uint8_t>(a ^ x ^ static_cast<uint8_t>(y[i] + 109));
    }
}

int decrypt_data(const uint8_t *src, int m, uint8_t *dst) {
    if (m <= static_cast<int>(kPktKeyLen))
        return 0;
    const uint8_t *k = src;
    const uint8_t *y = src + kPktKeyLen;
    const size_t n = static_cast<size_t>(m) - kPktKeyLen;
    uint8_t a = 123;
    for (size_t i = 0; i < n; i++) {
        const uint8_t x = static_cast<uint8_t>(y[i] - stream_byte(a, k[i % kPktKeyLen], i));
        dst[i] = x;
        a = static_cast<uint8_t>(a ^ x ^ static_cast<uint8_t>(y[i] + 109));
    }
    return static_cast<int>(n);
}

void encry_simple_two_128bit(uint8_t state[16], const uint8_t block[16]) {
    uint8_t w[48];
    for (int i = 0; i < 16; i++) {
        w[i] = state[i];
        w[16 + i] = block[i];
        w[32 + i] = static_cast<uint8_t>(state[i] ^ block[i]);
    }
    unsigned c = 0;
    for (int pass = 0; pass < 20; pass++) {
        for (int j = 0; j < 48; j++) {
            const unsigned b = w[j];
            const uint8_t v = static_cast<uint8_t>(((b << 2) & (b >> 2)) ^ b ^ c ^ 0x75);
            w[j] = v;
            c = (v - 123u) & 0xff;
        }
        c = (c + 59) & 0xff;
    }
    memcpy(state, w, 16);
}

void genkey_prefix(uint8_t out[kPktKeyLen], uint8_t k0, uint8_t k1, const uint8_t *data,
                   size_t n, const uint8_t key_tail[kKeyTailLen]) {
    uint8_t state[16];
    state[0] = k0;
    state[1] = k1;
    memcpy(state + 2, key_tail, kKeyTailLen);
    size_t pos = 0;
    for (; pos + 16 <= n; pos += 16)
        encry_simple_two_128bit(state, data + pos);
    const size_t r = n % 16;
    if (r != 0) {
        // Last partial block, filled up with 16 - r bytes of value 16 - r.
        uint8_t last[16];
        memset(last, static_cast<int>(16 - r), sizeof last);
        memcpy(last, data + pos, r);
        encry_simple_two_128bit(state, last);
    }
    out[0] = k0;
    out[1] = k1;
    for (int i = 0; i < 8; i++)
        out[2 + i] = static_cast<uint8_t>(state[i] ^ state[i + 8]);
}

void genkey(uint8_t out[kPktKeyLen], const uint8_t *data, size_t n) {
    srand(static_cast<unsigned>(genkey_time(nullptr)));
    if (first_genkey == 1) {
        key1[0] = static_cast<uint8_t>(rand() & 0xff);
        key1[1] = static_cast<uint8_t>(rand() & 0xff);
        first_genkey = 0;
    }
    genkey_prefix(out, key1[0], key1[1], data, n, secrets.key_tail);
}

size_t build_datagram(const uint8_t *plain, size_t n, const uint8_t key[kPktKeyLen],
                      uint8_t *out) {
    if (n > kMaxPayload)
        return 0;
    memset(out, 0, kDatagramSize);
    memcpy(out, plain, kHeaderLen);
    memcpy(out + kHeaderLen, key, kPktKeyLen);
    encrypt_suboption(plain + kHeaderLen, n, out + kHeaderLen);
    const size_t length = n + kPktKeyLen;
    out[2] = static_cast<uint8_t>(length >> 8);
    out[3] = static_cast<uint8_t>(length);
    return n + kHeaderLen + kPktKeyLen;
}

size_t seal_packet(uint8_t *plain, size_t p, uint8_t k0, uint8_t k1, const Secrets &sec,
                   uint8_t *out) {
    if (p + kDigestOptLen > kMaxPayload)
        return 0;
    uint8_t *payload = plain + kHeaderLen;
    const size_t n = p + kDigestOptLen;
    payload[p] = 24;
    payload[p + 1] = 16;
    memcpy(payload + p + 2, sec.digest_key, kDigestKeyLen);
    const uint16_t host_len = static_cast<uint16_t>(n);
    memcpy(plain + 2, &host_len, 2);
    uint8_t key[kPktKeyLen];
    genkey_prefix(key, k0, k1, payload, n, sec.key_tail);
    const size_t size = build_datagram(plain, n, key, out);
    uint8_t digest[16];
    MD5String(out, size, digest);
    memcpy(payload + p + 2, digest, 16);
    genkey_prefix(key, k0, k1, payload, n, sec.key_tail);
    return build_datagram(plain, n, key, out);
}

void pwd_des_key(uint32_t ip_nbo, uint16_t port, const char *suffix, uint8_t key[8],
                 char text[32]) {
    uint8_t ip[4];
    memcpy(ip, &ip_nbo, 4);
    char buf[32];
    const int len = snprintf(buf, sizeof buf, "%u.%u.%u.%u:%u:%.4s", ip[0], ip[1], ip[2], ip[3],
                             static_cast<unsigned>(port), suffix);
    uint8_t digest[16];
    MD5String(reinterpret_cast<const uint8_t *>(buf), static_cast<size_t>(len), digest);
    memcpy(key, digest, 8);
    if (text != nullptr)
        memcpy(text, buf, sizeof buf);
}

int encrypt_pwd_with(char *buf, size_t bufsize, uint32_t ip_nbo, uint16_t port,
                     const char *suffix) {
    uint8_t key[8];
    pwd_des_key(ip_nbo, port, suffix, key, nullptr);
    uint8_t work[40] = {};
    size_t c = strnlen(buf, bufsize);
    if (c > 32)
        c = 32;
    memcpy(work, buf, c);
    while (c % 8 != 0)
        work[c++] = '0';
    en_DES(key, work, static_cast<unsigned>(c));
    if (c > bufsize)   // a buffer too small for the padded cipher gets none
        return 0;
    memcpy(buf, work, c);
    return static_cast<int>(c);
}

}  // namespace dhcpplus
