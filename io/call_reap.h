// Children that nobody waits for.
//
// A child started without waiting would stay a zombie until the process
// ends. A SIGCHLD handler reaps those children, and only those: their pids
// are recorded here, so a child that other code waits for (a waited call,
// the console's or a test's own child) keeps its status for that code's
// waitpid.
//
// The handler may run on any thread at any moment, and the runtime thread
// sweeps the record after each adoption (the child may have ended before its
// pid was recorded, when its SIGCHLD found nothing to reap). Each slot is an
// atomic pid that whoever reaps the child empties.
#pragma once

#include <sys/types.h>

#include <cstdint>

namespace zuv::call {

// Start-up: a SIGCHLD that whoever started us left ignored makes the
// system reap every child at once, and no waited call could take its
// status; it is set back to the default.
void unignore_child_signal();
// Records a started child that nobody will wait for: it is reaped once it
// has ended. Installs the SIGCHLD handler on first use.
void adopt(pid_t pid);
// Reaps recorded children that have ended. The handler does this for the
// table; children recorded past its end are only reaped here, so each call
// runs it too.
void reap_ended();
// Recorded children not reaped yet.
int32_t adopted_count();

}  // namespace zuv::call
