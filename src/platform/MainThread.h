#pragma once

#include <functional>

namespace rx {

// Runs `work` later on the main thread's event loop, always asynchronously, in the order of the calls.
// Without an application object there is no event loop to wait for, so the work runs at once.
void postToMainThread(std::function<void()> work);

} // namespace rx
