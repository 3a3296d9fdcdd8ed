// The system's identifier of the calling thread, as the logs show it.
#pragma once
#include <cstdint>

namespace platform {

uint32_t currentThreadId();

}  // namespace platform
