// A DHCP+ authentication server for tests and the simulation: checks every
// datagram the client sends (size, packet key, digest, user name, DES
// password) and answers hangup, request, user-name and password steps,
// optionally misbehaving in ways a broken or hostile server could.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "dhcpcrypt.h"

namespace dhcpplus_server {

enum Step { kStepHangup, kStepRequest, kStepUser, kStepPassword, kStepCount, kStepUnknown = -1 };

enum class Fault {
    None,
    Silent,      // no answer
    WrongCode,   // answer with a code the client does not expect
    Long,        // datagram one byte longer than its length field + 8
    Short,       // datagram one byte shorter than its length field + 8
    Opt4Len6,    // request ack: option 4 of length 6
    Opt4Zero,    // request ack: option 4 holding 0.0.0.0
    Opt4Two,     // request ack: option 4 of length 8, announce then second address
    Opt10One,    // user-name ack: option 10 holding 1 instead of 0x80
    NoOpt10,     // authentication ack without option 10
};

struct StepFault {
    Fault fault = Fault::None;
    int times = -1;   // how many datagrams of the step get the fault; -1: all
};

struct Config {
    uint32_t listen_ip = 0;     // network byte order
    uint16_t port = 0;          // 0: any free port (see Server::port)
    uint32_t announce_ip = 0;   // option 4 of the request ack; 0: listen_ip
    uint32_t second_ip = 0;     // second address of Opt4Two
    char user[64] = {};
    char password[64] = {};
    int delay_ms = 0;           // wait before each answer
    StepFault faults[kStepCount];
    dhcpplus::Secrets secrets = dhcpplus::kDeploymentSecrets;
};

// What the server saw of one datagram and what it did.
struct Record {
    Step step = kStepUnknown;
    uint8_t code = 0;
    uint8_t seq = 0;
    uint32_t src_ip = 0;   // network byte order
    uint16_t src_port = 0;
    size_t size = 0;
    bool size_ok = false;     // size = length field + 8, length 10..504
    bool key_ok = false;      // packet key matches the deciphered payload
    bool digest_ok = false;   // option 24 last and its digest right
    bool options_ok = false;  // the options the step needs, in order
    bool user_ok = false;
    bool password_ok = false;
    uint32_t client_ip = 0;   // option 1
    uint8_t pwd_len = 0;      // plaintext length in option 9
    uint8_t pwd_cipher_len = 0;
    bool answered = false;
    Fault fault = Fault::None;   // fault applied to the answer
};

const char *step_name(Step step);
const char *fault_name(Fault fault);
// Parses "silent", "wrong-code", ...; returns false for an unknown name.
bool parse_fault(const char *name, Fault *out);
bool parse_step(const char *name, Step *out);

class Server {
public:
    static constexpr size_t kMaxRecords = 256;

    Server() = default;
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;
    ~Server();

    // Binds the socket; returns false (with errno set) when it cannot.
    bool open(const Config &config);
    void close();
    uint16_t port() const { return port_; }

    // Handles at most one datagram, waiting up to timeout_ms for it.
    // Returns 1 when one was handled, 0 on timeout, -1 on error.
    int poll_once(int timeout_ms);

    // Handles datagrams until *stop becomes true (checked every 20 ms).
    void run(const std::atomic<bool> *stop);

    size_t count() const { return count_; }
    const Record &record(size_t i) const { return records_[i]; }
    void clear_records() { count_ = 0; }

    // One line describing a record, for the program's output.
    static void describe(const Record &r, char *out, size_t size);

private:
    void handle(const uint8_t *pkt, size_t n, uint32_t src_ip, uint16_t src_port);
    bool check_password(const uint8_t *value, size_t len, uint32_t client_ip,
                        uint16_t src_port, Record *rec) const;
    void answer(Step step, const Record &rec, uint32_t dst_ip, uint16_t dst_port);

    Config config_;
    int fd_ = -1;
    uint16_t port_ = 0;
    int used_[kStepCount] = {};   // faulty answers given per step
    uint8_t prefix_ = 0;
    Record records_[kMaxRecords];
    size_t count_ = 0;
};

}  // namespace dhcpplus_server
