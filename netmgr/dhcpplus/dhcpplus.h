// DHCP+ login to the ISP's authentication server, run by netmgr on command 21
// once the WAN DHCP lease is bound.
#pragma once

#include <cstdint>

#include "netmgr/dhcp_auth.h"

// One complete, blocking exchange: hangup of an earlier login, request,
// user-name step and password step. Returns 1 when the server accepted the
// password, 0 otherwise.
int dodhcpauth(const char *name, const char *pwd);

// Sends the exchange to ip_nbo (network byte order) and port instead of the
// deployment's server and port, for tests against a server on loopback.
// dhcpplus_set_server(0, 0) goes back to the deployment values.
void dhcpplus_set_server(uint32_t ip_nbo, uint16_t port);

namespace rc {

// The login client as netmgr's DhcpAuth.
class DhcpPlusLogin : public DhcpAuth {
 public:
  int dodhcpauth(const char *name, const char *pwd) override { return ::dodhcpauth(name, pwd); }
};

}  // namespace rc
