#include "Host/Core/ThreadName.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace Corvexis::Threading {

namespace {
thread_local std::string tlsThreadName;
}

void setCurrentThreadName(const std::string& name)
{
    tlsThreadName = name;
    // The kernel limits names to 15 bytes plus the terminator.
    const std::string shortName = name.substr(0, 15);
    pthread_setname_np(pthread_self(), shortName.c_str());
}

std::string currentThreadName()
{
    if (!tlsThreadName.empty())
        return tlsThreadName;
    const auto tid = static_cast<long>(syscall(SYS_gettid));
    if (tid == static_cast<long>(getpid()))
        return "main";
    return "tid " + std::to_string(tid);
}

}  // namespace Corvexis::Threading
