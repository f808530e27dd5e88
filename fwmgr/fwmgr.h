// fwmgr, the firewall and services manager: fills the firewall chains that
// netmgr creates (port forwarding, DMZ, ALG blocking, the scheduled client,
// URL and MAC filters, IP-MAC binding, QoS marks and classes, attack defence
// and application blocking, management access, the DNS proxy rule), writes
// the kernel's connection-limit table, adds static routes, runs the DDNS and
// UPnP clients with the WAN and keeps httpd and trafmon alive. Once a second it takes one command from queue 203,
// re-evaluates the three scheduled filters and, every 8th pass, restarts a
// missing trafmon or httpd.
//
// The process-wide state lives in this object under the names the system's
// documents use; the outside world is reached only through the services
// passed in. Every feature is a record of kFeatures (features.cpp): a read
// step (store to table, no shell), a load step (table to command lines)
// and, where it has them, an unload step and WAN steps; its store keys are
// declared in kFwSettings (settings.cpp). A feature's state and steps are a
// struct of its own, declared in its header (portmap.h, filters.h, ...);
// this object holds one of each, and the steps reach the process-wide
// state, the shell and the store through the FwMgr they are given.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "common/daemon.h"
#include "common/services.h"
#include "common/settings.h"
#include "fwmgr/attack.h"
#include "fwmgr/filters.h"
#include "fwmgr/ipmacbind.h"
#include "fwmgr/portmap.h"
#include "fwmgr/qos.h"
#include "fwmgr/services.h"

namespace rc {

// The shell runner fwmgr uses: a 32768-byte vk_SystemEx buffer, no echo.
constexpr ShellOptions kFwShellOptions{32768, false};

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

class FwMgr final : public Daemon {
 public:
  static constexpr key_t kQueueKey = 203;
  static constexpr int kMaxRoutes = 10;
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
  // Empties the chains the feature owns (of one table, or all).
  void flushChains(const FwFeature &f, const char *table = nullptr);
  // Start-up: the rules and WAN services a killed instance left are removed.
  void removeLeftovers();
  void watchdog();
  void restart_proc(const char *name);
  void loadkinwatch();

  // --- For the features' steps ---
  Shell &sh() { return sh_; }
  const Services &services() const { return s_; }
  SettingsStore &settings() { return settings_; }
  int readNumber(const char *key);
  // Reads an address key into dst; a value that is not an IPv4 address is
  // refused (printed) and leaves dst empty.
  void readAddress(const char *key, char (&dst)[16]);
  // Joins the values of the keys <prefix>0, <prefix>1, ... that hold count
  // records (perKey per key) with "~" into buf[size]. Returns 0.
  int readspecialdata(char *buf, size_t size, int count, const char *prefix, int perKey);
  // True when strwanip, strlanip and strlannet can go into a rule; prints why not.
  bool natAddressesOk(const char *feature);

  // --- Connection limits and static routes (services.cpp) ---
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

  // One store value, kept for the daemon's whole life.
  char value[2048] = "";

  // --- The features' state, one struct each. Those with large tables
  // come last (below): a field within 32 KB of the object's start is
  // reached with one instruction on the board ---
  Dmz dmz;
  Alg alg;
  Attack attack;
  WanWeb wanweb;
  LanWeb lanweb;
  Ddns ddns;
  Dns dns;

 private:
  void readLan();
  void setWanName();
  void readIfAddress(bool withMask);
  void arpRule(char op);

  Services s_;
  Shell &sh_;
  ConfigStore &cfm_;
  SettingsStore settings_;  // every store read, through the key tables

 public:
  // The features with large tables, after everything the steps reach often.
  PortMap portmap;
  Qos qos;
  ClientFilter client;
  UrlFilter url;
  MacFilter mac;
  IpMacBind ipmacbind;

  // A joined record list, kept for the daemon's whole life.
  char listbuf[kMacListBufSize] = "";
};

}  // namespace rc
