// The SMTP client of the log mailer: one mail per call over a fresh TCP
// connection to port 25 (greeting, AUTH LOGIN or HELO, one sender, one
// recipient, DATA with the content the using program supplies, QUIT). Every
// reply's three-digit code is checked against one expected value; any
// mismatch, time-out or socket error ends the attempt and closes the socket.
//
// The socket calls that wait or connect go through SmtpSocket, so tests can
// hand the client one end of a socket pair and answer from a script, and can
// run the 10-second reply limit on the clock they pass in.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "common/clock.h"

namespace rc {

class SmtpSocket {
 public:
  static constexpr int kConnectTimeoutMs = 10000;

  virtual ~SmtpSocket() = default;
  // do_connect: a connected IPv4 stream socket to host:port, or -1 after
  // printing "create socker error " or "connect error" (an unresolvable name
  // prints nothing). The connect itself gives up after 10 s (waitWritable),
  // as every reply does; the socket it returns blocks again.
  virtual int connectTo(const char *host, uint16_t port);
  // Waits up to timeoutMs for a connect in progress on fd to end: > 0 ended
  // (its result is in SO_ERROR), 0 timed out, < 0 error.
  virtual int waitWritable(int fd, int timeoutMs);
  // Waits up to timeoutMs for fd to become readable: > 0 readable, 0 timed
  // out, < 0 error.
  virtual int waitReadable(int fd, int timeoutMs);
  // One receive of at most size bytes: the count, 0 at end, -1 on error.
  virtual ssize_t receive(int fd, char *buf, size_t size);
};

// The mail's content, sent between DATA and the end of data.
class SmtpContent {
 public:
  virtual ~SmtpContent() = default;
  virtual int smtpSendHead() = 0;  // negative on failure
  virtual int smtpSendBody() = 0;  // negative on failure
};

// Writes the base64 (RFC 4648, "=" padding) of the NUL-terminated text into
// out[size], NUL-terminated. Returns false, writing "", when it does not fit.
bool base64Encode(const char *text, char *out, size_t size);

class SmtpClient {
 public:
  static constexpr uint16_t kPort = 25;
  static constexpr int kReplyTimeoutMs = 10000;
  static constexpr size_t kReplyBuf = 1024;
  static constexpr size_t kSendPiece = 4356;
  // Longest user name or password whose base64, CRLF and NUL fit 64 bytes.
  static constexpr size_t kMaxAuthText = 45;

  enum Verb { HELO, EHLO, AUTH_LOGIN, MAIL_FROM, RCPT_TO, DATA, QUIT, NO_VERB };
  enum Reply { R250, R220, R334, R235, R354, R221 };

  // clock: the daemon's Clock, which times the reply deadline.
  SmtpClient(SmtpSocket &io, SmtpContent &content, ClockRef clock)
      : io_(io), content_(content), clock_(clock) {}
  ~SmtpClient() { smtpDisconnect(); }

  // One whole mail: 1 when it was sent, else 0. Nothing is retried. A mail
  // counts as sent once the server accepted the end of data, whatever then
  // happens to QUIT.
  int transmit_message();

  int smtpConnect(const char *server, uint16_t port);
  int smtpEhlo(const char *name);
  int smtpHelo(const char *name);
  int smtpSetAuthLogin();
  int smtpSetMailForm(const char *from);
  int smtpSetRcpt(const char *to);
  int smtpStartData();
  int smtpEndData();
  int smtpQuit();
  void smtpDisconnect();
  // Sends mail text in its wire form: every line end (CRLF, a bare LF or a
  // bare CR) becomes one CRLF and a line that begins with "." gets one more
  // in front. Negative on failure.
  int smtpSendData(const char *text);
  int send_command(Verb verb, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
  // Sends len bytes: their count minus one, 0 when a send took nothing, -1
  // on an error or an empty text.
  int sendRequest(const char *text, size_t len);
  // One wait (at most timeoutMs) and one receive; -1 on time-out or error.
  int readResponse(char *buf, size_t size, int timeoutMs);
  // Reads one whole reply, its continuation lines ("250-...") included,
  // within 10 seconds; its code is that of the final line. Bytes received,
  // or -1 when the code is not the expected one of `index`.
  int get_response(Reply index);

  // Settings, filled by the using program.
  int domail = 0;
  uint16_t port = kPort;
  char server_host[64] = "";
  char local_host[64] = "";
  char user_name[64] = "";
  char passwd[64] = "";
  char from_mail[64] = "";
  char to_mail[64] = "";

  int fd() const { return sock_; }

 private:
  // The reply check of a step whose command went out with result `sent`:
  // prints `failure` when the command or its reply failed.
  int step(int sent, Reply expect, const char *failure);

  SmtpSocket &io_;
  SmtpContent &content_;
  ClockRef clock_;
  int sock_ = -1;
};

}  // namespace rc
