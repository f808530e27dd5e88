// netmgr, the network manager: brings up the switch VLANs, the LAN bridge and
// address, the firewall chain skeleton, the WAN of the configured type and the
// LAN DHCP server, then takes commands from queue 204 once a second, applies
// the PPPoE schedule and copies firewall attack events into the system log.
//
// All process-wide state lives in this object under the names the system's
// documents use; the outside world is reached only through the services
// passed in, so every command line and file can be checked in unit tests.
#pragma once
#include <cstdint>

#include "common/cfm.h"
#include "common/clock.h"
#include "common/paths.h"
#include "common/proc.h"
#include "common/settings.h"
#include "common/shell.h"
#include "common/tick.h"
#include "netmgr/syslog_ring.h"

namespace rc {

// The store keys netmgr reads, by feature (settings.cpp).
extern const SettingTable kNetSettings;

// The ISP login exchange: 1 when the server accepted the password.
using DhcpAuthFn = int (*)(const char *name, const char *pwd);

struct NetServices {
  Shell &sh;
  ConfigStore &cfm;
  Clock &clock;
  const Paths &paths;
  Processes &procs;
  DhcpAuthFn dodhcpauth;
};

class NetMgr : public TickDaemon {
 public:
  static constexpr key_t kQueueKey = 204;
  static constexpr size_t kRingSize = sizeof(syslog_ring);

  explicit NetMgr(const NetServices &s);

  // Startup steps up to closing the store: Ethernet, LAN, kernel settings,
  // firewall chains, WAN of the configured type and the DHCP server.
  void start();
  // Last startup step once the segment is attached: the start record.
  void attachRing(syslog_ring *ring);

  // One command of queue 204; unknown numbers are ignored.
  void onCommand(long cmd) override;
  // Periodic work of a pass: PPPoE schedule, firewall event log.
  void onTick() override;

  // --- Ethernet, switch VLAN and LAN (eth.cpp) ---
  int GetEthMac(char lanmac[18], char wanmac[18]);
  int Init_Eth();
  int setwanmodespeed(int first, int second);
  void write_kernel_lanip(const char *ip, const char *mask);

  // --- Static and DHCP WAN (wan_ip.cpp) ---
  void setwanstaticip(const char *ifname, const char *ip, const char *mask, const char *gw,
                      const char *dns1, const char *dns2, const char *mtu);
  void unsetwanstaticip(const char *ifname, const char *ip, const char *mask, const char *gw,
                        const char *dns1, const char *dns2, const char *mtu);
  void Set_dhcpc_conf(const char *bound, const char *lost);
  void setwandhcp(const char *ifname, const char *mtu, const char *bound, const char *lost);
  void unsetwandhcp(const char *ifname, const char *mtu);

  // --- PPP option files and scripts (ppp_files.cpp) ---
  void Set_pppoe_conf(const char *user, const char *pwd, const char *service, const char *ac,
                      const char *mtu);
  void Set_pptp_conf(const char *user, const char *pwd, const char *server, const char *mtu,
                     const char *mppe);
  void Set_l2tp_conf(const char *user, const char *pwd, const char *server, const char *mtu);

  // --- LAN DHCP server (dhcpd_conf.cpp) ---
  int GenDhcpdCfgFile();

  // --- Firewall event log (syslog_ring.cpp) ---
  void read_fw_log();

  // --- Process-wide state, under its documented names ---
  int wanconntype = 0;
  char wanname[16] = "";
  char lanname[16] = "";
  char strwanip[16] = "", strwanmask[16] = "", strwangate[16] = "";
  char strwandns1[16] = "", strwandns2[16] = "";
  char strwanmtu[16] = "";
  char strlannet[16] = "";
  char pptp_ser[32] = "", l2tp_ser[32] = "";
  uint32_t lanip = 0, lanmask = 0;
  int netsize = 0, ndepth = 0;
  int pppd_alive_flag = 0;
  int ppp_conn_type = 0;
  int ppp_conn_wait_time = 0;
  int ppp_conn_start_min = 0, ppp_conn_end_min = 0;
  int nsemid = -1, nmsgid = -1, nshmid = -1;
  syslog_ring *shmptr = nullptr;

  // Buffers the main routine keeps for its whole life.
  char lan_ip[32] = "", lan_mask[32] = "";
  struct {
    char user[64], pwd[64], mtu[64], service[64], ac[64];
  } pppoe = {};
  struct Tunnel {
    char user[64], pwd[64];
    char mtu[8], mppe[8], addrmode[8];
    char wanip[32], wanmask[32], wangw[32];
  };
  Tunnel pptp = {}, l2tp = {};
  char dhcpplus_name[32] = "", dhcpplus_pwd[32] = "";
  char scratch[128] = "";
  char dhcpStaticip[16384] = "";  // static lease list of the DHCP server

 private:
  void applyWanType(bool reconfigure);
  void tearDownWan();
  void pppoeStop();
  void tunnelStop(const char *program);
  void mssClampRemoval();
  void dhcpServerRestart();
  void wanUpNotice();
  void wanDownNotice();
  void startPppoe();
  void startL2tpLink();
  void pppoeSchedule();
  void readTunnel(const char *prefix, Tunnel &t, char (&server)[32]);
  // Fixed WAN address of a tunnel type and the host route to its server.
  void fixedTunnelAddress(const Tunnel &t, const char *server);
  // The PPPoE MTU as a number, or -1 (with a printed reason) when it is not one.
  int pppoeMtu() const;
  // The number a key holds (atoi of its value).
  int readNumber(const char *key);
  // MTU rule of the directly carried WAN: the number when 256 <= m < 1500, else 0.
  static int usableMtu(const char *mtu);
  void addMssClamp(char op, int mtu);
  // Prints the reason and returns false when a non-empty value is not an address.
  bool checkAddress(const char *what, const char *value, bool allowEmpty);

  NetServices s_;
  Shell &sh_;
  ConfigStore &cfm_;
  SettingsStore settings_;  // every store read, through the key tables
};

}  // namespace rc
