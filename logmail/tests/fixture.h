// A logmail wired to test doubles: the store in memory, the clock stepped by
// hand, a ring of its own and a scripted mail server behind every connection.
#pragma once
#include <cstdio>
#include <string>

#include "common/bstr.h"
#include "logmail/logmail.h"
#include "smtp/tests/script_server.h"
#include "testkit_gtest.h"

namespace rc::test {

// netmgr's start record, in GBK.
inline std::string started() { return toGbk("系统初始化完成"); }

class LogMailTest : public ::testing::Test {
 protected:
  LogMailTest() {
    store.set("email_from", "router@isp.sim");
    store.set("email_to", "admin@isp.sim");
    store.set("email_server", "10.250.0.1");
    store.set("email_user", "router");
    store.set("email_pwd", "mailpass");
    store.set("email_en", "1");
    store.set("email_num", "1");
    store.set("timezone", "20");
    mail.readmailconfig();
    bcopy_text(mail.smtp.local_host, "testhost");
    mail.logshmptr = &ring;
  }

  // Writes a record the way netmgr does: "<time> <message>\n" in slot next.
  void addRecord(const std::string &msg, const char *stamp = "2023-11-14 22:13:20") {
    snprintf(ring.slot[ring.next], kRingSlotSize, "%s %s\n", stamp, msg.c_str());
    ring.next = (ring.next + 1) % kRingSlots;
    if (ring.count < kRingSlots) ring.count++;
  }
  // Runs passes; returns how many connections were made meanwhile.
  size_t passes(int n) {
    size_t before = net.hosts.size();
    for (int i = 0; i < n; ++i) mail.onTick();
    return net.hosts.size() - before;
  }

  MemStore store;
  FakeClock clock{1700000000};  // Tue, 14 Nov 2023 22:13:20 (UTC as local time)
  ScriptedNet net;
  syslog_ring ring{};
  LogMail mail{MailServices{store, clock, net, 60}};
};

}  // namespace rc::test
