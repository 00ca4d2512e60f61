#pragma once

#include <atomic>
#include <mutex>
#include <string>

namespace Corvexis {

// Progress of long work that a person may cancel: one task at a time with a text and a number of
// steps. Front ends subclass it to show the progress; the base keeps the counts, which is all a
// headless host needs. All operations are thread-safe.
class Progress
{
public:
    virtual ~Progress() = default;

    // Starts a task of `steps` steps (the count of done steps restarts at 0).
    virtual void beginTask(const std::string& text, int steps);
    virtual void advance(int steps = 1);
    virtual void endTask();
    // Asks the work to stop; it notices through wasCanceled().
    void cancel() { canceled_.store(true); }
    bool wasCanceled() const { return canceled_.load(); }

    std::string text() const;
    int steps() const { return steps_.load(); }
    int done() const { return done_.load(); }
    bool active() const { return active_.load(); }

private:
    mutable std::mutex textMutex_;
    // guarded by textMutex_
    std::string text_;
    std::atomic<int> steps_{0};
    std::atomic<int> done_{0};
    std::atomic<bool> active_{false};
    std::atomic<bool> canceled_{false};
};

}  // namespace Corvexis
