// fwmgr, the firewall and services manager: fills the firewall chains that
// netmgr creates (port forwarding, DMZ, ALG blocking, the scheduled client,
// URL and MAC filters, IP-MAC binding, QoS marks and classes, attack defence
// and application blocking, management access, the DNS proxy rule), writes
// the kernel's connection-limit table, adds static routes, runs the DDNS and
// UPnP clients with the WAN and keeps httpd and trafmon alive. Once a second it takes one command from queue 203,
// re-evaluates the three scheduled filters and, every 8th pass, restarts a
// missing trafmon or httpd.
//
// All process-wide state lives in this object under the names the system's
// documents use; the outside world is reached only through the services
// passed in. Every feature is a record of kFeatures (features.cpp): a read
// step (store to table, no shell), a load step (table to command lines)
// and, where it has them, an unload step and WAN steps; its store keys are
// declared in kFwSettings (settings.cpp).
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "common/daemon.h"
#include "common/services.h"
#include "common/settings.h"

namespace rc {

// The shell runner fwmgr uses: a 32768-byte vk_SystemEx buffer, no echo.
constexpr ShellOptions kFwShellOptions{32768, false};

// Weekly window of a filter record: start and end time, day flags (Sunday first).
struct Schedule {
  uint8_t startHour, startMin, endHour, endMin;
  uint8_t days[7];
};

struct PortEntry {
  int32_t enable;    // 1 = active
  int32_t wanport;   // 1..65535
  int32_t lanport;   // 1..65535
  int32_t protocol;  // 1 TCP, 2 UDP, 3 both
  char host[16];     // LAN host, a checked IPv4 address
};

struct ClientRecord {
  int32_t applied;  // 1 while the record's lines are in ip_filter
  int32_t mode;     // 0 = block the ports, else only the ports pass
  uint16_t startPort, endPort;
  Schedule sched;
  int32_t protocol;  // 0 TCP, 1 UDP, 2 both
  char startIp[16], endIp[16];
};

struct UrlRecord {
  int32_t applied;
  int32_t mode;  // 0 = block the keywords, else only the keywords pass
  Schedule sched;
  char startIp[16], endIp[16];
  char keywords[128];  // ","-separated
};

struct MacRecord {
  int32_t applied;
  int32_t mode;  // 0 = drop during the schedule, else drop outside it
  Schedule sched;
  char mac[20];
};

struct IpMacPair {
  char ip[16];   // a checked IPv4 address
  char mac[20];  // a checked MAC address
};

struct QosRecord {
  int32_t enable;  // nonzero = loaded; 1 counts for activeqos
  int32_t upfirst, uprate;
  int32_t downfirst, downrate;
  int32_t group;  // 0 = classes per address, else one pair for the range
  char startIp[16], endIp[16];
};

class FwMgr;

// The store keys fwmgr reads, by feature (settings.cpp).
extern const SettingTable kFwSettings;

// A chain of the firewall that only one feature fills.
struct FwChain {
  const char *table;  // "filter" or "nat"
  const char *name;
};

// One feature of fwmgr: which command re-reads it, which chains it alone
// fills (emptied when fwmgr restarts) and its steps. A step left out is not
// run. The WAN steps run only while the WAN is up: on WAN-up and WAN-down,
// and after the feature's command when the WAN counts as up.
struct FwFeature {
  using Step = void (*)(FwMgr &);
  Note name;            // for the reader; the program does not carry it
  uint8_t cmd;          // command of queue 203 that re-reads it; 0 = none
  FwChain chains[2];    // chains it alone fills
  Step read;            // store to state, with the store open; start and command
  Step load;            // the rules that do not need the WAN
  Step unload;          // removes the rules before the command re-reads
  Step wanLoad;         // the rules that need the WAN
  Step wanUnload;
  Step reread;          // the command's read step, where it differs from read
  void (*pass)(FwMgr &, const struct tm &now);     // on every pass
  void (*command)(FwMgr &, const FwFeature &self);  // replaces FwMgr::reload
};

class FwMgr : public Daemon {
 public:
  static constexpr key_t kQueueKey = 203;
  static constexpr int kMaxPorts = 32;
  static constexpr int kMaxClients = 32;
  static constexpr int kMaxUrls = 32;
  static constexpr int kMaxMacs = 256;
  static constexpr int kMaxIpMac = 256;
  static constexpr int kMaxQos = 32;
  static constexpr int kMaxRoutes = 10;
  // A per-address QoS record classes at most this many addresses.
  static constexpr unsigned kMaxQosRange = 1024;
  static constexpr size_t kListBufSize = 8192;      // client and URL lists
  static constexpr size_t kMacListBufSize = 32768;  // MAC list
  static constexpr unsigned kWatchdogEvery = 8;     // passes

