// Ciphers of the DHCP+ login: the payload stream cipher, the packet key, the
// digest option, the password cipher, and thin MD5/DES wrappers over Nettle.
#pragma once

#include <nettle/md5.h>

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace dhcpplus {

constexpr size_t kHeaderLen = 8;        // lead, code, length (2), 1, 0, seq, 15
constexpr size_t kPktKeyLen = 10;       // 2 prefix bytes + 8 folded bytes
constexpr size_t kKeyTailLen = 14;
constexpr size_t kDigestKeyLen = 16;
constexpr size_t kPwdSuffixLen = 4;
constexpr size_t kDigestOptLen = 18;    // code 24, length 16, 16 digest bytes
constexpr size_t kPlainPktSize = 520;   // header + at most 512 payload bytes
constexpr size_t kDatagramSize = 530;   // header + packet key + 512 payload bytes
constexpr size_t kMaxPayload = kPlainPktSize - kHeaderLen;

// Values shared with the ISP's server. `secrets` starts with the deployment
// values of the build; tests put their own in.
struct Secrets {
    uint8_t key_tail[kKeyTailLen];
    uint8_t digest_key[kDigestKeyLen];
    char pwd_suffix[kPwdSuffixLen + 1];
};
extern const Secrets kDeploymentSecrets;
extern Secrets secrets;

// MD5 (RFC 1321) through Nettle.
struct MD5Context {
    md5_ctx ctx;
};
void MD5Init(MD5Context *context);
void MD5Update(MD5Context *context, const uint8_t *bytes, size_t count);
void MD5Final(uint8_t digest[16], MD5Context *context);
void MD5String(const uint8_t *bytes, size_t count, uint8_t digest[16]);

// DES (FIPS 46), ECB, encrypting the whole 8-byte blocks of data in place;
// len is taken modulo 256.
void en_DES(const uint8_t key[8], uint8_t *data, unsigned len);

// Payload stream cipher. encrypt_suboption reads the packet key from dst[0..9]
// and writes the n ciphered bytes to dst[10..]. decrypt_data reads the key from
// src[0..9] and the m - 10 ciphered bytes after it; returns m - 10, or 0 when
// m is 10 or less (then nothing is written).
void encrypt_suboption(const uint8_t *src, size_t n, uint8_t *dst);
int decrypt_data(const uint8_t *src, int m, uint8_t *dst);

// Mixes a 16-byte block into the 16-byte key state.
void encry_simple_two_128bit(uint8_t state[16], const uint8_t block[16]);

// Packet key for the n payload bytes at data, with the given prefix bytes.
void genkey_prefix(uint8_t out[kPktKeyLen], uint8_t k0, uint8_t k1, const uint8_t *data,
                   size_t n, const uint8_t key_tail[kKeyTailLen]);

// Packet key with the prefix bytes of the module: new ones are drawn from
// rand() (seeded with the time in seconds) when first_genkey is 1.
extern uint8_t key1[2];
extern uint8_t first_genkey;
extern uint8_t pkt_key[kPktKeyLen];
extern time_t (*genkey_time)(time_t *);   // time source of the seed
void genkey(uint8_t out[kPktKeyLen], const uint8_t *data, size_t n);

// Writes the datagram for the plaintext packet `plain` (8-byte header and n
// payload bytes) under `key` into out (kDatagramSize bytes, cleared first):
// header, key, ciphered payload, length field n + 10 big-endian. Returns the
// datagram size n + 18, or 0 when n exceeds kMaxPayload.
size_t build_datagram(const uint8_t *plain, size_t n, const uint8_t key[kPktKeyLen], uint8_t *out);

// Appends option 24 at payload offset p of `plain` (header + payload,
// kPlainPktSize bytes), fills in its digest and writes the sealed datagram
// into out with prefix bytes k0, k1. Returns the datagram size, or 0 when
// p + 18 exceeds kMaxPayload. This is what MakeMd5Digest and EncryptSendPkt
// do together, for a caller that chooses the prefix bytes.
size_t seal_packet(uint8_t *plain, size_t p, uint8_t k0, uint8_t k1, const Secrets &sec,
                   uint8_t *out);

// DES key of the password: first 8 bytes of MD5("a.b.c.d:port:suffix").
// Writes the key text (at most 26 characters) to text when it is not null.
void pwd_des_key(uint32_t ip_nbo, uint16_t port, const char *suffix, uint8_t key[8],
                 char text[32]);

// Replaces the NUL-terminated password in buf (bufsize bytes) by its DES
// ciphertext under the key of address ip_nbo and port; returns the number of
// cipher bytes, 0 to 32, a multiple of 8.
int encrypt_pwd_with(char *buf, size_t bufsize, uint32_t ip_nbo, uint16_t port,
                     const char *suffix);

}  // namespace dhcpplus
