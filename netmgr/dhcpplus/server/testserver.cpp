#include "testserver.h"

#include <arpa/inet.h>
#include <errno.h>
#include <nettle/des.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "dhcpauth.h"

namespace dhcpplus_server {

using namespace dhcpplus;

namespace {

struct Name {
    const char *text;
    int value;
};

const Name kStepNames[] = {
    {"hangup", kStepHangup}, {"request", kStepRequest}, {"user", kStepUser},
    {"password", kStepPassword}};

const Name kFaultNames[] = {
    {"none", static_cast<int>(Fault::None)},
    {"silent", static_cast<int>(Fault::Silent)},
    {"wrong-code", static_cast<int>(Fault::WrongCode)},
    {"long", static_cast<int>(Fault::Long)},
    {"short", static_cast<int>(Fault::Short)},
    {"opt4-len6", static_cast<int>(Fault::Opt4Len6)},
    {"opt4-zero", static_cast<int>(Fault::Opt4Zero)},
    {"opt4-two", static_cast<int>(Fault::Opt4Two)},
    {"opt10-one", static_cast<int>(Fault::Opt10One)},
    {"no-opt10", static_cast<int>(Fault::NoOpt10)},
};

template <size_t N>
bool lookup(const Name (&names)[N], const char *text, int *out) {
    for (const Name &n : names) {
        if (strcmp(n.text, text) == 0) {
            *out = n.value;
            return true;
        }
    }
    return false;
}

template <size_t N>
const char *name_of(const Name (&names)[N], int value) {
    for (const Name &n : names)
        if (n.value == value)
            return n.text;
    return "unknown";
}

uint16_t be16(const uint8_t *p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

// Options each step must carry, in order.
struct Expected {
    uint8_t codes[5];
    size_t count;
};
const Expected kExpected[kStepCount] = {
    {{kOptClientIp, kOptName, kOptDigest}, 3},
    {{kOptClientIp, kOptOpt2, kOptFixedIp, kOptDigest}, 4},
    {{kOptClientIp, kOptOpt2, kOptName, kOptDigest}, 4},
    {{kOptClientIp, kOptOpt2, kOptName, kOptPassword, kOptDigest}, 5},
};

}  // namespace

const char *step_name(Step step) { return name_of(kStepNames, step); }
const char *fault_name(Fault fault) { return name_of(kFaultNames, static_cast<int>(fault)); }

bool parse_fault(const char *name, Fault *out) {
    int v;
    if (!lookup(kFaultNames, name, &v))
        return false;
    *out = static_cast<Fault>(v);
    return true;
}

bool parse_step(const char *name, Step *out) {
    int v;
    if (!lookup(kStepNames, name, &v))
        return false;
    *out = static_cast<Step>(v);
    return true;
}

Server::~Server() { close(); }

bool Server::open(const Config &config) {
    close();
    config_ = config;
    if (config_.announce_ip == 0)
        config_.announce_ip = config_.listen_ip;
    for (int &u : used_)
        u = 0;
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd_ < 0)
        return false;
    int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = config_.listen_ip;
    addr.sin_port = htons(config_.port);
    socklen_t len = sizeof addr;
    if (bind(fd_, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        const int saved = errno;
        close();
        errno = saved;
        return false;
    }
    port_ = ntohs(addr.sin_port);
    return true;
}

void Server::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

int Server::poll_once(int timeout_ms) {
    pollfd pfd = {fd_, POLLIN, 0};
    const int r = poll(&pfd, 1, timeout_ms);
    if (r < 0)
        return errno == EINTR ? 0 : -1;
    if (r == 0)
        return 0;
    uint8_t pkt[kDatagramSize + 16];
    sockaddr_in from = {};
    socklen_t fromlen = sizeof from;
    const ssize_t n = recvfrom(fd_, pkt, sizeof pkt, MSG_DONTWAIT,
                               reinterpret_cast<sockaddr *>(&from), &fromlen);
    if (n < 0)
        return errno == EAGAIN || errno == EINTR ? 0 : -1;
    handle(pkt, static_cast<size_t>(n), from.sin_addr.s_addr, ntohs(from.sin_port));
    return 1;
}

void Server::run(const std::atomic<bool> *stop) {
    while (!stop->load())
        if (poll_once(20) < 0)
            return;
}

bool Server::check_password(const uint8_t *value, size_t len, uint32_t client_ip,
                            uint16_t src_port, Record *rec) const {
    if (len < 2)
        return false;
    const size_t c = len - 2;
    rec->pwd_len = value[0];
    rec->pwd_cipher_len = static_cast<uint8_t>(c);
    const size_t want_len = strnlen(config_.password, sizeof config_.password);
    const size_t used = want_len < 32 ? want_len : 32;
    const size_t want_c = (used + 7) / 8 * 8;
    if (value[1] != 1 || value[0] != want_len || c != want_c)
        return false;
    uint8_t key[8];
    pwd_des_key(client_ip, src_port, config_.secrets.pwd_suffix, key, nullptr);
    des_ctx ctx;
    des_set_key(&ctx, key);
    uint8_t plain[32];
    if (c > 0)
        des_decrypt(&ctx, c, plain, value + 2);
    if (memcmp(plain, config_.password, used) != 0)
        return false;
    for (size_t i = used; i < c; i++)
        if (plain[i] != '0')
            return false;
    return true;
}

void Server::handle(const uint8_t *pkt, size_t n, uint32_t src_ip, uint16_t src_port) {
    Record rec;
    rec.src_ip = src_ip;
    rec.src_port = src_port;
    rec.size = n;
    if (n >= 2)
        rec.code = pkt[1];
    if (n >= 7)
        rec.seq = pkt[6];
    const unsigned length = n >= 4 ? be16(pkt + 2) : 0;
    rec.size_ok = n >= kHeaderLen + kPktKeyLen && n == length + kHeaderLen &&
                  length <= kMaxLength && length >= kPktKeyLen;

    // Plaintext packet: the received header and the deciphered payload.
    uint8_t plain[kPlainPktSize] = {};
    size_t npl = 0;
    if (rec.size_ok) {
        memcpy(plain, pkt, kHeaderLen);
        npl = static_cast<size_t>(decrypt_data(pkt + kHeaderLen, static_cast<int>(length),
                                               plain + kHeaderLen));
    }
    const uint8_t *payload = plain + kHeaderLen;

    // Options, bounded by the payload.
    uint8_t codes[16];
    size_t ncodes = 0;
    bool bounded = rec.size_ok;
    const uint8_t *name = nullptr, *opt9 = nullptr;
    size_t name_len = 0, opt9_len = 0, last_pos = 0;
    for (size_t pos = 0; bounded && pos < npl;) {
        if (pos + 2 > npl || pos + 2 + payload[pos + 1] > npl || ncodes == sizeof codes) {
            bounded = false;
            break;
        }
        const uint8_t code = payload[pos], len = payload[pos + 1];
        const uint8_t *value = payload + pos + 2;
        codes[ncodes++] = code;
        last_pos = pos;
        if (code == kOptClientIp && len == 4)
            memcpy(&rec.client_ip, value, 4);
        if (code == kOptName) {
            name = value;
            name_len = len;
        }
        if (code == kOptPassword) {
            opt9 = value;
            opt9_len = len;
        }
        pos += 2 + len;
    }

    switch (rec.code) {
    case kCodeHangup: rec.step = kStepHangup; break;
    case kCodeRequest: rec.step = kStepRequest; break;
    case kCodeAuth: rec.step = opt9 != nullptr ? kStepPassword : kStepUser; break;
    default: break;
    }

    if (bounded && rec.step != kStepUnknown) {
        const Expected &e = kExpected[rec.step];
        // Option 24 last, 16 bytes long, ending the payload.
        rec.options_ok = ncodes == e.count && memcmp(codes, e.codes, e.count) == 0 &&
                         payload[last_pos + 1] == 16 && last_pos + kDigestOptLen == npl;
    }
    if (rec.options_ok) {
        uint8_t key[kPktKeyLen];
        genkey_prefix(key, pkt[8], pkt[9], payload, npl, config_.secrets.key_tail);
        rec.key_ok = memcmp(key, pkt + kHeaderLen, kPktKeyLen) == 0;

        // The digest covers the datagram built with digest_key in option 24.
        uint8_t digest[16], with_key[kPlainPktSize];
        memcpy(with_key, plain, sizeof with_key);
        memcpy(with_key + kHeaderLen + npl - 16, config_.secrets.digest_key, kDigestKeyLen);
        genkey_prefix(key, pkt[8], pkt[9], with_key + kHeaderLen, npl, config_.secrets.key_tail);
        uint8_t dgram[kDatagramSize];
        const size_t size = build_datagram(with_key, npl, key, dgram);
        MD5String(dgram, size, digest);
        rec.digest_ok = memcmp(digest, payload + npl - 16, 16) == 0;
    }
    if (name != nullptr) {
        const size_t want = strnlen(config_.user, sizeof config_.user);
        rec.user_ok = name_len == want && memcmp(name, config_.user, want) == 0;
    }
    if (opt9 != nullptr)
        rec.password_ok = check_password(opt9, opt9_len, rec.client_ip, src_port, &rec);

    if (rec.size_ok && rec.options_ok && rec.key_ok && rec.digest_ok) {
        StepFault &f = config_.faults[rec.step];
        if (f.fault != Fault::None && (f.times < 0 || used_[rec.step] < f.times)) {
            used_[rec.step]++;
            rec.fault = f.fault;
        }
        if (rec.fault != Fault::Silent) {
            answer(rec.step, rec, src_ip, src_port);
            rec.answered = true;
        }
    }
    if (count_ < kMaxRecords)
        records_[count_++] = rec;
}

void Server::answer(Step step, const Record &rec, uint32_t dst_ip, uint16_t dst_port) {
    static const uint8_t kAckCode[kStepCount] = {kCodeHangupAck, kCodeRequestAck, kCodeAuthAck,
                                                 kCodeAuthAck};
    uint8_t plain[kPlainPktSize] = {};
    plain[0] = 5;
    plain[1] = rec.fault == Fault::WrongCode ? uint8_t{kCodeAuth} : kAckCode[step];
    plain[4] = 1;
    plain[6] = rec.seq;
    plain[7] = 15;
    uint8_t *payload = plain + kHeaderLen;
    size_t p = 0;
    if (step == kStepRequest) {
        payload[p++] = kOptServerIp;
        uint32_t first = rec.fault == Fault::Opt4Zero ? 0 : config_.announce_ip;
        uint8_t len = rec.fault == Fault::Opt4Len6 ? 6 : rec.fault == Fault::Opt4Two ? 8 : 4;
        payload[p++] = len;
        memcpy(payload + p, &first, 4);
        if (rec.fault == Fault::Opt4Two)
            memcpy(payload + p + 4, &config_.second_ip, 4);
        p += len;
    } else if (step == kStepUser || step == kStepPassword) {
        if (rec.fault != Fault::NoOpt10) {
            uint8_t result = 0;   // refused
            if (step == kStepUser && rec.user_ok)
                result = rec.fault == Fault::Opt10One ? 1 : kUserAccepted;
            if (step == kStepPassword && rec.user_ok && rec.password_ok)
                result = kPasswordAccepted;
            payload[p++] = kOptAuthResult;
            payload[p++] = 1;
            payload[p++] = result;
        }
    }
    uint8_t dgram[kDatagramSize];
    prefix_ = static_cast<uint8_t>(prefix_ + 37);
    size_t size = seal_packet(plain, p, prefix_, static_cast<uint8_t>(prefix_ ^ 0xa5),
                              config_.secrets, dgram);
    if (rec.fault == Fault::Long)
        size++;
    if (rec.fault == Fault::Short)
        size--;
    if (config_.delay_ms > 0)
        usleep(static_cast<useconds_t>(config_.delay_ms) * 1000);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = dst_ip;
    to.sin_port = htons(dst_port);
    sendto(fd_, dgram, size, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
}

void Server::describe(const Record &r, char *out, size_t size) {
    char src[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &r.src_ip, src, sizeof src);
    const char *verdict = r.step == kStepPassword ? (r.password_ok ? "pwd=ok" : "pwd=bad")
                          : r.step == kStepUser   ? (r.user_ok ? "user=ok" : "user=bad")
                                                  : "-";
    snprintf(out, size, "step=%s code=%u seq=%u from=%s:%u size=%zu len=%s opts=%s key=%s "
             "digest=%s %s fault=%s answer=%s",
             step_name(r.step), r.code, r.seq, src, r.src_port, r.size, r.size_ok ? "ok" : "bad",
             r.options_ok ? "ok" : "bad", r.key_ok ? "ok" : "bad", r.digest_ok ? "ok" : "bad",
             verdict, fault_name(r.fault), r.answered ? "sent" : "none");
}

}  // namespace dhcpplus_server