  // The start wait; after the start-up semaphore and queue 203, then the tick.
  static constexpr DaemonSpec kDaemon{kQueueKey, DaemonSpec::kStartWait, DaemonSpec::kTick, nullptr};

  explicit FwMgr(const Services &s);

  bool onStart() override {
    start();
    return true;
  }

  // Start-up up to the IPC objects: LAN and WAN state, every read step, the
  // load steps that do not depend on the WAN, kinwatch restarted.
  void start();

  // One command of queue 203; numbers without a row are ignored.
  void onCommand(long cmd) override;
  // Periodic work of a pass: the three scheduled filters, the watchdog.
  void onTick() override;

  // --- Skeleton (fwmgr.cpp) ---
  // The features, in the order of their lines (features.cpp).
  static const FwFeature kFeatures[];
  static const size_t kFeatureCount;
  // The record of a command number, or nullptr.
  static const FwFeature *featureFor(long cmd);
  // The usual command: the old rules go (with the WAN up, the WAN rules
  // too, for a feature without an unload step), the keys are read again,
  // the rules loaded, the WAN rules while the WAN is up.
  void reload(const FwFeature &f);
  void wanUp();    // command 2
  void wanDown();  // command 3, and before a repeated command 2
  void upnpSwitch();  // command 16
  void upnpStart();
  void upnpStop();
  void cmdLanWeb(const FwFeature &self);  // command 14
  // Empties the chains the feature owns (of one table, or all).
  void flushChains(const FwFeature &f, const char *table = nullptr);
  void clearDdnsStatus();  // "echo 0 > /etc/ddns" before command 17
  // Start-up: the rules and WAN services a killed instance left are removed.
  void removeLeftovers();
  void watchdog();
  void restart_proc(const char *name);
  void loadkinwatch();

  // --- Port forwarding, DMZ, ALG blocking (portmap.cpp) ---
  int readportmapconfig();
  int loadportmapconfig();
  int unloadportmapconfig();
  int readdmzconfig();
  int loaddmzconfig();
  int unloaddmzconfig();
  void readalgconfig();
  int loadalgconfig();

  // --- Client, URL and MAC filters (filters.cpp) ---
  // Joins the values of the keys <prefix>0, <prefix>1, ... that hold count
  // records (perKey per key) with "~" into buf[size]. Returns 0.
  int readspecialdata(char *buf, size_t size, int count, const char *prefix, int perKey);
  int readclientconfig();
  int readurlconfig();
  int readmacconfig();
  // The load steps compare each record with the local time of the pass.
  int loadclientconfig(const struct tm &now);
  int loadurlconfig(const struct tm &now);
  int loadmacconfig(const struct tm &now);
  int unloadclientconfig();
  int unloadurlconfig();
  int unloadmacconfig();
  // Copies the keyword list into dst[size] with every "," turned into "~".
  static int geturlstring(char *dst, size_t size, const char *list);
  static int inSchedule(const Schedule &s, const struct tm &now);

  // --- IP-MAC binding (ipmacbind.cpp) ---
  int readipmacbindconfig();
  int loadipmacbindconfig(int add);  // 1 adds the rules, anything else removes them

  // --- QoS (qos.cpp) ---
  int readqosconfig();
  int loadqosconfig();
  int unloadqosconfig();

  // --- Attack defence and application blocking (attack.cpp) ---
  int readattackconfig();
  int loadattackconfig();
  int unloadattackconfig();
  void wanPingRule(char op);  // 'A' or 'D', only when wanping is 1

