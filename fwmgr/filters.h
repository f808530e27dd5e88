// The client, URL and MAC access filters: records with a weekly schedule,
// the state of each filter and its steps (filters.cpp).
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>

namespace rc {

class FwMgr;

// Weekly window of a filter record: start and end time, day flags (Sunday first).
struct Schedule {
  uint8_t startHour, startMin, endHour, endMin;
  uint8_t days[7];
};

int inSchedule(const Schedule &s, const struct tm &now);

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

// The load steps compare each record with the local time of the pass.
struct ClientFilter {
  static constexpr int kMaxClients = 32;

  ClientRecord clientinfo[kMaxClients] = {};
  int clientnum = 0;

  int readclientconfig(FwMgr &m);
  int loadclientconfig(FwMgr &m, const struct tm &now);
  int unloadclientconfig(FwMgr &m);
  void clientLines(FwMgr &m, const ClientRecord &r, const char *action);
};

struct UrlFilter {
  static constexpr int kMaxUrls = 32;

  UrlRecord urlinfo[kMaxUrls] = {};
  int urlnum = 0;

  int readurlconfig(FwMgr &m);
  int loadurlconfig(FwMgr &m, const struct tm &now);
  int unloadurlconfig(FwMgr &m);
  void urlLines(FwMgr &m, const UrlRecord &r, const char *action);
  // Copies the keyword list into dst[size] with every "," turned into "~".
  static int geturlstring(char *dst, size_t size, const char *list);
};

struct MacFilter {
  static constexpr int kMaxMacs = 256;

  MacRecord macinfo[kMaxMacs] = {};
  int macnum = 0;

  int readmacconfig(FwMgr &m);
  int loadmacconfig(FwMgr &m, const struct tm &now);
  int unloadmacconfig(FwMgr &m);
};

}  // namespace rc
