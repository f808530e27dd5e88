// The SMTP exchange: steps, replies and the wire form of the mail text.
#include "smtp/smtp.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <nettle/base64.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace rc {

namespace {

const char *const kVerbs[] = {"HELO ", "EHLO ", "AUTH LOGIN ", "MAIL FROM:", "RCPT TO:", "DATA", "QUIT", ""};

struct Expect {
  int code;
  const char *message;
};
const Expect kReplies[] = {
    {250, "SMTP Server error"},
    {220, "SMTP Server not available"},
    {334, "SMTP auth login/plain error"},
    {235, "Autherntication error"},
    {354, "SMTP Server not ready for data"},
    {221, "SMTP Server didn't terminate session"},
};

// The code of a reply line: its first three digits, 0 when there are none.
int replyCode(const char *line, size_t len) {
  if (len < 3) return 0;
  int code = 0;
  for (int i = 0; i < 3; ++i) {
    if (line[i] < '0' || line[i] > '9') return 0;
    code = code * 10 + (line[i] - '0');
  }
  return code;
}

}  // namespace

bool base64Encode(const char *text, char *out, size_t size) {
  size_t len = strlen(text);
  size_t need = BASE64_ENCODE_RAW_LENGTH(len) + 1;
  if (size == 0) return false;
  if (need > size) {
    out[0] = '\0';
    return false;
  }
  base64_encode_raw(out, len, reinterpret_cast<const uint8_t *>(text));
  out[need - 1] = '\0';
  return true;
}

// ---------------------------------------------------------------- socket seam

int SmtpSocket::connectTo(const char *host, uint16_t port) {
  // Non-blocking until connected: a server whose backlog is full drops our
  // SYNs, and a blocking connect would wait out the kernel's retries (about
  // two minutes) with logmail's queue unread.
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    puts("create socker error ");
    return -1;
  }
  struct addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo *res = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &res) != 0 || !res) {
    close(fd);
    return -1;
  }
  struct sockaddr_in sa;
  memcpy(&sa, res->ai_addr, sizeof sa);
  freeaddrinfo(res);
  sa.sin_port = htons(port);
  int r = connect(fd, reinterpret_cast<struct sockaddr *>(&sa), sizeof sa);
  if (r != 0 && errno == EINPROGRESS) {
    int err = -1;
    socklen_t len = sizeof err;
    if (waitWritable(fd, kConnectTimeoutMs) > 0) getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
    r = err == 0 ? 0 : -1;
  }
  // The exchange itself blocks, with poll for its reply limit.
  int flags = r == 0 ? fcntl(fd, F_GETFL) : -1;
  if (r == 0) r = flags < 0 ? -1 : fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  if (r != 0) {
    close(fd);
    puts("connect error");
    return -1;
  }
  return fd;
}

int SmtpSocket::waitWritable(int fd, int timeoutMs) {
  struct pollfd p = {fd, POLLOUT, 0};
  int r;
  do {
    r = poll(&p, 1, timeoutMs);
  } while (r < 0 && errno == EINTR);
  return r;
}

int SmtpSocket::waitReadable(int fd, int timeoutMs) {
  struct pollfd p = {fd, POLLIN, 0};
  int r;
  do {
    r = poll(&p, 1, timeoutMs);
  } while (r < 0 && errno == EINTR);
  return r;
}

ssize_t SmtpSocket::receive(int fd, char *buf, size_t size) {
  ssize_t n;
  do {
    n = recv(fd, buf, size, 0);
  } while (n < 0 && errno == EINTR);
  return n;
}

// ---------------------------------------------------------------- sending

int SmtpClient::sendRequest(const char *text, size_t len) {
  if (len == 0) return -1;
  size_t sent = 0;
  while (sent < len) {
    size_t piece = len - sent < kSendPiece ? len - sent : kSendPiece;
    ssize_t n = send(sock_, text + sent, piece, MSG_NOSIGNAL);  // a closed peer must not kill us
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      return -1;
    }
    if (n == 0) return 0;
    sent += static_cast<size_t>(n);
  }
  return static_cast<int>(sent) - 1;
}

int SmtpClient::send_command(Verb verb, const char *fmt, ...) {
  char line[1024];
  int used = snprintf(line, sizeof line, "%s", kVerbs[verb]);
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(line + used, sizeof line - used, fmt, ap);
  va_end(ap);
  return sendRequest(line, strlen(line));
}

int SmtpClient::smtpSendData(const char *text) {
  if (!*text) return -1;
  // Staged in pieces; each source byte becomes at most two wire bytes.
  // CR LF, a bare LF and a bare CR each end a line and go out as one CR LF:
  // a bare CR must never reach the wire, as servers that take it for a line
  // end would read "<CR>.<CR><LF>" in the text as the end of data.
  char out[1024];
  size_t o = 0;
  bool lineStart = true;
  for (const char *p = text; *p; ++p) {
    if (o + 2 > sizeof out) {
      if (sendRequest(out, o) < 0) return -1;
      o = 0;
    }
    if (*p == '\n' && p > text && p[-1] == '\r') continue;  // its CR LF went out with the CR
    if (*p == '\r' || *p == '\n') {
      out[o++] = '\r';
      out[o++] = '\n';
      lineStart = true;
      continue;
    }
    if (lineStart && *p == '.') out[o++] = '.';
    out[o++] = *p;
    lineStart = false;
  }
  return sendRequest(out, o);
}

// ---------------------------------------------------------------- replies

