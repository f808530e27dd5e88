// The DHCP+ exchange against the test server over real UDP on loopback.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "dhcpauth.h"
#include "dhcpplus.h"
#include "test_secrets.h"
#include "testserver.h"

using namespace dhcpplus;
using dhcpplus_server::Config;
using dhcpplus_server::Fault;
using dhcpplus_server::Record;
using dhcpplus_server::Server;
using dhcpplus_server::Step;
using dhcpplus_server::kStepHangup;
using dhcpplus_server::kStepPassword;
using dhcpplus_server::kStepRequest;
using dhcpplus_server::kStepUser;

namespace {

// Short receive waits keep the silent-server cases quick; the loopback
// server answers within microseconds. The delayed-server test uses the
// production wait.
constexpr int kTestWaitMs = 100;

// True when nothing else holds the local ports the exchange binds, so that
// exact port numbers can be expected.
bool ports_free(uint16_t first, uint16_t last) {
    for (unsigned port = first; port <= last; port++) {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        const bool ok = bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
        close(fd);
        if (!ok)
            return false;
    }
    return true;
}

struct FaultSpec {
    Step step;
    Fault fault;
    int times;
};

class Exchange : public dhcpplus_testing::LoginTest {
protected:
    void SetUp() override {
        recv_wait_ms = kTestWaitMs;
        ports_free_ = ports_free(1153, 1170);
    }
    void TearDown() override {
        stop();
        recv_wait_ms = kRecvWaitMs;
        setServer(0, 0);
    }

    Config base_config() {
        Config c;
        c.listen_ip = htonl(INADDR_LOOPBACK);
        strcpy(c.user, "alice");
        strcpy(c.password, "secret12");
        return c;
    }

    void start(const Config &config) {
        ASSERT_TRUE(server_.open(config)) << strerror(errno);
        setServer(htonl(INADDR_LOOPBACK), server_.port());
        stop_ = false;
        thread_ = std::thread([this] { server_.run(&stop_); });
    }
    void stop() {
        if (thread_.joinable()) {
            stop_ = true;
            thread_.join();
        }
    }
    int login(const char *user, const char *pwd) {
        const int r = dodhcpauth(user, pwd);
        stop();
        return r;
    }

    // "hangup request user password": the steps the server saw, in order.
    std::string course() const {
        std::string s;
        for (size_t i = 0; i < server_.count(); i++) {
            if (!s.empty())
                s += ' ';
            s += dhcpplus_server::step_name(server_.record(i).step);
        }
        return s;
    }

    // Every datagram well formed, sequence numbers 1, 2, 3, ...
    void expect_well_formed() const {
        for (size_t i = 0; i < server_.count(); i++) {
            const Record &r = server_.record(i);
            SCOPED_TRACE(i);
            EXPECT_TRUE(r.size_ok);
            EXPECT_TRUE(r.options_ok);
            EXPECT_TRUE(r.key_ok);
            EXPECT_TRUE(r.digest_ok);
            EXPECT_EQ(r.seq, i + 1);
            EXPECT_EQ(r.client_ip, 0u);
        }
    }

    void expect_ports(const std::vector<unsigned> &ports) const {
        ASSERT_EQ(server_.count(), ports.size());
        // Exact numbers only when the ports were free before and after the
        // exchange; another program may take some of them meanwhile.
        const bool exact = ports_free_ && ports_free(1153, 1170);
        for (size_t i = 0; i < ports.size(); i++) {
            SCOPED_TRACE(i);
            const unsigned port = server_.record(i).src_port;
            if (exact) {
                EXPECT_EQ(port, ports[i]);
            } else if (i > 0) {
                // Some of 1153... are taken on this machine: the order still holds.
                const bool same = ports[i] == ports[i - 1];
                EXPECT_EQ(port == server_.record(i - 1).src_port, same);
                EXPECT_GE(port, server_.record(i - 1).src_port);
            }
        }
    }

