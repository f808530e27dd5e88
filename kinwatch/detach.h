// Production set-up of the logger process (see detach.cpp).
#pragma once
#include <signal.h>

#include <cstdio>

namespace rc {

// 1 until SIGTERM arrives.
extern volatile sig_atomic_t kinwatch_run;
// Detaches (working directory and standard streams kept) and installs the
// signal handlers.
void kinwatch_detach();

}  // namespace rc
