// The DHCP+ exchange, step by step: the packet and option codes, and the
// login client (DhcpPlusLogin) with its packet builders, send and receive
// steps. dodhcpauth runs them in order.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "common/clock.h"
#include "dhcpcrypt.h"
#include "netmgr/dhcp_auth.h"

namespace dhcpplus {

// Packet codes.
enum : uint8_t {
    kCodeRequest = 1,
    kCodeRequestAck = 2,
    kCodeAuth = 3,
    kCodeAuthAck = 4,
    kCodeSecAuth = 5,
    kCodeHangup = 9,
    kCodeHangupAck = 10,
};

// Option codes.
enum : uint8_t {
    kOptClientIp = 1,
    kOptOpt2 = 2,
    kOptServerIp = 4,
    kOptName = 8,
    kOptPassword = 9,
    kOptAuthResult = 10,
    kOptFixedIp = 18,
    kOptDigest = 24,
};

constexpr uint8_t kUserAccepted = 0x80;
constexpr uint8_t kPasswordAccepted = 1;
constexpr uint16_t kFirstLocalPort = 1152;   // lport before the first bind
constexpr int kRecvWaitMs = 300;             // wait per receive attempt
constexpr unsigned kMaxLength = 504;         // largest length field accepted
constexpr size_t kTextSize = 64;             // auth_name, auth_pwd

// Which ack a received datagram is checked as.
enum class AckKind { Hangup, Request, User, Password };

struct ErrMsgEntry {
    int32_t code;
    char text[48];
};
extern const ErrMsgEntry ErrMsg[7];

// Copies the text of a result code into out (size bytes, always
// NUL-terminated); codes outside the table give "unkonwn error".
void getdhcperrormsg(int code, char *out, size_t size);

}  // namespace dhcpplus

namespace rc {

// The login client's UDP socket. Tests that need no network replace it.
class DhcpPlusSocket {
 public:
  // Never destroyed through a pointer to it: no virtual destructor.
  ~DhcpPlusSocket() = default;
  // A UDP socket (close-on-exec) with a descriptor above 0, or -1.
  virtual int open();
  virtual int bind(int fd, uint16_t port);  // to port on any address: 0, or -1
  virtual int sendTo(int fd, const uint8_t *buf, size_t len, uint32_t ip_nbo, uint16_t port);
  // Waits up to timeoutMs for fd to become readable; a signal (the daemon's
  // one-second tick) does not cut the wait short.
  virtual void waitReadable(int fd, int timeoutMs);
  // One datagram without waiting: its size, or <= 0 when there is none.
  virtual ssize_t receive(int fd, uint8_t *buf, size_t size);
  virtual void close(int fd);
};

// The DHCP+ exchange as an object: its state under the documented names,
// the packet builders and the send and receive steps, over a socket and a
// clock. One exchange at a time.
class DhcpPlusLogin : public DhcpAuth {
 public:
  using AckKind = dhcpplus::AckKind;

  DhcpPlusLogin(DhcpPlusSocket &net, ClockRef clock) : net_(net), clock_(clock) {}
  DhcpPlusLogin(const DhcpPlusLogin &) = delete;
  DhcpPlusLogin &operator=(const DhcpPlusLogin &) = delete;

  // One complete, blocking exchange: hangup of an earlier login, request,
  // user-name step and password step. 1 when the server accepted the
  // password, 0 otherwise.
  // (Defined here: with no out-of-line virtual function the class's type
  // information is emitted where it is used, also in tests built with RTTI.)
  int dodhcpauth(const char *name, const char *pwd) override { return exchange(name, pwd); }
  int exchange(const char *name, const char *pwd);
  // Sends the exchange to ip_nbo (network byte order) and port instead of
  // the deployment's server and port, for tests against a server on
  // loopback; (0, 0) goes back to the deployment values.
  void setServer(uint32_t ip_nbo, uint16_t port) {
    server_override_ = ip_nbo;
    port_override_ = port;
  }

  void InitVar(const char *name, const char *pwd);
  int CreateSock(uint8_t renew);
  void closedhcpsocket();

  void InitSendPkt(uint8_t *buf, uint8_t code);
  void MakeHangupPkt(const char *name);
  void MakeRequstPkt();
  void MakeAuthUserPkt(const char *name);
  void MakeAuthPwdPkt(const char *name, const char *pwd);
  void MakeSecAuthPkt(const char *name);
  void MakeMd5Digest(size_t p);
  void EncryptSendPkt();
  int encrypt_pwd(char *buf, size_t bufsize, uint16_t port);

  int SendHangupReq();
  int SendReq();
  int SendUsernameAuth();
  int SendPwdAuth();

  int RecvHangupAck();
  int RecvReqAck();
  int RecvUserAck();
  int RecvPwdAck();

  // Checks and deciphers the n received bytes at pkt as the given ack (into
  // uncrypt_receive) and returns 1 or a negative result code. Reads nothing
  // outside pkt[0..n-1] and uncrypt_receive.
  int ParseAck(const uint8_t *pkt, size_t n, AckKind kind);

  // --- State of the exchange, under its documented names ---
  int udp_fd = 0;  // 0: no socket
  uint32_t rip = 0;
  uint32_t lip = 0;  // never assigned: option 1 and the password key carry 0.0.0.0
  uint16_t rport = 0;
  uint16_t lport = dhcpplus::kFirstLocalPort;
  uint32_t opt2_ip = 0;
  uint32_t srv_ip = 0;
  uint8_t pkt_seq = 1;
  char auth_name[dhcpplus::kTextSize] = "";
  char auth_pwd[dhcpplus::kTextSize] = "";
  uint8_t uncrypt_send[dhcpplus::kPlainPktSize] = {};
  uint8_t send_pkt[dhcpplus::kDatagramSize] = {};
  uint8_t receive_pkt[dhcpplus::kDatagramSize] = {};
  uint8_t uncrypt_receive[dhcpplus::kPlainPktSize] = {};
  // Milliseconds each of the three receive attempts waits for the socket to
  // become readable. Tests shorten it; production keeps kRecvWaitMs.
  int recv_wait_ms = dhcpplus::kRecvWaitMs;

 private:
  uint8_t *send_payload() { return uncrypt_send + dhcpplus::kHeaderLen; }
  size_t put_option(size_t pos, uint8_t code, const void *value, size_t len);
  size_t put_name(size_t pos, const char *name);
  void make_name_packet(uint8_t code, const char *name);
  int recv_ack(AckKind kind);
  int send_datagram(uint32_t ip_nbo);
  // One step of the exchange: up to three tries of a send and its receive.
  bool runStep(int (DhcpPlusLogin::*send)(), int (DhcpPlusLogin::*recv)());

  DhcpPlusSocket &net_;
  ClockRef clock_;
  uint32_t server_override_ = 0;  // 0: the deployment value
  uint16_t port_override_ = 0;
};

}  // namespace rc
