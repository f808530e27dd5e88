// The mail settings (email_*, timezone): read at start and on command 1, then
// the mail header built from them.
#include "fuzzkit.h"
#include "logmail/logmail.h"

namespace {
const char *const kKeys[] = {"email_from", "email_to",    "email_server", "email_user",
                             "email_pwd",  "email_en",    "email_timeen", "email_time",
                             "email_numen", "email_num",  "timezone"};
// Never reached: no mail is sent here.
class NoNet : public rc::SmtpSocket {
 public:
  int connectTo(const char *, uint16_t) override { return -1; }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  using namespace rc::fuzz;
  quiet_stdout();
  static rc::test::MemStore store;
  static rc::test::FixedClock clock(rc::fuzz::kStillTime);
  static NoNet net;
  static rc::LogMail *mail = new rc::LogMail(rc::MailServices{store, clock, net, 60});
  fill_store(store, kKeys, sizeof kKeys / sizeof *kKeys, data, size);
  mail->readmailconfig();
  char head[rc::LogMail::kHeadSize];
  size_t n = mail->mailHead(head);
  if (n >= sizeof head || strlen(head) != n) abort();
  return 0;
}