  // --- Management access, DDNS, DNS, connection limits, routes (services.cpp) ---
  int readwebaccessconfig();
  int readwanwebconfig();
  void loadlanwebrules();
  void loadwanwebrule();
  void unloadwanwebrule();
  int readddnsconfig();
  int loadddnsconfig();
  int unloadddnsconfig();
  void dnsOverride();  // with the store open
  void dnsRestore();
  void readdnsconfig();  // command 18: dnsOverride or dnsRestore by dnsen
  int loaddnsproxy();
  int unloaddnsproxy();
  int loadnatlimitconfig();  // with the store open
  int loadroutestatic();     // with the store open

  // --- Process-wide state, under its documented names ---
  char lanname[16] = "";
  char strlanip[16] = "";
  uint32_t lanip = 0, lanmask = 0;
  int netsize = 0, ndepth = 0;
  char strlannet[16] = "";
  int wanconntype = 0;
  char wanname[16] = "";
  char strwanip[16] = "", strwanmask[16] = "";
  int wanconnflag = 0;
  int upnpen = 0;
  unsigned tickcount = 0;
  // 1 from a WAN-up procedure, or from a command that loaded WAN rules while
  // the WAN counted as up, to the next WAN-down: WAN rules are in place.
  int wanloaded = 0;

  PortEntry portinfo[kMaxPorts] = {};
  int portmnum = 0;
  int dmzen = 0;
  char dmzip[16] = "";
  char algMask[8] = "";
  ClientRecord clientinfo[kMaxClients] = {};
  int clientnum = 0;
  UrlRecord urlinfo[kMaxUrls] = {};
  int urlnum = 0;
  MacRecord macinfo[kMaxMacs] = {};
  int macnum = 0;

  IpMacPair ipmacbindinfo[kMaxIpMac] = {};
  int ipmacbindnum = 0;
  int ipmacbindother = 0;
  QosRecord qosinfo[kMaxQos] = {};
  int qosnum = 0, activeqos = 0;

  int attackflags = 0, ipscan = 0, portscan = 0, icmpflood = 0, udpflood = 0, synflood = 0;
  int wanping = 0, lanping = 0;
  int ActiveX = 0, Javascript = 0, Sock4 = 0, Sock5 = 0, Httpproxy = 0;
  int QQ = 0, MSN = 0, BT = 0, eDonkey = 0, Virus = 0;
  char qqip[256] = "", msnip[256] = "";  // "~"-separated checked addresses

  // The management addresses are an address or a network ("203.0.113.0/24",
  // up to "255.255.255.255/32"), or empty. A refused value sets the flag
  // beside it and never counts as "any": no WAN management rule, and the
  // LAN pages admit no host (or keep the rules in force, on command 14).
  int webaccessen = 0;
  char lanwebip[20] = "";
  int lanwebipbad = 0;
  int weblistenport = 80;
  int wanweben = 0;
  char wanwebip[20] = "";
  int wanwebipbad = 0;
  int wanwebport = 0;
  int ddnsen = 0, ddnstype = 0;
  char ddnsuser[32] = "", ddnspwd[32] = "", ddnsdomain[64] = "";
  char pridns[16] = "";

  // Buffers kept for the daemon's whole life.
  char listbuf[kMacListBufSize] = "";  // a joined record list
  char value[2048] = "";               // one store value
  char pairlist[kMaxIpMac * 36 + 1] = "";  // the IP-MAC pairs as the targets take them

  int readNumber(const char *key);

 private:
  // Reads an address key into dst; a value that is not an IPv4 address is
  // refused (printed) and leaves dst empty.
  void readAddress(const char *key, char (&dst)[16]);
  void readLan();
  void setWanName();
  void readIfAddress(bool withMask);
  void arpRule(char op);
  // True when strwanip, strlanip and strlannet can go into a rule; prints why not.
  bool natAddressesOk(const char *feature);
  void clientLines(const ClientRecord &r, const char *action);
  void urlLines(const UrlRecord &r, const char *action);
  void qosAddressLines(const QosRecord &r);
  // Reads a port key: a number from 1 to 65535, else (printed) fallback.
  int readPort(const char *key, int fallback);
  // Reads a management address key into dst: an address, a network or
  // empty. Anything else leaves dst empty and returns false.
  bool readNet(const char *key, char (&dst)[20]);

  Services s_;
  Shell &sh_;
  ConfigStore &cfm_;
  SettingsStore settings_;  // every store read, through the key tables
};

}  // namespace rc
