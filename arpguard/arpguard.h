// arpguard, the ARP defence daemon: at the interval of "arp_defence" it
// broadcasts on br0 a gratuitous ARP request announcing br0's own address
// with br0's own MAC address, so the LAN's ARP caches keep pointing at the
// router. Command 1 on queue 207 makes it read the setting again.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "common/cfm.h"
#include "common/daemon.h"

namespace rc {

constexpr size_t kArpFrameSize = 64;

// Builds the 64-byte announcement of ip (network byte order) with mac.
void getarppacket(const uint8_t ip[4], const uint8_t mac[6], uint8_t frame[kArpFrameSize], int *len);

// The third field of "arp_defence" into flag and everything after the third
// comma into interval. Returns 0 (and leaves both untouched) when the value
// has fewer than three commas.
int parse_arp_defence(const char *value, int *flag, int *interval);

// The packet socket on the LAN bridge and the bridge's addresses.
class ArpLink {
 public:
  // Never destroyed through a pointer to this base: no virtual destructor.
 protected:
  ~ArpLink() = default;

 public:
  virtual int open() = 0;                    // the socket; -1 on failure
  virtual int bindDevice(const char *name) = 0;  // SO_BINDTODEVICE; -1 on failure
  virtual void close() = 0;
  virtual int getIfIp(const char *name, uint8_t out[4]) = 0;   // 0, or -1
  virtual int getIfMac(const char *name, uint8_t out[6]) = 0;  // 0, or -1
  virtual int send(const uint8_t *frame, size_t len) = 0;      // bytes sent, or -1
};

class ArpGuard final : public Daemon {
 public:
  static constexpr key_t kQueueKey = 207;
  // The start wait, the start-up, queue 207, then the sleep loop.
  static constexpr DaemonSpec kDaemon{kQueueKey, DaemonSpec::kStartWait, DaemonSpec::kSleep, nullptr};

  ArpGuard(ConfigStore &cfm, ArpLink &link) : cfm_(cfm), link_(link) {}

  bool onStart() override { return start(); }
  void onNoQueue() override { link_.close(); }

  // Start steps after the first wait: socket, br0's addresses and the frame,
  // the binding to br0, the setting. False (the message printed, the socket
  // closed) when the daemon cannot run.
  bool start();
  int readarpconfig();

  void onCommand(long cmd) override;  // 1: read the setting again
  void onTick() override;             // counts the pass, announces when due

  // --- Process-wide state, under its documented names ---
  int arpflag = 0;
  int arptime = 0;
  int passes = 0;  // loop passes since the last announcement
  uint8_t mac[6] = {};
  uint8_t ip[4] = {};
  bool haveAddr = false;  // br0 had a MAC and an address when last looked up
  uint8_t frame[kArpFrameSize] = {};
  int framelen = 0;

 private:
  void lookup();

  ConfigStore &cfm_;
  ArpLink &link_;
};

// The production link: a SOCK_PACKET socket for ARP.
class PacketLink : public ArpLink {
 public:
  int open() override;
  int bindDevice(const char *name) override;
  void close() override;
  int getIfIp(const char *name, uint8_t out[4]) override;
  int getIfMac(const char *name, uint8_t out[6]) override;
  int send(const uint8_t *frame, size_t len) override;

 private:
  int fd_ = -1;
};

}  // namespace rc
