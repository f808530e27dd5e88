// The ISP login exchange as netmgr sees it (command 21): DHCP+ in
// production, a scripted result in unit tests.
#pragma once

namespace rc {

class DhcpAuth {
 public:
  // Never destroyed through a pointer to this base: no virtual destructor.
 protected:
  ~DhcpAuth() = default;

 public:
  // One whole exchange; 1 when the server accepted the password.
  virtual int dodhcpauth(const char *name, const char *pwd) = 0;
};

}  // namespace rc
