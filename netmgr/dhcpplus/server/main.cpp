// dhcpplus_server: the DHCP+ test server as a program, for process tests and
// the simulation's ISP side. Prints one line when ready and one per datagram;
// exits on SIGTERM or SIGINT.
#include <arpa/inet.h>
#include <signal.h>

#include <cerrno>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dhcpplus_config.h"
#include "testserver.h"

using dhcpplus_server::Config;
using dhcpplus_server::Fault;
using dhcpplus_server::Server;
using dhcpplus_server::Step;

namespace {

std::atomic<bool> stop_requested{false};

void on_signal(int) { stop_requested.store(true); }

void usage(FILE *out) {
    fprintf(out,
            "usage: dhcpplus_server --user U --password PW [options]\n"
            "\n"
            "Answers DHCP+ hangup, request, user-name and password steps, checking each\n"
            "datagram's size, packet key, digest, user name and DES-encrypted password.\n"
            "\n"
            "  --listen ADDR      address to listen on (default: the built-in server address)\n"
            "  --port P           UDP port (default %d)\n"
            "  --user U           user name to accept\n"
            "  --password PW      password to accept\n"
            "  --announce ADDR    server address sent in option 4 of the request ack\n"
            "                     (default: the listen address, or the built-in server\n"
            "                     address when listening on 0.0.0.0)\n"
            "  --second ADDR      second address sent with the fault opt4-two\n"
            "  --delay MS         wait MS milliseconds before each answer\n"
            "  --fault STEP:KIND[:N]\n"
            "                     misbehave at STEP (hangup, request, user, password) for\n"
            "                     the first N datagrams of that step (default: all). KIND:\n"
            "                       silent      give no answer\n"
            "                       wrong-code  answer with code 3\n"
            "                       long        datagram one byte longer than length + 8\n"
            "                       short       datagram one byte shorter than length + 8\n"
            "                       opt4-len6   request ack with option 4 of length 6\n"
            "                       opt4-zero   request ack naming server 0.0.0.0\n"
            "                       opt4-two    request ack with two addresses (length 8)\n"
            "                       opt10-one   user-name ack holding 1 instead of 0x80\n"
            "                       no-opt10    authentication ack without option 10\n"
            "                     repeat --fault for several steps\n"
            "  --help             this text\n",
            DHCPPLUS_PORT);
}

bool parse_addr(const char *text, uint32_t *out) {
    in_addr a;
    if (inet_pton(AF_INET, text, &a) != 1)
        return false;
    *out = a.s_addr;
    return true;
}

bool parse_fault_arg(const char *arg, Config *config) {
    char buf[64];
    snprintf(buf, sizeof buf, "%s", arg);
    char *kind = strchr(buf, ':');
    if (kind == nullptr)
        return false;
    *kind++ = '\0';
    char *count = strchr(kind, ':');
    if (count != nullptr)
        *count++ = '\0';
    Step step;
    Fault fault;
    if (!dhcpplus_server::parse_step(buf, &step) || !dhcpplus_server::parse_fault(kind, &fault))
        return false;
    int times = -1;
    if (count != nullptr) {
        char *end;
        const long n = strtol(count, &end, 10);
        if (*count == '\0' || *end != '\0' || n < 0 || n > 1000000)
            return false;
        times = static_cast<int>(n);
    }
    config->faults[step].fault = fault;
    config->faults[step].times = times;
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    Config config;
    const uint8_t server[4] = DHCPPLUS_SERVER_BYTES;
    memcpy(&config.listen_ip, server, 4);
    config.port = DHCPPLUS_PORT;
    bool have_user = false, have_password = false;

    for (int i = 1; i < argc; i++) {
        const char *opt = argv[i];
        if (strcmp(opt, "--help") == 0) {
            usage(stdout);
            return 0;
        }
        if (i + 1 >= argc) {
            fprintf(stderr, "dhcpplus_server: %s needs a value (see --help)\n", opt);
            return 2;
        }
        const char *val = argv[++i];
        bool ok = true;
        if (strcmp(opt, "--listen") == 0) {
            ok = parse_addr(val, &config.listen_ip);
        } else if (strcmp(opt, "--announce") == 0) {
            ok = parse_addr(val, &config.announce_ip);
        } else if (strcmp(opt, "--second") == 0) {
            ok = parse_addr(val, &config.second_ip);
        } else if (strcmp(opt, "--port") == 0 || strcmp(opt, "--delay") == 0) {
            char *end;
            const long n = strtol(val, &end, 10);
            const long max = opt[2] == 'p' ? 65535 : 60000;
            ok = *val != '\0' && *end == '\0' && n >= 0 && n <= max;
            if (ok && opt[2] == 'p')
                config.port = static_cast<uint16_t>(n);
            else if (ok)
                config.delay_ms = static_cast<int>(n);
        } else if (strcmp(opt, "--user") == 0) {
            ok = strlen(val) < sizeof config.user;
            snprintf(config.user, sizeof config.user, "%s", val);
            have_user = true;
        } else if (strcmp(opt, "--password") == 0) {
            ok = strlen(val) < sizeof config.password;
            snprintf(config.password, sizeof config.password, "%s", val);
            have_password = true;
        } else if (strcmp(opt, "--fault") == 0) {
            ok = parse_fault_arg(val, &config);
        } else {
            fprintf(stderr, "dhcpplus_server: unknown option %s (see --help)\n", opt);
            return 2;
        }
        if (!ok) {
            fprintf(stderr, "dhcpplus_server: bad value for %s: %s (see --help)\n", opt, val);
            return 2;
        }
    }
    if (!have_user || !have_password) {
        fprintf(stderr, "dhcpplus_server: --user and --password are required (see --help)\n");
        return 2;
    }
    if (config.announce_ip == 0 && config.listen_ip == 0)
        memcpy(&config.announce_ip, server, 4);

    struct sigaction sa = {};
    sa.sa_handler = on_signal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    Server srv;
    char addr[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &config.listen_ip, addr, sizeof addr);
    if (!srv.open(config)) {
        fprintf(stderr, "dhcpplus_server: cannot listen on %s:%u: %s\n", addr, config.port,
                strerror(errno));
        return 1;
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    printf("dhcpplus_server ready on %s:%u\n", addr, srv.port());

    char line[256];
    while (!stop_requested.load()) {
        const int r = srv.poll_once(200);
        if (r < 0) {
            fprintf(stderr, "dhcpplus_server: receive failed: %s\n", strerror(errno));
            return 1;
        }
        for (size_t i = 0; i < srv.count(); i++) {
            Server::describe(srv.record(i), line, sizeof line);
            printf("%s\n", line);
        }
        srv.clear_records();
    }
    return 0;
}
