// The schedule watcher's entry. The schedule thread (a pass over the job
// files once a minute) comes with the scheduling work; this build does not
// start it, and SvcInit goes on without schedules.
#pragma once

namespace ovsvc {

// Thread procedure of the schedule watcher (not started in this build).
void SchedProc();

}  // namespace ovsvc
