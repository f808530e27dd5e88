// The SMTP server's replies: the input is everything the server says, over a
// real socket, through one whole mail (greeting, EHLO or HELO, AUTH LOGIN,
// MAIL, RCPT, DATA, QUIT).
#include <sys/socket.h>

#include "fuzzkit.h"
#include "smtp/smtp.h"

namespace {
// Hands out one end of a socket pair whose other end already holds the input.
class PairNet : public rc::SmtpSocket {
 public:
  int mine = -1;
  int connectTo(const char *, uint16_t) override { return mine; }
};

class Body : public rc::SmtpContent {
 public:
  rc::SmtpClient *client = nullptr;
  int smtpSendHead() override { return client->smtpSendData("Subject: log\n\n"); }
  int smtpSendBody() override { return client->smtpSendData("one\n.two\n"); }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  rc::fuzz::quiet_stdout();
  if (size > 65536) return 0;  // more than a socket buffer holds unread
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) abort();
  int big = 1 << 20;
  setsockopt(sv[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  setsockopt(sv[0], SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
  size_t off = 0;
  while (off < size) {
    ssize_t n = send(sv[1], data + off, size - off, MSG_DONTWAIT);
    if (n <= 0) break;
    off += static_cast<size_t>(n);
  }
  shutdown(sv[1], SHUT_WR);
  PairNet net;
  net.mine = sv[0];
  Body body;
  {
    rc::SystemClock clock;
    rc::SmtpClient client(net, body, clock);
    body.client = &client;
    client.domail = 1;
    strcpy(client.server_host, "mail.isp.sim");
    strcpy(client.local_host, "router");
    strcpy(client.user_name, "router");
    strcpy(client.passwd, "mailpass");
    strcpy(client.from_mail, "router@isp.sim");
    strcpy(client.to_mail, "admin@isp.sim");
    client.transmit_message();
  }  // the client closes its end
  close(sv[1]);
  return 0;
}
