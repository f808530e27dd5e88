// kinwatch: builds the production services and runs the URL access logger.
#include "kinwatch/detach.h"
#include "kinwatch/kinwatch.h"

int main() {
  static rc::Forever<rc::PosixShell> sh;
  static const rc::Forever<rc::SystemServices> sys(*sh);
  static rc::Forever<rc::KinWatch> kw(sys->services(), rc::kinwatch_detach, &rc::kinwatch_run);
  return kw->kinwatch_cmd();
}
