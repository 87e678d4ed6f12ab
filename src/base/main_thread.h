// Running work "on the main thread, the caller waiting".
//
// A front end with an event loop installs an executor that runs the function on its main
// thread and blocks the caller until it has run (or calls it directly when already there).
// Without an executor, as in the command line and the tests, the function runs at once on
// the caller's thread.
#pragma once

#include <functional>

using MainThreadExecutor = std::function<void(const std::function<void()>&)>;

// Installs the executor used by performOnMainThreadAndWait; an empty one restores the
// default of running on the caller's thread.
void setMainThreadExecutor(MainThreadExecutor executor);

// Runs `fn` on the main thread and returns after it has finished.
void performOnMainThreadAndWait(const std::function<void()>& fn);
