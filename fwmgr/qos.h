// QoS bandwidth control: the records and their steps (qos.cpp).
#pragma once
#include <cstdint>

namespace rc {

class FwMgr;

struct QosRecord {
  int32_t enable;  // nonzero = loaded; 1 counts for activeqos
  int32_t upfirst, uprate;
  int32_t downfirst, downrate;
  int32_t group;  // 0 = classes per address, else one pair for the range
  char startIp[16], endIp[16];
};

struct Qos {
  static constexpr int kMaxQos = 32;
  // A per-address record classes at most this many addresses.
  static constexpr unsigned kMaxQosRange = 1024;

  QosRecord qosinfo[kMaxQos] = {};
  int qosnum = 0, activeqos = 0;

  int readqosconfig(FwMgr &m);
  int loadqosconfig(FwMgr &m);
  int unloadqosconfig(FwMgr &m);
  void qosAddressLines(FwMgr &m, const QosRecord &r);
};

}  // namespace rc
