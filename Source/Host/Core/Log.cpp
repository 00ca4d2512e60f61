#include "Host/Core/Log.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "Host/Core/ThreadName.h"

namespace Corvexis::Log {

namespace {

Level clampLevel(int level)
{
    return static_cast<Level>(std::clamp(level, 0, 4));
}

Level levelFromEnvironment()
{
    const char* value = std::getenv("CORVEXIS_LOG_LEVEL");
    if (value == nullptr || *value == '\0')
        return Level::Info;
    const std::string text(value);
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '4')
        return static_cast<Level>(text[0] - '0');
    static constexpr std::pair<std::string_view, Level> kNames[] = {
        {"trace", Level::Trace},     {"debug", Level::Debug},  {"info", Level::Info},
        {"warning", Level::Warning}, {"warn", Level::Warning}, {"error", Level::Error}};
    for (const auto& [name, lvl] : kNames)
        if (text == name)
            return lvl;
    std::fprintf(stderr, "CORVEXIS_LOG_LEVEL='%s' is not a level (0-4 or trace..error); using info\n", value);
    return Level::Info;
}

// The registry of sinks. Leaked on purpose: logging must keep working while static objects of other
// libraries are destroyed at exit.
struct Registry
{
    std::mutex mutex;  // serialises sink calls and guards `sinks`
    std::vector<std::shared_ptr<Sink>> sinks;
    std::shared_ptr<Sink> stderrSink = std::make_shared<StderrSink>();
    std::atomic<int> level{static_cast<int>(levelFromEnvironment())};

    Registry() { sinks.push_back(stderrSink); }
};

Registry& registry()
{
    static Registry* instance = new Registry;
    return *instance;
}

}  // namespace

std::string_view levelName(Level level)
{
    switch (level) {
        case Level::Trace:
            return "TRACE";
        case Level::Debug:
            return "DEBUG";
        case Level::Info:
            return "INFO";
        case Level::Warning:
            return "WARN";
        case Level::Error:
            return "ERROR";
    }
    return "?";
}

bool isAccepted(Level lvl, std::string_view /*category*/)
{
    return static_cast<int>(lvl) >= registry().level.load(std::memory_order_relaxed);
}

bool isAccepted(int lvl, std::string_view category)
{
    return isAccepted(clampLevel(lvl), category);
}

void log(Level lvl, std::string_view category, std::string_view text)
{
    if (!isAccepted(lvl, category))
        return;
    Record record{lvl, std::string(category), std::string(text), Threading::currentThreadName(),
                  std::chrono::system_clock::now()};
    Registry& reg = registry();
    std::lock_guard lock(reg.mutex);
    for (const auto& sink : reg.sinks)
        sink->write(record);
}

void log(int lvl, std::string_view category, std::string_view text)
{
    log(clampLevel(lvl), category, text);
}

Level level()
{
    return static_cast<Level>(registry().level.load());
}

void setLevel(Level lvl)
{
    registry().level.store(static_cast<int>(lvl));
}

void addSink(std::shared_ptr<Sink> sink)
{
    Registry& reg = registry();
    std::lock_guard lock(reg.mutex);
    if (std::find(reg.sinks.begin(), reg.sinks.end(), sink) == reg.sinks.end())
        reg.sinks.push_back(std::move(sink));
}

void removeSink(const std::shared_ptr<Sink>& sink)
{
    Registry& reg = registry();
    std::lock_guard lock(reg.mutex);
    std::erase(reg.sinks, sink);
}

std::shared_ptr<Sink> defaultSink()
{
    return registry().stderrSink;
}

void StderrSink::write(const Record& record)
{
    const auto sinceEpoch = record.time.time_since_epoch();
    const std::time_t seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch).count();
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", &local);
    std::fprintf(stderr, "%s.%03d %-5.*s [%s] (%s) %s\n", stamp, static_cast<int>(millis),
                 static_cast<int>(levelName(record.level).size()), levelName(record.level).data(),
                 record.category.c_str(), record.threadName.c_str(), record.text.c_str());
}

void CaptureSink::write(const Record& record)
{
    std::lock_guard lock(mutex_);
    records_.push_back(record);
}

std::vector<Record> CaptureSink::records() const
{
    std::lock_guard lock(mutex_);
    return records_;
}

size_t CaptureSink::count(Level lvl, std::string_view category, std::string_view text) const
{
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(std::count_if(records_.begin(), records_.end(), [&](const Record& r) {
        return r.level == lvl && r.category == category && r.text == text;
    }));
}

bool CaptureSink::contains(Level lvl, std::string_view category, std::string_view text) const
{
    return count(lvl, category, text) > 0;
}

bool CaptureSink::containsFragment(Level lvl, std::string_view category, std::string_view fragment) const
{
    std::lock_guard lock(mutex_);
    return std::any_of(records_.begin(), records_.end(), [&](const Record& r) {
        return r.level == lvl && r.category == category && r.text.find(fragment) != std::string::npos;
    });
}

void CaptureSink::clear()
{
    std::lock_guard lock(mutex_);
    records_.clear();
}

ScopedCapture::ScopedCapture(bool keepDefaultSink)
    : sink_(std::make_shared<CaptureSink>()), previousLevel_(level())
{
    setLevel(Level::Trace);
    addSink(sink_);
    if (!keepDefaultSink) {
        removeSink(defaultSink());
        removedDefault_ = true;
    }
}

ScopedCapture::~ScopedCapture()
{
    removeSink(sink_);
    if (removedDefault_)
        addSink(defaultSink());
    setLevel(previousLevel_);
}

}  // namespace Corvexis::Log
