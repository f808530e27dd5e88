// Whether a service reference (ClockRef, IpcRef, ProcessesRef) was ever
// made from a test's double. Only the constructors that take a double set
// it, and each method of a reference calls its double only when it is set.
// No daemon makes such a reference, so no daemon writes the flag: link-time
// optimisation reads it as its initial false and drops, from every method,
// the branch and the call through the double's interface
// (docs/cross-build.md, "Size").
#pragma once

namespace rc {

extern bool seams_doubled;

}  // namespace rc
