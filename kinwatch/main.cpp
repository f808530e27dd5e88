// kinwatch: builds the production services and runs the URL access logger.
#include "common/shell.h"
#include "kinwatch/detach.h"
#include "kinwatch/kinwatch.h"

int main() {
  rc::stdio_line_buffered();
  static rc::PosixShell sh;
  static rc::NvramStore store;
  static rc::SystemClock clock;
  static const rc::Paths paths = rc::Paths::fromEnvironment();
  static rc::KinWatch kw({sh, store, clock, paths, rc::kinwatch_detach, &rc::kinwatch_run});
  return kw.kinwatch_cmd();
}
