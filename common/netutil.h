// Small address, time and text utilities shared by the daemons.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>

namespace rc {

// Reads at most size-1 bytes from the start of the file into buf (one read,
// no stdio buffer, so it allocates nothing) and NUL-terminates them. Returns
// the number of bytes read, or -1 when the file cannot be opened or read.
long read_head(const char *path, char *buf, size_t size);

// Integer value of the first number in an uptime-style file (whole seconds
// for /proc/uptime); 0 when the file cannot be opened.
long GetUptime(const char *path);

// Counts the leading one bits of mask (network byte order) into netsize and
// sets ndepth: 0 for a prefix of 24 or more, 1 for 16..23, 2 for 8..15; below
// 8 ndepth is left as it is. netsize is not reset first, so each daemon calls
// this once at start. Always 0.
int getdepth(uint32_t mask, int &netsize, int &ndepth);

// The WAN interface of a connection type: "eth2.2" for the types carried on
// the WAN port itself (1 static, 2 DHCP, 4 DHCP+), "ppp0" for the PPP types
// (3 PPPoE, 5 PPTP, 6 L2TP), nullptr for any other number.
const char *wan_ifname(int conntype);

// The LAN network of an address and mask (network byte order) as a dotted
// quad into out, with netsize and ndepth set from the mask as getdepth sets them.
void lan_network(uint32_t ip, uint32_t mask, char (&out)[16], int &netsize, int &ndepth);

// Copies the n-th (1 = first) "nameserver" address of the resolv.conf file at
// path into out[size] (cut to fit). Returns n when found, otherwise 0.
int getDns(int n, char *out, size_t size, const char *path);

// Whether COPY holds the bytes of ORIGINAL (files written by command lines,
// whose failure the shell runner does not pass back): -1 when ORIGINAL
// cannot be read (there was nothing to copy), 0 when the copy is whole, 1
// when it is missing or differs.
int copy_differs(const char *original, const char *copy);

// Address and mask of an interface (network byte order). The address is
// stored even when the mask query fails. Returns the mask query's result:
// 0 on success.
int getipmask(const char *ifname, uint32_t *addr, uint32_t *mask);

// 1 when tm lies in the weekly window: its weekday flag (0 = Sunday) is set
// and start <= now <= end in minutes; start and end both 00:00 mean the whole
// day; an end before the start never matches.
int time_is_in_area(const struct tm *tm, int startHour, int startMin, int endHour, int endMin,
                    const int weekdays[7]);

// Validation of configuration values before they reach a command line.
// A dotted quad, each part 0..255 written without leading zeros.
bool is_ipv4(const char *s);
// A dotted quad, optionally followed by "/" and a prefix length 0..32 (a
// source restriction such as "203.0.113.0/24").
bool is_ipv4_net(const char *s);
bool is_hostname(const char *s);  // letters, digits, '-' and '.', not empty
bool is_mac(const char *s);       // xx:xx:xx:xx:xx:xx, hex digits

// The form in which a value, refused or not, is printed in a message: at most
// its first kShownMax bytes, each byte outside printable ASCII and each
// backslash written as \xNN, and "..." after a value that was cut. A stored
// value can then neither forge lines of a daemon's output (newlines, escape
// sequences) nor flood it. The result lives in out[size]; kShownSize holds
// any value.
constexpr size_t kShownMax = 64;
constexpr size_t kShownSize = kShownMax * 4 + 4;
const char *shown(const char *value, char *out, size_t size);
template <size_t N>
const char *shown(const char *value, char (&out)[N]) {
  return shown(value, out, N);
}

// Shell form of free text (user names, passwords, domains, ...): returned as
// it is when every character is in A-Za-z0-9._@:/+=,- (so ordinary values give
// exactly the documented line), otherwise wrapped in single quotes with each
// quote written as '\''. The result lives in out[size]; a value that would not
// fit gives the empty quoted string "''" so nothing cut reaches the shell.
const char *shell_quote(const char *value, char *out, size_t size);
template <size_t N>
const char *shell_quote(const char *value, char (&out)[N]) {
  return shell_quote(value, out, N);
}
// True when shell_quote would return the value unchanged.
bool shell_plain(const char *value);

}  // namespace rc
