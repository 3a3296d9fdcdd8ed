// A monotonic clock that costs neither a system call nor a read of the
// precise clock: milliseconds that move in steps of the kernel's tick (a few
// milliseconds). For checks made thousands of times a second that only ask
// whether some tens of milliseconds have passed.
#pragma once
#include <cstdint>

namespace platform {

int64_t coarseMonotonicMs();

}  // namespace platform
