#include "dhcpauth.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "dhcpplus_config.h"

namespace dhcpplus {

const ErrMsgEntry ErrMsg[7] = {
    {-1, "can not recv ack"},
    {-2, "recv data len error"},
    {-3, "recv data cmd error"},
    {-4, "recv data option of server-ip error"},
    {-5, "recv data no option of server-ip"},
    {-6, "recv data option of auth-ack error"},
    {-7, "recv data no option of auth-ack"},
};

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

namespace rc {

using namespace dhcpplus;

namespace {

const uint8_t kDefaultServer[4] = DHCPPLUS_SERVER_BYTES;
const uint8_t kFixedIp[4] = DHCPPLUS_OPT18_BYTES;

uint16_t be16(const uint8_t *p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

long now_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

}  // namespace

// ---------------------------------------------------------------- the socket

int DhcpPlusSocket::open() {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd == 0) {
    // Descriptor 0 stands for "no socket": move it up rather than leak it.
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
    ::close(fd);
    fd = moved;
  }
  if (fd > 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  return fd > 0 ? fd : -1;
}

int DhcpPlusSocket::bind(int fd, uint16_t port) {
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  a.sin_port = htons(port);
  return ::bind(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) == 0 ? 0 : -1;
}

int DhcpPlusSocket::sendTo(int fd, const uint8_t *buf, size_t len, uint32_t ip_nbo, uint16_t port) {
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = ip_nbo;
  return static_cast<int>(sendto(fd, buf, len, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to));
}

void DhcpPlusSocket::waitReadable(int fd, int timeoutMs) {
  pollfd pfd = {fd, POLLIN, 0};
  const long deadline = now_ms() + timeoutMs;
  for (;;) {
    const long left = deadline - now_ms();
    if (left <= 0) return;
    const int r = poll(&pfd, 1, static_cast<int>(left));
    if (r >= 0 || errno != EINTR) return;
  }
}

ssize_t DhcpPlusSocket::receive(int fd, uint8_t *buf, size_t size) {
  return recv(fd, buf, size, MSG_DONTWAIT);
}

void DhcpPlusSocket::close(int fd) { ::close(fd); }

// ---------------------------------------------------------------- the client

size_t DhcpPlusLogin::put_option(size_t pos, uint8_t code, const void *value, size_t len) {
  uint8_t *payload = send_payload();
  payload[pos] = code;
  payload[pos + 1] = static_cast<uint8_t>(len);
  memcpy(payload + pos + 2, value, len);
  return pos + 2 + len;
}

size_t DhcpPlusLogin::put_name(size_t pos, const char *name) {
  return put_option(pos, kOptName, name, strnlen(name, kTextSize - 1));
}

int DhcpPlusLogin::recv_ack(AckKind kind) {
  if (udp_fd <= 0) return -1;
  ssize_t got = 0;
  for (int attempt = 0; attempt < 3 && got <= 0; attempt++) {
    net_.waitReadable(udp_fd, recv_wait_ms);
    got = net_.receive(udp_fd, receive_pkt, sizeof receive_pkt);
  }
  if (got <= 0) return -1;
  return ParseAck(receive_pkt, static_cast<size_t>(got), kind);
}

int DhcpPlusLogin::send_datagram(uint32_t ip_nbo) {
  const size_t size = be16(send_pkt + 2) + kHeaderLen;
  return net_.sendTo(udp_fd, send_pkt, size, ip_nbo, rport);
}

void DhcpPlusLogin::InitVar(const char *name, const char *pwd) {
  memset(auth_name, 0, sizeof auth_name);
  memset(auth_pwd, 0, sizeof auth_pwd);
  strncpy(auth_name, name != nullptr ? name : "", sizeof auth_name - 1);
  strncpy(auth_pwd, pwd != nullptr ? pwd : "", sizeof auth_pwd - 1);
  if (server_override_ != 0)
    rip = server_override_;
  else
    memcpy(&rip, kDefaultServer, 4);
  rport = port_override_ != 0 ? port_override_ : static_cast<uint16_t>(DHCPPLUS_PORT);
  pkt_seq = 1;
  lport = kFirstLocalPort;
  opt2_ip = 0;
  srv_ip = 0;
  udp_fd = 0;  // every exchange ends with its socket closed
}

void DhcpPlusLogin::closedhcpsocket() {
  if (udp_fd != 0) {
    net_.close(udp_fd);
    udp_fd = 0;
  }
}

int DhcpPlusLogin::CreateSock(uint8_t renew) {
  if (udp_fd != 0) {
    if (renew != 1) return 1;
    closedhcpsocket();
  }
  const int fd = net_.open();
  if (fd <= 0) return 0;
  udp_fd = fd;
  if (lport < kFirstLocalPort) lport = kFirstLocalPort;
  // Next free port upward. The search ends at 65535: wrapping to port 0
  // would bind a port the password key does not name.
  for (;;) {
    if (lport == 65535) {
      closedhcpsocket();
      return 0;
    }
    lport = static_cast<uint16_t>(lport + 1);
    if (net_.bind(udp_fd, lport) == 0) break;
  }
  return 1;
}

void DhcpPlusLogin::InitSendPkt(uint8_t *buf, uint8_t code) {
  memset(buf, 0, kPlainPktSize);
  buf[0] = 5;
  buf[1] = code;
  buf[4] = 1;
  buf[5] = 0;
  buf[6] = pkt_seq++;
  buf[7] = 15;
}

void DhcpPlusLogin::MakeMd5Digest(size_t p) {
  if (p + kDigestOptLen > kMaxPayload) return;
  uint8_t *payload = send_payload();
  const size_t n = p + kDigestOptLen;
  payload[p] = kOptDigest;
  payload[p + 1] = 16;
  memcpy(payload + p + 2, secrets.digest_key, kDigestKeyLen);
  const uint16_t host_len = static_cast<uint16_t>(n);  // host order until sealed
  memcpy(uncrypt_send + 2, &host_len, 2);
  first_genkey = 1;
  genkey(pkt_key, payload, n);
  const size_t size = build_datagram(uncrypt_send, n, pkt_key, send_pkt);
  uint8_t digest[16];
  MD5String(send_pkt, size, digest);
  memcpy(payload + p + 2, digest, 16);
}

void DhcpPlusLogin::EncryptSendPkt() {
  uint16_t n;
  memcpy(&n, uncrypt_send + 2, 2);
  if (n > kMaxPayload) return;
  genkey(pkt_key, send_payload(), n);
  build_datagram(uncrypt_send, n, pkt_key, send_pkt);
}

int DhcpPlusLogin::encrypt_pwd(char *buf, size_t bufsize, uint16_t port) {
  return encrypt_pwd_with(buf, bufsize, lip, port, secrets.pwd_suffix);
}

void DhcpPlusLogin::MakeHangupPkt(const char *name) {
  InitSendPkt(uncrypt_send, kCodeHangup);
  size_t p = put_option(0, kOptClientIp, &lip, 4);
  p = put_name(p, name);
  MakeMd5Digest(p);
  EncryptSendPkt();
}

void DhcpPlusLogin::MakeRequstPkt() {
  InitSendPkt(uncrypt_send, kCodeRequest);
  size_t p = put_option(0, kOptClientIp, &lip, 4);
  p = put_option(p, kOptOpt2, &opt2_ip, 4);
  p = put_option(p, kOptFixedIp, kFixedIp, 4);
  MakeMd5Digest(p);
  EncryptSendPkt();
}

void DhcpPlusLogin::make_name_packet(uint8_t code, const char *name) {
  InitSendPkt(uncrypt_send, code);
  size_t p = put_option(0, kOptClientIp, &lip, 4);
  p = put_option(p, kOptOpt2, &opt2_ip, 4);
  p = put_name(p, name);
  MakeMd5Digest(p);
  EncryptSendPkt();
}

void DhcpPlusLogin::MakeAuthUserPkt(const char *name) { make_name_packet(kCodeAuth, name); }

void DhcpPlusLogin::MakeSecAuthPkt(const char *name) { make_name_packet(kCodeSecAuth, name); }

void DhcpPlusLogin::MakeAuthPwdPkt(const char *name, const char *pwd) {
  char cipher[48] = {};
  strncpy(cipher, pwd, sizeof cipher - 1);
  const int c = encrypt_pwd(cipher, sizeof cipher, lport);  // the bound port
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

int DhcpPlusLogin::SendHangupReq() {
  const int r = CreateSock(1);
  if (r != 1) return r;
  MakeHangupPkt(auth_name);
  return send_datagram(srv_ip != 0 ? srv_ip : rip);
}

int DhcpPlusLogin::SendReq() {
  const int r = CreateSock(1);
  if (r != 1) return r;
  MakeRequstPkt();
  return send_datagram(rip);
}

int DhcpPlusLogin::SendUsernameAuth() {
  const int r = CreateSock(1);
  if (r != 1) return r;
  MakeAuthUserPkt(auth_name);
  return send_datagram(srv_ip);
}

int DhcpPlusLogin::SendPwdAuth() {
  const int r = CreateSock(0);  // the socket, and so the port, of the user-name step
  if (r != 1) return r;
  MakeAuthPwdPkt(auth_name, auth_pwd);
  return send_datagram(srv_ip);
}

int DhcpPlusLogin::ParseAck(const uint8_t *pkt, size_t n, AckKind kind) {
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

int DhcpPlusLogin::RecvHangupAck() { return recv_ack(AckKind::Hangup); }
int DhcpPlusLogin::RecvReqAck() { return recv_ack(AckKind::Request); }
int DhcpPlusLogin::RecvUserAck() { return recv_ack(AckKind::User); }
int DhcpPlusLogin::RecvPwdAck() { return recv_ack(AckKind::Password); }

// A failed step is not retried from an earlier one; the translated failure
// texts are not passed on.
bool DhcpPlusLogin::runStep(int (DhcpPlusLogin::*send)(), int (DhcpPlusLogin::*recv)()) {
  char msg[64];
  for (int tries = 0; tries < 3; tries++) {
    (this->*send)();
    const int r = (this->*recv)();
    if (r == 1) return true;
    getdhcperrormsg(r, msg, sizeof msg);
  }
  return false;
}

int DhcpPlusLogin::exchange(const char *name, const char *pwd) {
  InitVar(name, pwd);
  clock_.sleepMicros(100);

  SendHangupReq();
  RecvHangupAck();  // whatever comes back, the exchange goes on

  const bool accepted = runStep(&DhcpPlusLogin::SendReq, &DhcpPlusLogin::RecvReqAck) &&
                        runStep(&DhcpPlusLogin::SendUsernameAuth, &DhcpPlusLogin::RecvUserAck) &&
                        runStep(&DhcpPlusLogin::SendPwdAuth, &DhcpPlusLogin::RecvPwdAck);
  closedhcpsocket();
  return accepted ? 1 : 0;
}

}  // namespace rc