int SmtpClient::readResponse(char *buf, size_t size, int timeoutMs) {
  int r = io_.waitReadable(sock_, timeoutMs);
  if (r == 0) {
    puts("Timeout(10) while trying to read from SMTP server");
    return -1;
  }
  ssize_t n = r > 0 ? io_.receive(sock_, buf, size) : -1;
  if (n < 0) {
    puts("error recv()ing reply");
    return -1;
  }
  return static_cast<int>(n);
}

int SmtpClient::get_response(Reply index) {
  char buf[kReplyBuf];
  size_t have = 0;  // bytes of the unfinished line at the front of buf
  int total = 0, code = 0;
  long deadline = clock_.monotonicMs() + kReplyTimeoutMs;
  for (;;) {
    long left = deadline - clock_.monotonicMs();
    int n = readResponse(buf + have, sizeof buf - 1 - have, left > 0 ? static_cast<int>(left) : 0);
    if (n < 0) {
      puts("readResponse failed");
      return -1;
    }
    if (n == 0) break;  // closed before the final line: no code
    total += n;
    have += static_cast<size_t>(n);
    // Complete lines: a continuation line ("250-") is passed over, the
    // first other line is the final one and carries the reply's code.
    char *line = buf;
    char *end = buf + have;
    bool final = false;
    while (char *nl = static_cast<char *>(memchr(line, '\n', end - line))) {
      if (nl - line < 4 || line[3] != '-') {
        code = replyCode(line, nl - line);
        final = true;
        break;
      }
      line = nl + 1;
    }
    if (final) break;
    have = end - line;
    memmove(buf, line, have);
    // A line longer than the buffer: only its first four bytes matter.
    if (have >= sizeof buf - 1) have = 4;
  }
  const Expect &e = kReplies[index];
  if (code != e.code) {
    fprintf(stderr, "%s\n", e.message);
    return -1;
  }
  return total;
}

// ---------------------------------------------------------------- steps

int SmtpClient::smtpConnect(const char *server, uint16_t p) {
  sock_ = io_.connectTo(server, p);
  if (sock_ < 0) return -1;
  int r = get_response(R220);
  if (r < 0) puts("smtp connect error.");
  return r;
}

int SmtpClient::step(int sent, Reply expect, const char *failure) {
  int r = sent < 0 ? sent : get_response(expect);
  if (r < 0) puts(failure);
  return r;
}

int SmtpClient::smtpEhlo(const char *name) {
  return step(send_command(EHLO, "%s\r\n", name), R250, "smtpEhlo command error.");
}

int SmtpClient::smtpHelo(const char *name) {
  return step(send_command(HELO, "%s\r\n", name), R250, "smtpInit command error.");
}

int SmtpClient::smtpSetAuthLogin() {
  const char *failure = "smtpSetAuthLogin command error.";
  if (strlen(user_name) > kMaxAuthText || strlen(passwd) > kMaxAuthText) {
    // Their base64 would not fit the AUTH lines; never send a cut one.
    printf("smtp: user name or password longer than %zu characters\n", kMaxAuthText);
    puts(failure);
    return -1;
  }
  char enc[64];
  base64Encode(user_name, enc, sizeof enc);
  int r = send_command(AUTH_LOGIN, "%s\r\n", enc);
  r = r < 0 ? r : get_response(R334);
  if (r >= 0) {
    base64Encode(passwd, enc, sizeof enc);
    strcat(enc, "\r\n");
    r = sendRequest(enc, strlen(enc));
  }
  return step(r, R235, failure);
}

int SmtpClient::smtpSetMailForm(const char *from) {
  return step(send_command(MAIL_FROM, "<%s>\r\n", from), R250, "smtpSetMailForm command error.");
}

int SmtpClient::smtpSetRcpt(const char *to) {
  return step(send_command(RCPT_TO, "<%s>\r\n", to), R250, "smtpSetRcpt command error.");
}

int SmtpClient::smtpStartData() {
  return step(send_command(DATA, "\r\n"), R354, "smtpStartData command error.");
}

int SmtpClient::smtpEndData() {
  return step(sendRequest("\r\n.\r\n", 5), R250, "smtpEndData command error.");
}

int SmtpClient::smtpQuit() { return step(send_command(QUIT, "\r\n"), R221, "smtpQuit command error."); }

void SmtpClient::smtpDisconnect() {
  if (sock_ >= 0) close(sock_);
  sock_ = -1;
}

int SmtpClient::transmit_message() {
  if (!domail || strlen(server_host) < 5) return 0;
  bool ok = smtpConnect(server_host, port) >= 0;
  if (ok) {
    // A greeting that EHLO does not take falls back to HELO, unauthenticated.
    if (smtpEhlo(local_host) > 0)
      ok = smtpSetAuthLogin() >= 0;
    else
      ok = smtpHelo(local_host) >= 0;
  }
  ok = ok && smtpSetMailForm(from_mail) >= 0 && smtpSetRcpt(to_mail) >= 0 &&
       smtpStartData() >= 0 && content_.smtpSendHead() >= 0 && content_.smtpSendBody() >= 0 &&
       smtpEndData() >= 0;
  // The 250 to the end of data means the server has taken the mail. A late,
  // wrong or missing answer to QUIT is still reported, but must not fail the
  // mail: the caller would send the same records again.
  if (ok) smtpQuit();
  smtpDisconnect();
  fflush(stdout);
  return ok ? 1 : 0;
}

}  // namespace rc
