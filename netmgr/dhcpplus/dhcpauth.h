// The DHCP+ exchange, step by step: module state, packet builders, send and
// receive operations. dodhcpauth (dhcpplus.h) runs them in order.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>

#include "dhcpcrypt.h"
#include "dhcpplus.h"

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

// Module state; one exchange at a time.
extern int udp_fd;
extern sockaddr_in baddr;
extern sockaddr_in raddr;
extern uint32_t rip;
extern uint32_t lip;
extern uint16_t rport;
extern uint16_t lport;
extern uint32_t opt2_ip;
extern uint32_t srv_ip;
extern uint8_t pkt_seq;
extern char auth_name[kTextSize];
extern char auth_pwd[kTextSize];
extern uint8_t uncrypt_send[kPlainPktSize];
extern uint8_t send_pkt[kDatagramSize];
extern uint8_t receive_pkt[kDatagramSize];
extern uint8_t uncrypt_receive[kPlainPktSize];

struct ErrMsgEntry {
    int32_t code;
    char text[48];
};
extern const ErrMsgEntry ErrMsg[7];

// Milliseconds each of the three receive attempts waits for the socket to
// become readable. Tests shorten it; production keeps kRecvWaitMs.
extern int recv_wait_ms;

void InitVar(const char *name, const char *pwd);
int CreateSock(uint8_t renew);
void closedhcpsocket();
void cyg_thread_delay(unsigned microseconds);

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

// Which ack a received datagram is checked as.
enum class AckKind { Hangup, Request, User, Password };

// Checks and deciphers the n received bytes at pkt as the given ack (into
// uncrypt_receive) and returns 1 or a negative result code. Reads nothing
// outside pkt[0..n-1] and uncrypt_receive.
int ParseAck(const uint8_t *pkt, size_t n, AckKind kind);

// Copies the text of a result code into out (size bytes, always
// NUL-terminated); codes outside the table give "unkonwn error".
void getdhcperrormsg(int code, char *out, size_t size);

}  // namespace dhcpplus
