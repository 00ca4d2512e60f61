#pragma once

#include <functional>

namespace Corvexis::QtHelpers {

// Runs `task` on the main thread, the thread that owns the QCoreApplication (the host's user-interface
// thread):
// - called on that thread, it runs the task at once, before returning (an exception of the task
//   passes to the caller);
// - called on any other thread, it queues the task to the application's event loop and returns at
//   once; the task runs when that loop next processes events. An exception escaping a queued task is
//   caught and logged at error level under the category "QtHelpers". A task still queued when the
//   application is destroyed is dropped without running.
// Without a QCoreApplication it logs an error under "QtHelpers", runs nothing and returns false;
// otherwise it returns true. Thread-safe.
bool runOnMainThread(std::function<void()> task);

// True when a QCoreApplication exists and the calling thread owns it. Thread-safe.
bool isMainThread();

}  // namespace Corvexis::QtHelpers
