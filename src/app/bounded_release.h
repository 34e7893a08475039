#pragma once

#include <chrono>
#include <memory>
#include <vector>

namespace tampod {

// Drops the last references to the actors on a thread of its own, so that their executors
// finish the step they are in and join, and waits at most bound for that. False when the bound
// passed first: the caller then leaves without waiting any longer.
bool releaseWithin(std::vector<std::shared_ptr<void>> owners, std::chrono::milliseconds bound);

} // namespace tampod
