#pragma once

#include <string>

namespace Corvexis::Threading {

// Names the calling thread. The full name is kept for log lines; the first 15 bytes become the
// kernel's thread name, shown by top, ps and debuggers. Thread-safe (acts on the calling thread only).
void setCurrentThreadName(const std::string& name);

// The name given by setCurrentThreadName, or "main" on the process's first thread, or "tid <n>".
// Thread-safe.
std::string currentThreadName();

}  // namespace Corvexis::Threading
