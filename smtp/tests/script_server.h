// A scripted SMTP server on the far end of a socket pair, for the tests of
// the SMTP client and of the programs that use it.
#pragma once
#include <cerrno>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "smtp/smtp.h"
#include "doubles.h"

namespace rc::test {

// A reply as the pieces the server sends, one receive each; empty: silence.
using Reply = std::vector<std::string>;
// In place of a reply: the server hangs up at once (the client reads the end).
inline const Reply kHangUp = {""};

// The client's side of the seam: hands out the pair's end, counts receives
// and is the clock of the reply deadline. When the server has
// gone silent on purpose a wait times out at once and moves that clock.
class PairSocket : public SmtpSocket, public FakeClock {
 public:
  int connectTo(const char *host, uint16_t port) override {
    hosts.push_back(std::string(host) + ":" + std::to_string(port));
    return fd;
  }
  int waitReadable(int f, int timeoutMs) override {
    waits.push_back(timeoutMs);
    for (;;) {
      int r = SmtpSocket::waitReadable(f, 10);
      if (r != 0) return r;
      if (silent) {
        now += timeoutMs;
        return 0;
      }
    }
  }
  ssize_t receive(int f, char *buf, size_t size) override {
    ssize_t n = SmtpSocket::receive(f, buf, size);
    receives++;
    return n;
  }
  long monotonicMs() override { return now; }

  int fd = -1;
  long now = 1000;
  std::atomic<bool> silent{false};
  std::atomic<int> receives{0};
  std::vector<int> waits;
  std::vector<std::string> hosts;
};

class ScriptServer {
 public:
  ScriptServer(PairSocket &io, std::vector<Reply> script) : io_(io), script_(std::move(script)) {
    int sv[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    io_.fd = sv[0];
    fd_ = sv[1];
    // A server that went silent in an earlier run of the same socket must
    // not make this one's first wait time out before it has answered.
    io_.silent = false;
    th_ = std::thread([this] { run(); });
  }
  ~ScriptServer() { join(); }
  // Everything the client sent, once it has closed its end.
  const std::string &received() {
    join();
    return got_;
  }

 private:
  void join() {
    if (th_.joinable()) th_.join();
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  bool readByte() {
    char c;
    if (read(fd_, &c, 1) != 1) return false;
    got_ += c;
    return true;
  }
  // One command line, or the whole mail text after a 354.
  bool readUnit(bool data) {
    size_t start = got_.size();
    while (readByte()) {
      std::string unit = got_.substr(start);
      if (data ? unit.size() >= 5 && unit.compare(unit.size() - 5, 5, "\r\n.\r\n") == 0
               : unit.back() == '\n')
        return true;
    }
    return false;
  }
  void send(const Reply &r) {
    for (size_t i = 0; i < r.size(); ++i) {
      int before = io_.receives;
      // MSG_NOSIGNAL: a client that gave up and closed its end must fail
      // its own checks, not kill the whole test binary with SIGPIPE.
      ssize_t n = ::send(fd_, r[i].data(), r[i].size(), MSG_NOSIGNAL);
      if (n < 0 && errno == EPIPE) return;
      ASSERT_EQ(n, static_cast<ssize_t>(r[i].size()));
      // The next piece only after the client has taken this one.
      if (i + 1 < r.size())
        while (io_.receives <= before) std::this_thread::yield();
    }
  }
  void run() {
    bool data = false;
    for (size_t i = 0; i < script_.size(); ++i) {
      if (script_[i] == kHangUp && shutdown(fd_, SHUT_WR) == 0) break;
      if (i > 0 && !readUnit(data)) return;
      if (script_[i].empty()) {
        io_.silent = true;
        break;
      }
      send(script_[i]);
      data = script_[i][0].compare(0, 3, "354") == 0;
    }
    while (readByte()) {
    }
  }

  PairSocket &io_;
  std::vector<Reply> script_;
  int fd_ = -1;
  std::string got_;
  std::thread th_;
};

// The replies of a server that takes the whole mail with AUTH LOGIN.
inline const std::vector<Reply> kGoodAuth = {
    {"220 isp.sim ESMTP\r\n"},
    {"250-isp.sim\r\n250-PIPELINING\r\n250 AUTH LOGIN PLAIN\r\n"},
    {"334 VXNlcm5hbWU6\r\n"},
    {"235 2.7.0 Authentication successful\r\n"},
    {"250 2.1.0 Ok\r\n"},
    {"250 2.1.5 Ok\r\n"},
    {"354 End data with <CR><LF>.<CR><LF>\r\n"},
    {"250 2.0.0 Ok: queued\r\n"},
    {"221 2.0.0 Bye\r\n"},
};


// Answers every connection with a fresh scripted server (kGoodAuth unless
// told otherwise), or refuses it like a stopped server.
class ScriptedNet : public PairSocket {
 public:
  int connectTo(const char *host, uint16_t port) override {
    PairSocket::connectTo(host, port);
    if (refuse) {
      puts("connect error");
      return -1;
    }
    servers.push_back(std::make_unique<ScriptServer>(*this, script));
    return fd;
  }
  // What the client sent on each connection so far.
  std::vector<std::string> mails() {
    std::vector<std::string> out;
    for (auto &s : servers) out.push_back(s->received());
    return out;
  }
  bool refuse = false;
  std::vector<Reply> script = kGoodAuth;
  std::vector<std::unique_ptr<ScriptServer>> servers;
};

}  // namespace rc::test
