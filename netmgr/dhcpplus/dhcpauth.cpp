#include "dhcpauth.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "dhcpplus_config.h"

namespace dhcpplus {

int udp_fd;
sockaddr_in baddr;
sockaddr_in raddr;
uint32_t rip;
uint32_t lip;   // never assigned: option 1 and the password key carry 0.0.0.0
uint16_t rport;
uint16_t lport;
uint32_t opt2_ip;
uint32_t srv_ip;
uint8_t pkt_seq;
char auth_name[kTextSize];
char auth_pwd[kTextSize];
uint8_t uncrypt_send[kPlainPktSize];
uint8_t send_pkt[kDatagramSize];
uint8_t receive_pkt[kDatagramSize];
uint8_t uncrypt_receive[kPlainPktSize];
int recv_wait_ms = kRecvWaitMs;

const ErrMsgEntry ErrMsg[7] = {
    {-1, "can not recv ack"},
    {-2, "recv data len error"},
    {-3, "recv data cmd error"},
    {-4, "recv data option of server-ip error"},
    {-5, "recv data no option of server-ip"},
    {-6, "recv data option of auth-ack error"},
    {-7, "recv data no option of auth-ack"},
};

namespace {

const uint8_t kDefaultServer[4] = DHCPPLUS_SERVER_BYTES;
const uint8_t kFixedIp[4] = DHCPPLUS_OPT18_BYTES;

// Set by dhcpplus_set_server; 0 means the deployment value.
uint32_t server_override;
uint16_t port_override;

// The payload of the plaintext packet being built.
uint8_t *send_payload() { return uncrypt_send + kHeaderLen; }

// Writes one option at payload offset pos and returns the offset after it.
size_t put_option(size_t pos, uint8_t code, const void *value, size_t len) {
    uint8_t *payload = send_payload();
    payload[pos] = code;
    payload[pos + 1] = static_cast<uint8_t>(len);
    memcpy(payload + pos + 2, value, len);
    return pos + 2 + len;
}

size_t put_name(size_t pos, const char *name) {
    return put_option(pos, kOptName, name, strnlen(name, kTextSize - 1));
}

uint16_t be16(const uint8_t *p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

long now_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

// Waits until udp_fd is readable or recv_wait_ms have passed; a signal (the
// daemon's one-second tick) does not cut the wait short.
void wait_readable() {
    pollfd pfd = {udp_fd, POLLIN, 0};
    const long deadline = now_ms() + recv_wait_ms;
    for (;;) {
        const long left = deadline - now_ms();
        if (left <= 0)
            return;
        const int r = poll(&pfd, 1, static_cast<int>(left));
        if (r >= 0 || errno != EINTR)
            return;
    }
}

int recv_ack(AckKind kind) {
    if (udp_fd <= 0)
        return -1;
    ssize_t got = 0;
    for (int attempt = 0; attempt < 3 && got <= 0; attempt++) {
        wait_readable();
        got = recv(udp_fd, receive_pkt, sizeof receive_pkt, MSG_DONTWAIT);
    }
    if (got <= 0)
        return -1;
    return ParseAck(receive_pkt, static_cast<size_t>(got), kind);
}

// Sends the datagram in send_pkt to address ip_nbo.
int send_datagram(uint32_t ip_nbo) {
    memset(&raddr, 0, sizeof raddr);
    raddr.sin_family = AF_INET;
    raddr.sin_port = htons(rport);
    raddr.sin_addr.s_addr = ip_nbo;
    const size_t size = be16(send_pkt + 2) + kHeaderLen;
    return static_cast<int>(sendto(udp_fd, send_pkt, size, 0,
                                   reinterpret_cast<const sockaddr *>(&raddr), sizeof raddr));
}

}  // namespace

void cyg_thread_delay(unsigned microseconds) { usleep(microseconds); }

void InitVar(const char *name, const char *pwd) {
    memset(auth_name, 0, sizeof auth_name);
    memset(auth_pwd, 0, sizeof auth_pwd);
    strncpy(auth_name, name != nullptr ? name : "", sizeof auth_name - 1);
    strncpy(auth_pwd, pwd != nullptr ? pwd : "", sizeof auth_pwd - 1);
    if (server_override != 0)
        rip = server_override;
    else
        memcpy(&rip, kDefaultServer, 4);
    rport = port_override != 0 ? port_override : static_cast<uint16_t>(DHCPPLUS_PORT);
    pkt_seq = 1;
    lport = kFirstLocalPort;
    opt2_ip = 0;
    srv_ip = 0;
    udp_fd = 0;   // every exchange ends with its socket closed
}

void closedhcpsocket() {
    if (udp_fd != 0) {
        close(udp_fd);
        udp_fd = 0;
    }
}

int CreateSock(uint8_t renew) {
    if (udp_fd != 0) {
        if (renew != 1)
            return 1;
        closedhcpsocket();
    }
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd == 0) {
        // Descriptor 0 stands for "no socket": move it up rather than leak it.
        const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
        close(fd);
        fd = moved;
    }
    if (fd <= 0)
        return 0;
    udp_fd = fd;
    memset(&baddr, 0, sizeof baddr);
    baddr.sin_family = AF_INET;
    baddr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (lport < kFirstLocalPort)
        lport = kFirstLocalPort;
    // Next free port upward. The search ends at 65535: wrapping to port 0
    // would bind a port the password key does not name.
    for (;;) {
        if (lport == 65535) {
            closedhcpsocket();
            return 0;
        }
        lport = static_cast<uint16_t>(lport + 1);
        baddr.sin_port = htons(lport);
        if (bind(udp_fd, reinterpret_cast<const sockaddr *>(&baddr), sizeof baddr) == 0)
            break;
    }
    int on = 1;
    ioctl(udp_fd, FIONBIO, &on);
    return 1;
}

void InitSendPkt(uint8_t *buf, uint8_t code) {
    memset(buf, 0, kPlainPktSize);
    buf[0] = 5;
    buf[1] = code;
    buf[4] = 1;
    buf[5] = 0;
    buf[6] = pkt_seq++;
    buf[7] = 15;
}

void MakeMd5Digest(size_t p) {
    if (p + kDigestOptLen > kMaxPayload)
        return;
    uint8_t *payload = send_payload();
    const size_t n = p + kDigestOptLen;
    payload[p] = kOptDigest;
    payload[p + 1] = 16;
    memcpy(payload + p + 2, secrets.digest_key, kDigestKeyLen);
    const uint16_t host_len = static_cast<uint16_t>(n);   // host order until sealed
    memcpy(uncrypt_send + 2, &host_len, 2);
    first_genkey = 1;
    genkey(pkt_key, payload, n);
    const size_t size = build_datagram(uncrypt_send, n, pkt_key, send_pkt);
    uint8_t digest[16];
    MD5String(send_pkt, size, digest);
    memcpy(payload + p + 2, digest, 16);
}

void EncryptSendPkt() {
    uint16_t n;
    memcpy(&n, uncrypt_send + 2, 2);
    if (n > kMaxPayload)
        return;
    genkey(pkt_key, send_payload(), n);
    build_datagram(uncrypt_send, n, pkt_key, send_pkt);
}

int encrypt_pwd(char *buf, size_t bufsize, uint16_t port) {
    return encrypt_pwd_with(buf, bufsize, lip, port, secrets.pwd_suffix);
}

void MakeHangupPkt(const char *name) {
    InitSendPkt(uncrypt_send, kCodeHangup);
    size_t p = put_option(0, kOptClientIp, &lip, 4);
    p = put_name(p, name);
    MakeMd5Digest(p);
    EncryptSendPkt();
}

void MakeRequstPkt() {
    InitSendPkt(uncrypt_send, kCodeRequest);
    size_t p = put_option(0, kOptClientIp, &lip, 4);
    p = put_option(p, kOptOpt2, &opt2_ip, 4);
    p = put_option(p, kOptFixedIp, kFixedIp, 4);
    MakeMd5Digest(p);
    EncryptSendPkt();
}

static void make_name_packet(uint8_t code, const char *name) {
    InitSendPkt(uncrypt_send, code);
    size_t p = put_option(0, kOptClientIp, &lip, 4);
    p = put_option(p, kOptOpt2, &opt2_ip, 4);
    p = put_name(p, name);
    MakeMd5Digest(p);
    EncryptSendPkt();
}

void MakeAuthUserPkt(const char *name) { make_name_packet(kCodeAuth, name); }

void MakeSecAuthPkt(const char *name) { make_name_packet(kCodeSecAuth, name); }

void MakeAuthPwdPkt(const char *name, const char *pwd) {
    char cipher[48] = {};
    strncpy(cipher, pwd, sizeof cipher - 1);
    const int c = encrypt_pwd(cipher, sizeof cipher, ntohs(baddr.sin_port));
    InitSendPkt(uncrypt_send, kCodeAuth);
    size_t p = put_option(0, kOptClientIp, &lip, 4);
    p = put_option(p, kOptOpt2, &opt2_ip, 4);
    p = put_name(p, name);
    uint8_t value[2 + 32];
    value[0] = static_cast<uint8_t>(strnlen(pwd, kTextSize - 1));
    value[1] = 1;
    memcpy(value + 2, cipher, static_cast<size_t>(c));
    p = put_option(p, kOptPassword, value, 2 + static_cast<size_t>(c));
    MakeMd5Digest(p);
    EncryptSendPkt();
}

int SendHangupReq() {
    const int r = CreateSock(1);
    if (r != 1)
        return r;
    MakeHangupPkt(auth_name);
    return send_datagram(srv_ip != 0 ? srv_ip : rip);
}

int SendReq() {
    const int r = CreateSock(1);
    if (r != 1)
        return r;
    MakeRequstPkt();
    return send_datagram(rip);
}

int SendUsernameAuth() {
    const int r = CreateSock(1);
    if (r != 1)
        return r;
    MakeAuthUserPkt(auth_name);
    return send_datagram(srv_ip);
}

int SendPwdAuth() {
    const int r = CreateSock(0);   // the socket, and so the port, of the user-name step
    if (r != 1)
        return r;
    MakeAuthPwdPkt(auth_name, auth_pwd);
    return send_datagram(srv_ip);
}

int ParseAck(const uint8_t *pkt, size_t n, AckKind kind) {
    // A datagram holds at least the header and the packet key; a length
    // field below 10 leaves no room for the key and is refused like any
    // other length that does not fit.
    if (n < kHeaderLen + kPktKeyLen)
        return -2;
    const unsigned length = be16(pkt + 2);
    if (n != length + kHeaderLen || length > kMaxLength || length < kPktKeyLen)
        return -2;
    static_assert(kMaxLength - kPktKeyLen + 8 <= kMaxPayload,
                  "an option header and a 4-byte value past the payload stay in the buffer");
    memset(uncrypt_receive, 0, sizeof uncrypt_receive);
    uncrypt_receive[0] = pkt[0];
    uncrypt_receive[1] = pkt[1];
    memcpy(uncrypt_receive + 4, pkt + 4, 4);
    const uint16_t plen = static_cast<uint16_t>(length - kPktKeyLen);
    memcpy(uncrypt_receive + 2, &plen, 2);
    decrypt_data(pkt + kHeaderLen, static_cast<int>(length), uncrypt_receive + kHeaderLen);

    const uint8_t code = uncrypt_receive[1];
    const uint8_t want = kind == AckKind::Hangup    ? kCodeHangupAck
                         : kind == AckKind::Request ? kCodeRequestAck
                                                    : kCodeAuthAck;
    if (code != want)
        return -3;
    if (kind == AckKind::Hangup)
        return 1;

    // Walk the options. Bytes past the payload read as 0 from the cleared
    // buffer; the walk reads at most 6 bytes from a position inside the
    // payload, which the static_assert above keeps inside uncrypt_receive.
    const uint8_t *payload = uncrypt_receive + kHeaderLen;
    for (size_t pos = 0; pos < plen; pos += payload[pos + 1] + 2u) {
        const uint8_t opt = payload[pos];
        const uint8_t len = payload[pos + 1];
        const uint8_t *value = payload + pos + 2;
        if (kind == AckKind::Request) {
            if (opt == kOptServerIp) {
                if (len != 12 && len != 8 && len != 4)
                    return -4;
                memcpy(&srv_ip, value, 4);
            }
        } else if (opt == kOptAuthResult) {
            const uint8_t accepted = kind == AckKind::User ? kUserAccepted : kPasswordAccepted;
            return len == 1 && value[0] == accepted ? 1 : -6;
        }
    }
    if (kind == AckKind::Request)
        return srv_ip == 0 ? -5 : 1;
    return -7;
}

int RecvHangupAck() { return recv_ack(AckKind::Hangup); }
int RecvReqAck() { return recv_ack(AckKind::Request); }
int RecvUserAck() { return recv_ack(AckKind::User); }
int RecvPwdAck() { return recv_ack(AckKind::Password); }

void getdhcperrormsg(int code, char *out, size_t size) {
    if (size == 0)
        return;
    const char *text = "unkonwn error";
    for (const ErrMsgEntry &e : ErrMsg) {
        if (e.code == code) {
            text = e.text;
            break;
        }
    }
    strncpy(out, text, size - 1);
    out[size - 1] = '\0';
}

}  // namespace dhcpplus

using namespace dhcpplus;

void dhcpplus_set_server(uint32_t ip_nbo, uint16_t port) {
    server_override = ip_nbo;
    port_override = port;
}

namespace {

// One step of the exchange: up to three tries of a send and its receive. A
// failed step is not retried from an earlier one; the translated failure
// texts are not passed on.
bool runStep(int (*send)(), int (*recv)()) {
    char msg[64];
    for (int tries = 0; tries < 3; tries++) {
        send();
        const int r = recv();
        if (r == 1)
            return true;
        getdhcperrormsg(r, msg, sizeof msg);
    }
    return false;
}

}  // namespace

int dodhcpauth(const char *name, const char *pwd) {
    InitVar(name, pwd);
    cyg_thread_delay(100);

    SendHangupReq();
    RecvHangupAck();   // whatever comes back, the exchange goes on

    const bool accepted = runStep(SendReq, RecvReqAck) &&
                          runStep(SendUsernameAuth, RecvUserAck) &&
                          runStep(SendPwdAuth, RecvPwdAck);
    closedhcpsocket();
    return accepted ? 1 : 0;
}
