// The status page's CGI, /cgi-bin/status: prints the router's figures as
// JSON (see status.h). It takes no input (no query, no request body) and
// writes nothing but its answer.
#include <cstdio>
#include <ctime>

#include "tools/statjson.h"
#include "www/status.h"

int main() {
  static rc::syslog_ring ring;
  static rc::hosttable hosts;
  static rc::sysstat sys;
  rc::Segments seg{};
  if (rc::copy_segment(rc::kRingKey, &ring, sizeof ring)) seg.ring = &ring;
  if (rc::copy_segment(rc::kTrafKey, &hosts, sizeof hosts)) seg.hosts = &hosts;
  if (rc::copy_segment(rc::kSysStatKey, &sys, sizeof sys)) seg.sys = &sys;

  rc::NvramStore store;
  rc::Paths paths = rc::Paths::fromEnvironment();
  rc::WanState wan;
  rc::read_wan(store, paths, rc::if_addr, wan);

  fputs("Content-Type: application/json; charset=utf-8\r\n"
        "Cache-Control: no-store\r\n"
        "X-Content-Type-Options: nosniff\r\n\r\n",
        stdout);
  rc::status_json(stdout, seg, wan, paths, time(nullptr));
  return fflush(stdout) == 0 ? 0 : 1;
}
