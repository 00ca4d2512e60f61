#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Host/Core/SignalReceiver.h"
#include "Host/Lib/DataDisplay.h"

namespace Corvexis {

class Stream;
class StreamData;

// What every stream shows on a host view: the status line (name, state, description and what the
// subclass adds), the summary of the watched window (records, measured rate, first and last arrival,
// the longest gap between two records) and the stream requests as view controls. Subclasses add what
// their kind of record carries.
//
// The stream must outlive the display. The receiver of signalStreamData runs on the stream's emitting
// thread and takes mutex_; everything else is caller synchronises (the host's main thread) and reads
// under mutex_.
class StreamDisplay : public DataDisplay, public SignalReceiver
{
public:
    explicit StreamDisplay(Stream& stream);
    ~StreamDisplay() override;

    Data& data() const override;
    Stream& stream() const { return stream_; }

    // Counts only the records that arrive between the two, so a run of N seconds reports exactly that
    // window.
    void startWatching() override;
    void stopWatching() override;

    std::string statusLine() const override;
    // From starting until stopping (paused included).
    bool isActive() const override;
    // "Summary <name>: N records, R Hz measured, first arrival T, last arrival T, longest gap G ms", then
    // the subclass's lines.
    std::vector<std::string> summary() const override;
    // Nothing to write by default.
    bool snapshot(const std::string& directory, std::vector<std::string>* written,
                  std::string* error) override;

    // "open", "start", "pause", "resume", "stop", "close".
    std::vector<std::string> requests() const override;
    bool request(const std::string& name) override;

    std::uint64_t records() const;
    // Milliseconds since 1970 (UTC); 0 before the first record.
    std::uint64_t firstArrivalMs() const;
    std::uint64_t lastArrivalMs() const;
    // The longest time between two consecutive records of the window, ms; 0 with fewer than two.
    std::uint64_t longestGapMs() const;
    // Records per second between the first and the last arrival; 0 with fewer than two records or no
    // time between them.
    double measuredRate() const;

    // "2026-12-06 10:00:00.123 UTC"; "-" for 0.
    static std::string formatTimestamp(std::uint64_t ms);
    // A file name made of the stream's name: letters, digits, '-', '.', '_' kept, the rest '_'.
    static std::string fileNameOf(const std::string& name);

protected:
    // The newest record seen (in or out of the window), or null.
    std::shared_ptr<const StreamData> latest() const;
    // What the status line adds after the description, for example "  | meshes 1, point clouds 0".
    virtual std::string detail() const;
    // Lines printed after the summary line.
    virtual std::vector<std::string> summaryDetail() const;
    // Called for each record in the window, on the emitting thread, holding no lock of this class.
    virtual void recordArrived(const StreamData& record);

private:
    Stream& stream_;

    mutable std::mutex mutex_;
    // guarded by mutex_
    std::uint64_t records_ = 0;
    std::uint64_t firstArrivalMs_ = 0;
    std::uint64_t lastArrivalMs_ = 0;
    std::uint64_t longestGapMs_ = 0;
    std::shared_ptr<const StreamData> latest_;
};

}  // namespace Corvexis
