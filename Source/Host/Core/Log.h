#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// Logging of the host: every message has a level and a category and goes to every registered sink.
// All functions here are thread-safe. Sinks are called synchronously on the logging thread, one message
// at a time (a global log mutex serialises them), so a sink needs no lock of its own for its writes.
namespace Corvexis::Log {

enum class Level : int
{
    Trace = 0,
    Debug = 1,
    Info = 2,
    Warning = 3,
    Error = 4,
};

struct Record
{
    Level level = Level::Info;
    std::string category;
    std::string text;
    std::string threadName;
    std::chrono::system_clock::time_point time;
};

// Receives accepted records. write() runs on the logging thread with the log mutex held: it must not log.
class Sink
{
public:
    virtual ~Sink() = default;
    virtual void write(const Record& record) = 0;
};

// Logs `text` under `category` if `level` is accepted. Thread-safe.
void log(Level level, std::string_view category, std::string_view text);
// Integer levels 0 (trace) to 4 (error); values outside are clamped. Thread-safe.
void log(int level, std::string_view category, std::string_view text);

// True if a message of this level and category would reach the sinks; lets callers skip formatting.
// Thread-safe.
bool isAccepted(Level level, std::string_view category);
bool isAccepted(int level, std::string_view category);

// The lowest accepted level. Initially read from the environment variable CORVEXIS_LOG_LEVEL (0 to 4, or
// trace/debug/info/warning/error), Info when unset. Thread-safe.
Level level();
void setLevel(Level level);

// Adds or removes a sink. The default stderr sink is present from the start and can be removed
// (tests that capture output do so through ScopedCapture). Thread-safe.
void addSink(std::shared_ptr<Sink> sink);
void removeSink(const std::shared_ptr<Sink>& sink);
std::shared_ptr<Sink> defaultSink();

// Writes "2026-12-06 10:00:00.123 WARN  [Category] (thread) text" lines to stderr.
class StderrSink : public Sink
{
public:
    void write(const Record& record) override;
};

// Keeps every record it receives, for tests that assert on logging. Thread-safe.
class CaptureSink : public Sink
{
public:
    void write(const Record& record) override;

    std::vector<Record> records() const;
    // Number of records with exactly this level, category and text.
    size_t count(Level level, std::string_view category, std::string_view text) const;
    bool contains(Level level, std::string_view category, std::string_view text) const;
    // True if some record of this level and category contains `fragment` in its text.
    bool containsFragment(Level level, std::string_view category, std::string_view fragment) const;
    void clear();

private:
    mutable std::mutex mutex_;
    // guarded by mutex_
    std::vector<Record> records_;
};

// Captures every message while alive, accepting all levels, and restores the previous level after.
// Caller synchronises (meant for one test at a time).
class ScopedCapture
{
public:
    explicit ScopedCapture(bool keepDefaultSink = false);
    ~ScopedCapture();
    ScopedCapture(const ScopedCapture&) = delete;
    ScopedCapture& operator=(const ScopedCapture&) = delete;

    CaptureSink& sink() { return *sink_; }
    const CaptureSink* operator->() const { return sink_.get(); }

private:
    std::shared_ptr<CaptureSink> sink_;
    Level previousLevel_;
    bool removedDefault_ = false;
};

std::string_view levelName(Level level);

}  // namespace Corvexis::Log
