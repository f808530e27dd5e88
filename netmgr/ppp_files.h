// What the PPP-based WAN types (PPPoE, PPTP, L2TP) share in writing their
// files: the link scripts, the password files' mode and the option lines of
// free-text values (ppp_files.cpp). Every line is one shell command through
// doSystemCmd, the first creating the file, the others appending.
#pragma once

#include "common/paths.h"
#include "common/shell.h"

namespace rc::ppp {

// The PPP daemon of all three types (a process name for the signals too).
constexpr const char *kPppd = "pppd";

// How the plain echo line of an ordinary value looks.
enum class Echo {
  Bare,          // echo user V >> FILE          (pppd option file)
  SingleQuoted,  // echo user 'V' >> FILE        (pppd option file)
  DoubleQuoted,  // echo "user V" >> FILE        (pppd option file)
  Conf,          // echo 'name = V' >> FILE      (xl2tpd.conf, value as it is)
};

// Appends the option line of one free-text value to file.
void appendText(Shell &sh, const char *file, const char *key, const char *value, Echo echo);

// The MTU of a pppd option line: a plain decimal number (at most 65535);
// false, with the reason printed, for anything else.
bool pppMtu(const char *key, const char *file, const char *mtu, int *out);

// The PPTP or L2TP server: an address, a host name, or empty (the line is
// then written as it always was, without a server).
bool serverOk(const char *server, const char *file);

// ip-up and ip-down, and /etc/resolv.conf as a link to pppd's.
void writeLinkScripts(Shell &sh);

// Creates (or empties) an option file with mode 0600.
void createPrivate(const Paths &paths, const char *file);

}  // namespace rc::ppp
