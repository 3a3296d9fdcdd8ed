#include "service/schedule_watcher.h"

namespace ovsvc {

void SchedProc() {
    // The pass over the job files belongs to the scheduling work and is not
    // part of this build; SvcInit does not start this thread.
}

}  // namespace ovsvc
