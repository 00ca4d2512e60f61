#pragma once

#include <csignal>
#include <memory>

class QSocketNotifier;

namespace Corvexis {

// While it lives, SIGINT and SIGTERM end the running Qt event loop (after printing "Interrupted; closing
// streams") instead of the process; the previous handlers come back when it is destroyed. The handler
// only writes a byte to a pipe, which the main thread's event loop reads. Caller synchronises (main
// thread).
class TerminationSignals
{
public:
    TerminationSignals();
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction previousInt_
    {
    };
    struct sigaction previousTerm_
    {
    };
};

}  // namespace Corvexis