    Server server_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    bool ports_free_ = false;
};

TEST_F(Exchange, FullLogin) {
    start(base_config());
    EXPECT_EQ(login("alice", "secret12"), 1);
    EXPECT_EQ(course(), "hangup request user password");
    expect_well_formed();
    expect_ports({1153, 1154, 1155, 1155});
    EXPECT_TRUE(server_.record(2).user_ok);
    EXPECT_TRUE(server_.record(3).password_ok);
    EXPECT_EQ(udp_fd, 0);   // socket closed
}

TEST_F(Exchange, Courses) {
    struct Case {
        const char *what;
        std::vector<FaultSpec> faults;
        const char *user, *pwd;
        int result;
        const char *course;
        std::vector<unsigned> ports;
    };
    const char *H = "hangup request user password";
    const std::vector<unsigned> ok_ports = {1153, 1154, 1155, 1155};
    const Case cases[] = {
        {"nobody answers",
         {{kStepHangup, Fault::Silent, -1}, {kStepRequest, Fault::Silent, -1}},
         "alice", "secret12", 0, "hangup request request request", {1153, 1154, 1155, 1156}},
        {"hangup ack never comes", {{kStepHangup, Fault::Silent, -1}},
         "alice", "secret12", 1, H, ok_ports},
        {"hangup ack with a wrong code", {{kStepHangup, Fault::WrongCode, -1}},
         "alice", "secret12", 1, H, ok_ports},
        {"hangup ack one byte long", {{kStepHangup, Fault::Long, -1}},
         "alice", "secret12", 1, H, ok_ports},
        {"request ack lost once", {{kStepRequest, Fault::Silent, 1}},
         "alice", "secret12", 1, "hangup request request user password",
         {1153, 1154, 1155, 1156, 1156}},
        {"request ack with a wrong code", {{kStepRequest, Fault::WrongCode, -1}},
         "alice", "secret12", 0, "hangup request request request", {1153, 1154, 1155, 1156}},
        {"request ack one byte long", {{kStepRequest, Fault::Long, -1}},
         "alice", "secret12", 0, "hangup request request request", {1153, 1154, 1155, 1156}},
        {"request ack one byte short", {{kStepRequest, Fault::Short, -1}},
         "alice", "secret12", 0, "hangup request request request", {1153, 1154, 1155, 1156}},
        {"option 4 of length 6", {{kStepRequest, Fault::Opt4Len6, -1}},
         "alice", "secret12", 0, "hangup request request request", {1153, 1154, 1155, 1156}},
        {"option 4 naming 0.0.0.0", {{kStepRequest, Fault::Opt4Zero, -1}},
         "alice", "secret12", 0, "hangup request request request", {1153, 1154, 1155, 1156}},
        {"option 4 of length 6 once", {{kStepRequest, Fault::Opt4Len6, 1}},
         "alice", "secret12", 1, "hangup request request user password",
         {1153, 1154, 1155, 1156, 1156}},
        {"user ack holding 1", {{kStepUser, Fault::Opt10One, -1}},
         "alice", "secret12", 0, "hangup request user user user", {1153, 1154, 1155, 1156, 1157}},
        {"user ack lost once", {{kStepUser, Fault::Silent, 1}},
         "alice", "secret12", 1, "hangup request user user password",
         {1153, 1154, 1155, 1156, 1156}},
        {"user ack without option 10", {{kStepUser, Fault::NoOpt10, -1}},
         "alice", "secret12", 0, "hangup request user user user", {1153, 1154, 1155, 1156, 1157}},
        {"user ack with a wrong code", {{kStepUser, Fault::WrongCode, -1}},
         "alice", "secret12", 0, "hangup request user user user", {1153, 1154, 1155, 1156, 1157}},
        {"user ack one byte long once", {{kStepUser, Fault::Long, 1}},
         "alice", "secret12", 1, "hangup request user user password",
         {1153, 1154, 1155, 1156, 1156}},
        {"password ack lost twice", {{kStepPassword, Fault::Silent, 2}},
         "alice", "secret12", 1, "hangup request user password password password",
         {1153, 1154, 1155, 1155, 1155, 1155}},
        {"password ack never comes", {{kStepPassword, Fault::Silent, -1}},
         "alice", "secret12", 0, "hangup request user password password password",
         {1153, 1154, 1155, 1155, 1155, 1155}},
        {"password ack one byte short", {{kStepPassword, Fault::Short, -1}},
         "alice", "secret12", 0, "hangup request user password password password",
         {1153, 1154, 1155, 1155, 1155, 1155}},
        {"password ack without option 10", {{kStepPassword, Fault::NoOpt10, -1}},
         "alice", "secret12", 0, "hangup request user password password password",
         {1153, 1154, 1155, 1155, 1155, 1155}},
        {"wrong password", {}, "alice", "secret13", 0,
         "hangup request user password password password", {1153, 1154, 1155, 1155, 1155, 1155}},
        {"wrong user", {}, "mallory", "secret12", 0, "hangup request user user user",
         {1153, 1154, 1155, 1156, 1157}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Config config = base_config();
        for (const FaultSpec &f : c.faults)
            config.faults[f.step] = {f.fault, f.times};
        start(config);
        EXPECT_EQ(login(c.user, c.pwd), c.result);
        EXPECT_EQ(course(), c.course);
        expect_well_formed();
        expect_ports(c.ports);
        EXPECT_EQ(udp_fd, 0);
        server_.close();
        server_.clear_records();
    }
}

TEST_F(Exchange, TwoServerAddressesUseTheFirst) {
    Config config = base_config();
    config.faults[kStepRequest] = {Fault::Opt4Two, -1};
    config.announce_ip = htonl(INADDR_LOOPBACK);
    config.second_ip = htonl(0x7f000003);   // nobody listens there
    start(config);
    EXPECT_EQ(login("alice", "secret12"), 1);
    EXPECT_EQ(course(), "hangup request user password");
    EXPECT_EQ(srv_ip, htonl(INADDR_LOOPBACK));
}

TEST_F(Exchange, PasswordLengths) {
    struct Case {
        const char *pwd;
        unsigned plain_len, cipher_len;
    };
    const Case cases[] = {
        {"", 0, 0},
        {"secret12", 8, 8},
        {"abcdefghijklmnopqrstuvwxyz01234", 31, 32},
        {"0123456789abcdefghijklmnopqrstuvwxyzABCD", 40, 32},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pwd);
        Config config = base_config();
        strcpy(config.password, c.pwd);
        start(config);
        EXPECT_EQ(login("alice", c.pwd), 1);
        ASSERT_EQ(course(), "hangup request user password");
        EXPECT_EQ(server_.record(3).pwd_len, c.plain_len);
        EXPECT_EQ(server_.record(3).pwd_cipher_len, c.cipher_len);
        EXPECT_EQ(server_.record(3).size, 54 + 5 + c.cipher_len);
        server_.close();
        server_.clear_records();
    }
}

TEST_F(Exchange, ServerAnsweringAfter50msWithTheRealWait) {
    recv_wait_ms = kRecvWaitMs;
    Config config = base_config();
    config.delay_ms = 50;
    start(config);
    EXPECT_EQ(login("alice", "secret12"), 1);
    EXPECT_EQ(course(), "hangup request user password");
}

TEST_F(Exchange, BusyPortIsSkipped) {
    if (!ports_free_)
        GTEST_SKIP() << "ports 1153-1170 partly in use on this machine";
    const int blocker = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(1154);
    ASSERT_EQ(bind(blocker, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    start(base_config());
    EXPECT_EQ(login("alice", "secret12"), 1);
    close(blocker);
    ASSERT_EQ(server_.count(), 4u);
    EXPECT_EQ(server_.record(0).src_port, 1153);
    EXPECT_EQ(server_.record(1).src_port, 1155);
    EXPECT_EQ(server_.record(2).src_port, 1156);
    EXPECT_EQ(server_.record(3).src_port, 1156);
}

}  // namespace
