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

#include "common/daemon.h"
#include "common/services.h"
#include "common/settings.h"
#include "netmgr/dhcp_auth.h"
#include "netmgr/syslog_ring.h"

namespace rc {

// The store keys netmgr reads, by feature (settings.cpp).
extern const SettingTable kNetSettings;

class NetMgr;

// A command of queue 204 that belongs to one WAN type (its connect and
// disconnect, its lease events). It runs whatever type is active.
struct WanCommand {
  long cmd;
  void (*run)(NetMgr &);
};

// One WAN connection type of netmgr: the wan_connecttype number that
// selects it and its steps. A step left out is not run. Applying the type
// (start-up, command 4) runs read, files and start in this order, with the
// store open; the other steps run only while it is the active type, except
// its commands.
struct WanType {
  using Step = void (*)(NetMgr &);
  int type;             // wan_connecttype
  Step read;            // store to state
  Step files;           // the files its programs read, from that state
  Step start;           // the bring-up
  Step stop;            // the tear-down of command 4, before the next type
  Step wanUp;           // command 2, after the masquerade rule of wanname
  Step wanDown;         // command 3, after that rule is deleted
  Step pass;            // every pass
  WanCommand commands[3];
};

class NetMgr final : public Daemon {
 public:
  static constexpr key_t kQueueKey = 204;
  static constexpr size_t kRingSize = sizeof(syslog_ring);
  // No start wait; semaphore and queue 204 after the start-up, then the tick.
  static constexpr DaemonSpec kDaemon{kQueueKey, DaemonSpec::kNoWait, DaemonSpec::kTick, nullptr};

  // auth is null in a build without the ISP login client.
  NetMgr(const Services &s, DhcpAuth *auth);

  bool onStart() override {
    start();
    return true;
  }
  // Segment 205, cleared, and the start record in it.
  void onQueue() override;

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

  // --- The WAN types (wan_types.cpp), in wan_connecttype order ---
  static const WanType kWanTypes[];
  static const size_t kWanTypeCount;
  // The record of a wan_connecttype number, or null.
  static const WanType *wanType(int type);

  // --- Static WAN (wan_static.cpp) ---
  void setwanstaticip(const char *ifname, const char *ip, const char *mask, const char *gw,
                      const char *dns1, const char *dns2, const char *mtu);
  void unsetwanstaticip(const char *ifname, const char *ip, const char *mask, const char *gw,
                        const char *dns1, const char *dns2, const char *mtu);

  // --- DHCP client on eth2.2 (wan_dhcp.cpp): the DHCP and DHCP+ types and
  // the underlay of PPTP and L2TP with a dynamic address ---
  void Set_dhcpc_conf(const char *bound, const char *lost);
  void setwandhcp(const char *ifname, const char *mtu, const char *bound, const char *lost);
  void unsetwandhcp(const char *ifname, const char *mtu);

  // --- The PPP types' option files (wan_pppoe.cpp, wan_pptp.cpp,
  // wan_l2tp.cpp; what they share: ppp_files.cpp) ---
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
  int nshmid = -1;
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
  // --- What the types share (netmgr.cpp) ---
  void applyWanType(bool reconfigure);
  void dhcpServerRestart();
  void wanUpNotice();
  void wanDownNotice();
  // The number a key holds (atoi of its value).
  int readNumber(const char *key);
  // MTU rule of the directly carried WAN: the number when 256 <= m < 1500, else 0.
  static int usableMtu(const char *mtu);
  void addMssClamp(char op, int mtu);
  // Prints the reason and returns false when a non-empty value is not an address.
  bool checkAddress(const char *what, const char *value, bool allowEmpty);
  // Appends fixed lines to a file, one doSystemCmd each: "echo LINE >> FILE "
  // (quote 0), "echo 'LINE' >> FILE " or "echo \"LINE\" >> FILE ".
  void echoLines(const char *file, char quote, const char *const *lines, size_t n);
  template <size_t N>
  void echoLines(const char *file, char quote, const char *const (&lines)[N]) {
    echoLines(file, quote, lines, N);
  }

  // --- The steps of the types (kWanTypes), one file each ---
  // Static address (wan_static.cpp).
  void staticRead();
  void staticStart();
  void staticStop();
  // DHCP (wan_dhcp.cpp).
  void dhcpRead();
  void dhcpConnect();  // also command 6
  void dhcpStop();     // DHCP+ too
  void dhcpRelease();  // commands 5 and 11
  // PPPoE (wan_pppoe.cpp).
  void pppoeRead();
  void pppoeFiles();
  void pppoeStart();
  void pppoeTearDown();
  void pppoeUp();
  void mssClampRemoval();  // its WAN-down
  void pppoeSchedule();    // its pass
  void pppoeDisconnect();  // command 7
  void pppoeConnect();     // command 8
  void startPppoe();
  void pppoeStop();
  // The PPPoE MTU as a number, or -1 (with a printed reason) when it is not one.
  int pppoeMtu() const;
  // DHCP+ (wan_dhcpplus.cpp).
  void dhcpplusRead();
  void dhcpplusConnect();  // also command 10
  void dhcpplusLogin();    // command 21
  // PPTP (wan_pptp.cpp).
  void pptpRead();
  void pptpFiles();
  void pptpStart();
  void pptpMasquerade(char op);  // its WAN-up ('A') and WAN-down ('D')
  void pptpConnect();     // command 12
  void pptpDisconnect();  // command 13
  void pptpBound();       // command 23
  void startPptp();
  // L2TP (wan_l2tp.cpp).
  void l2tpRead();
  void l2tpFiles();
  void l2tpStart();
  void l2tpConnect();     // command 14
  void l2tpDisconnect();  // command 15
  void l2tpBound();       // command 25
  void startL2tpLink();

  // --- What PPTP and L2TP share (wan_tunnel.cpp) ---
  void readTunnel(const char *prefix, Tunnel &t, char (&server)[32]);
  // Fixed WAN address of a tunnel type and the host route to its server.
  void fixedTunnelAddress(const Tunnel &t, const char *server);
  void tunnelStop(const char *program);

  Services s_;
  DhcpAuth *auth_;
  Shell &sh_;
  ConfigStore &cfm_;
  SettingsStore settings_;  // every store read, through the key tables
};

}  // namespace rc
