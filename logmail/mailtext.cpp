// The mail's text: the body table from the ring and the header block.
#include <cstdio>
#include <cstring>

#include "logmail/logmail.h"

namespace rc {

// 时间 (time)
const char kWordTime[] = "\xca\xb1\xbc\xe4";
// 类型 (type)
const char kWordType[] = "\xc0\xe0\xd0\xcd";
// 内容 (content)
const char kWordContent[] = "\xc4\xda\xc8\xdd";

namespace {

#define RULER "+------------------------------------------------------+\r\n"
// The heading row, 56 bytes wide like the rulers (two bytes per GBK character).
#define HEADING "|       \xca\xb1\xbc\xe4        | \xc0\xe0\xd0\xcd |      \xc4\xda\xc8\xdd                 |\r\n"

const char kHeadFmt[] =
    "Subject: ORBEX K5 Router System Log\r\n"
    "From: \"%s\" <%s>\r\n"
    "To: %s\r\n"
    "Date: %s\r\n"
    "Content-Type: text/plain; charset=GBK\r\n"
    "\r\n\r\n" RULER HEADING RULER;

}  // namespace

int LogMail::getlogbuffer(char *body) {
  body[0] = '\0';
  bodyFull = false;
  if (!logshmptr) return 0;
  // netmgr may write the ring meanwhile: `next` is read once, and each
  // record is copied before it is read. A pass with no new record copies
  // nothing (the whole ring every second would be 32 KB through the cache).
  int w = static_cast<const volatile syslog_ring *>(logshmptr)->next, s = currsendindex;
  if (w < 0 || w >= kRingSlots) return 0;  // never trust the segment's bytes
  int n = s <= w ? w - s : w - s + kRingSlots;
  size_t used = 0;
  for (int k = 0; k < n; ++k) {
    char *slot = slotcopy_;
    memcpy(slot, logshmptr->slot[(s + k) % kRingSlots], kRingSlotSize);
    slot[kRingSlotSize - 1] = '\0';
    size_t len = strlen(slot);
    if (len > 0) slot[--len] = '\0';  // the record's newline
    const char *msg = slot + (len < 20 ? len : 20);
    if (len >= 27 && (memcmp(slot + 20, "kernel:", 7) == 0 || memcmp(slot + 20, "syslog:", 7) == 0))
      msg = slot + (len < 28 ? len : 28);
    int wrote = snprintf(body + used, kBodySize - used, " %.19s system %s\n", slot, msg);
    if (wrote < 0 || used + static_cast<size_t>(wrote) >= kBodySize) {
      body[used] = '\0';  // this record and the rest wait for the next mail
      bodyFull = true;
      return k;
    }
    used += static_cast<size_t>(wrote);
  }
  return n;
}

void LogMail::dateText(char (&out)[40]) {
  struct tm tm;
  s_.clock.localNow(&tm);
  size_t len = strftime(out, sizeof out, "%a, %d %b %Y %H:%M:%S ", &tm);
  // Index 12 is UTC. Zones run from -12 to +14 hours; a stored index
  // outside them is taken as the nearest end (and 12 - tzone cannot overflow).
  int zone = tzone < 0 ? 0 : tzone > 26 ? 26 : tzone;
  if (zone >= 12)
    snprintf(out + len, sizeof out - len, "+%02d00", zone - 12);
  else
    snprintf(out + len, sizeof out - len, "-%02d00", 12 - zone);
}

size_t LogMail::mailHead(char (&out)[kHeadSize]) {
  char date[40];
  dateText(date);
  snprintf(out, sizeof out, kHeadFmt, smtp.user_name, smtp.from_mail, smtp.to_mail, date);
  return strlen(out);
}

int LogMail::smtpSendHead() {
  char head[kHeadSize];
  size_t len = mailHead(head);
  return smtp.sendRequest(head, len);
}

int LogMail::smtpSendBody() { return smtp.smtpSendData(syslogbuf); }

}  // namespace rc
