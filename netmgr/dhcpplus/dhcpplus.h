// DHCP+ login to the ISP's authentication server, run by netmgr on command 21
// once the WAN DHCP lease is bound: rc::DhcpPlusLogin (dhcpauth.h).
#pragma once

#include "dhcpauth.h"
