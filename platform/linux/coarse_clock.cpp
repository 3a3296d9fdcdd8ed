#include "platform/coarse_clock.h"

#include <time.h>

namespace platform {

int64_t coarseMonotonicMs() {
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1'000'000;
}

}  // namespace platform
