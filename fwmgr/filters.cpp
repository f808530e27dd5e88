// The client, URL and MAC access filters: records with a weekly schedule,
// read from numbered record lists (readspecialdata), whose lines are added to
// ip_filter, url_filter and mac_filter when a record enters its schedule and
// deleted when it leaves it. The load steps run every pass; a pass in which
// no record changes runs no command line.
#include <cstdio>
#include <cstring>

#include "common/bstr.h"
#include "common/netutil.h"
#include "fwmgr/fields.h"
#include "fwmgr/filters.h"
#include "fwmgr/fwmgr.h"

namespace rc {

namespace {

constexpr const char *kClientChain = "ip_filter";
constexpr const char *kUrlChain = "url_filter";
constexpr const char *kMacChain = "mac_filter";

// The schedule fields: sh ":" sm "-" eh ":" em ";" day0 ";" ... day6 ";".
bool readSchedule(FieldReader &f, Schedule &s) {
  int sh, sm, eh, em;
  if (!f.number(':', sh, "start hour") || !f.number('-', sm, "start minute") ||
      !f.number(':', eh, "end hour") || !f.number(';', em, "end minute"))
    return false;
  s.startHour = static_cast<uint8_t>(sh);
  s.startMin = static_cast<uint8_t>(sm);
  s.endHour = static_cast<uint8_t>(eh);
  s.endMin = static_cast<uint8_t>(em);
  static const char *const kDayNames[7] = {"Sunday flag",   "Monday flag", "Tuesday flag",
                                           "Wednesday flag", "Thursday flag", "Friday flag",
                                           "Saturday flag"};
  for (int d = 0; d < 7; ++d) {
    int flag;
    if (!f.number(';', flag, kDayNames[d])) return false;
    s.days[d] = flag != 0;
  }
  return true;
}

bool readRange(FieldReader &f, char (&start)[16], char (&end)[16]) {
  return f.text('-', start, sizeof start, "start address") && f.text(';', end, sizeof end, "end address");
}

// Why an address pair cannot go into a rule, or nullptr.
const char *badRange(const char *start, const char *end) {
  if (!is_ipv4(start)) return "start address is not an IPv4 address";
  if (!is_ipv4(end)) return "end address is not an IPv4 address";
  return nullptr;
}

// Client and URL records: a record entering its schedule runs its lines
// with "-A", one leaving it with "-D"; the others run nothing.
template <typename Record, typename Lines>
void followSchedules(Record *records, int count, const struct tm &now, Lines lines) {
  for (int i = 0; i < count; ++i) {
    Record &r = records[i];
    int in = inSchedule(r.sched, now);
    if (in == r.applied) continue;
    r.applied = in;
    lines(r, in ? "-A" : "-D");
  }
}

// The keyword list goes into the line as it is when every keyword is plain
// text; anything else is quoted, so the shell hands the match the same bytes.
// A "~" at the start of a word, or after ":" or "=", could be expanded.
bool plainKeywords(const char *list) {
  if (!*list || *list == ',' || !shell_plain(list)) return false;
  for (const char *p = list + 1; *p; ++p)
    if (*p == ',' && (p[-1] == ':' || p[-1] == '=')) return false;
  return true;
}

}  // namespace

int inSchedule(const Schedule &s, const struct tm &now) {
  int days[7];
  for (int d = 0; d < 7; ++d) days[d] = s.days[d];
  return time_is_in_area(&now, s.startHour, s.startMin, s.endHour, s.endMin, days);
}

int FwMgr::readspecialdata(char *buf, size_t size, int count, const char *prefix, int perKey) {
  buf[0] = '\0';
  if (count <= 0 || perKey <= 0) return 0;
  int keys = count / perKey + (count % perKey ? 1 : 0);
  char key[48];
  bool cut = false;
  for (int i = 0; i < keys; ++i) {
    snprintf(key, sizeof key, "%s%d", prefix, i);
    settings_.get(key, value);
    if (i > 0) bappend_text(buf, size, "~");
    size_t before = strlen(buf);
    bappend_text(buf, size, value);
    cut = cut || strlen(buf) - before < strlen(value);
  }
  if (cut) printf("fwmgr: the records of %s* exceed %d bytes; the list is cut\n", prefix,
                  static_cast<int>(size) - 1);
  return 0;
}

// ---------------------------------------------------------------- client filter

int ClientFilter::readclientconfig(FwMgr &m) {
  memset(clientinfo, 0, sizeof clientinfo);
  clientnum = 0;
  if (m.readNumber("client_filter_en") == 0) return 1;
  int count = m.readNumber("client_filter_num");
  if (count > kMaxClients) count = kMaxClients;
  m.readspecialdata(m.listbuf, FwMgr::kListBufSize, count, "client_filter_", 8);
  forEachRecord(m.listbuf, count, "client filter", [&](int n, const char *p, const char *end) {
    ClientRecord r = {};
    FieldReader f(p, end);
    int mode, sport, eport, protocol;
    const char *why = nullptr;
    if (!f.number(';', mode, "mode") || !readRange(f, r.startIp, r.endIp) ||
        !f.port('-', sport, "start port", 0) || !f.port(';', eport, "end port", 0) ||
        !f.number(';', protocol, "protocol") || !readSchedule(f, r.sched))
      why = f.why();
    else
      why = badRange(r.startIp, r.endIp);
    if (why) {
      printf("fwmgr: client filter record %d dropped: %s\n", n, why);
      return;
    }
    r.mode = mode;
    r.startPort = static_cast<uint16_t>(sport);
    r.endPort = static_cast<uint16_t>(eport);
    r.protocol = protocol;
    clientinfo[clientnum++] = r;
  });
  return 1;
}

void ClientFilter::clientLines(FwMgr &m, const ClientRecord &r, const char *action) {
  static const struct {
    int protocol;
    const char *name;
  } kProtocols[] = {{0, "tcp"}, {1, "udp"}};
  for (const auto &pr : kProtocols) {
    if (r.protocol != 2 && r.protocol != pr.protocol) continue;
    if (r.mode == 0) {
      m.sh().vk_SystemEx("iptables -t filter %s %s -p %s --dport %d:%d -m iprange --src-range %s-%s -j DROP",
                         action, kClientChain, pr.name, r.startPort, r.endPort, r.startIp, r.endIp);
    } else {
      m.sh().vk_SystemEx("iptables -t filter %s %s -p %s --dport %d:%d -m iprange --src-range %s-%s -j ACCEPT",
                         action, kClientChain, pr.name, r.startPort, r.endPort, r.startIp, r.endIp);
      m.sh().vk_SystemEx("iptables -t filter %s %s -p %s -m iprange --src-range %s-%s -j DROP", action,
                         kClientChain, pr.name, r.startIp, r.endIp);
    }
  }
}

int ClientFilter::loadclientconfig(FwMgr &m, const struct tm &now) {
  followSchedules(clientinfo, clientnum, now, [&](const ClientRecord &r, const char *action) {
    clientLines(m, r, action);
  });
  return 1;
}

int ClientFilter::unloadclientconfig(FwMgr &m) {
  m.sh().vk_SystemEx("iptables -t filter -F %s", kClientChain);
  return 1;
}

// ---------------------------------------------------------------- URL filter

int UrlFilter::geturlstring(char *dst, size_t size, const char *list) {
  bcopy_text(dst, size, list);
  for (char *p = dst; *p; ++p)
    if (*p == ',') *p = '~';
  return 1;
}

int UrlFilter::readurlconfig(FwMgr &m) {
  memset(urlinfo, 0, sizeof urlinfo);
  urlnum = 0;
  if (m.readNumber("url_filter_en") == 0) return 1;
  int count = m.readNumber("url_filter_num");
  if (count > kMaxUrls) count = kMaxUrls;
  m.readspecialdata(m.listbuf, FwMgr::kListBufSize, count, "url_filter_", 8);
  forEachRecord(m.listbuf, count, "URL filter", [&](int n, const char *p, const char *end) {
    UrlRecord r = {};
    FieldReader f(p, end);
    int mode;
    const char *why = nullptr;
    if (!f.number(';', mode, "mode") || !readRange(f, r.startIp, r.endIp) ||
        !f.text(';', r.keywords, sizeof r.keywords, "keywords") || !readSchedule(f, r.sched))
      why = f.why();
    else
      why = badRange(r.startIp, r.endIp);
    if (why) {
      printf("fwmgr: URL filter record %d dropped: %s\n", n, why);
      return;
    }
    r.mode = mode;
    urlinfo[urlnum++] = r;
  });
  return 1;
}

void UrlFilter::urlLines(FwMgr &m, const UrlRecord &r, const char *action) {
  char list[sizeof r.keywords];
  char quoted[4 * sizeof r.keywords + 3];
  geturlstring(list, sizeof list, r.keywords);
  const char *arg = plainKeywords(r.keywords) ? list : shell_quote(list, quoted);
  const char *listed = r.mode == 0 ? "DROP" : "ACCEPT";
  const char *others = r.mode == 0 ? "ACCEPT" : "DROP";
  // An empty list has no keyword line (it would name no keyword and fail);
  // the "*" line still decides every web request of the range.
  if (r.keywords[0])
    m.sh().vk_SystemEx(
        "iptables -t filter %s %s -p tcp --dport 80 -m iprange --src-range %s-%s -m groupurl --src-groupurl %s -j %s",
        action, kUrlChain, r.startIp, r.endIp, arg, listed);
  m.sh().vk_SystemEx(
      "iptables -t filter %s %s -p tcp --dport 80 -m iprange --src-range %s-%s -m groupurl --src-groupurl \"*\" -j %s",
      action, kUrlChain, r.startIp, r.endIp, others);
}

int UrlFilter::loadurlconfig(FwMgr &m, const struct tm &now) {
  followSchedules(urlinfo, urlnum, now, [&](const UrlRecord &r, const char *action) {
    urlLines(m, r, action);
  });
  return 1;
}

int UrlFilter::unloadurlconfig(FwMgr &m) {
  m.sh().vk_SystemEx("iptables -t filter -F %s", kUrlChain);
  return 1;
}

// ---------------------------------------------------------------- MAC filter

int MacFilter::readmacconfig(FwMgr &m) {
  memset(macinfo, 0, sizeof macinfo);
  macnum = 0;
  if (m.readNumber("mac_filter_en") == 0) return 1;
  int count = m.readNumber("mac_filter_num");
  if (count > kMaxMacs) count = kMaxMacs;
  m.readspecialdata(m.listbuf, FwMgr::kMacListBufSize, count, "mac_filter_", 16);
  forEachRecord(m.listbuf, count, "MAC filter", [&](int n, const char *p, const char *end) {
    MacRecord r = {};
    FieldReader f(p, end);
    int mode;
    const char *why = nullptr;
    if (!f.number(';', mode, "mode") || !f.text(';', r.mac, sizeof r.mac, "MAC address") ||
        !readSchedule(f, r.sched))
      why = f.why();
    else if (!is_mac(r.mac))
      why = "MAC address is not six hexadecimal pairs separated by \":\"";
    if (why) {
      printf("fwmgr: MAC filter record %d dropped: %s\n", n, why);
      return;
    }
    r.mode = mode;
    macinfo[macnum++] = r;
  });
  return 1;
}

int MacFilter::loadmacconfig(FwMgr &m, const struct tm &now) {
  for (int i = 0; i < macnum; ++i) {
    MacRecord &r = macinfo[i];
    int in = inSchedule(r.sched, now);
    // Mode 0 drops during the schedule, any other mode outside it.
    int drop = r.mode == 0 ? in : !in;
    if (drop == r.applied) continue;
    r.applied = drop;
    if (drop)
      m.sh().vk_SystemEx("iptables -t filter -A %s -m mac --mac-source %s -j DROP", kMacChain, r.mac);
    else
      m.sh().vk_SystemEx("iptables -t filter -D %s -m mac --mac-source %s -j DROP", kMacChain, r.mac);
  }
  return 1;
}

int MacFilter::unloadmacconfig(FwMgr &m) {
  m.sh().vk_SystemEx("iptables -t filter -F %s", kMacChain);
  return 1;
}

}  // namespace rc
