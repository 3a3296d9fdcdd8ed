// Counts the forks of this process: a child sees a new number, so state
// that belongs to the parent (a connection, a mount namespace's view) can be
// dropped without asking for the process id at every use.
#pragma once
#include <cstdint>

namespace platform::detail {

uint64_t forkGeneration();

}  // namespace platform::detail
