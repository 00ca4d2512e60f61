#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "Host/Core/SignalReceiver.h"

namespace Corvexis {

class Stream;
class StreamData;

// Counts the records a stream emits while watched and notes the first and last arrival timestamps, for the
// host application's status and summary lines; for a poly-data stream also the fewest and most meshes and
// point clouds per record. The stream must outlive the watch (or the watch be destroyed first). The
// receiver runs on the stream's emitting thread; the readers are thread-safe.
class StreamWatch : public SignalReceiver
{
public:
    explicit StreamWatch(Stream& stream);
    ~StreamWatch() override;

    // Counts the records that arrive between start() and stop(), so that a run of N seconds reports the
    // records of exactly that window. Caller synchronises (main thread).
    void start();
    void stop();

    Stream& stream() const { return stream_; }
    std::uint64_t records() const;
    // Milliseconds since 1970 (UTC); 0 before the first record.
    std::uint64_t firstArrivalMs() const;
    std::uint64_t lastArrivalMs() const;
    // Records per second between the first and the last arrival; 0 with fewer than two records or no
    // time between them.
    double measuredRate() const;

    // What the status line adds for this kind of stream: for a tracking stream the main instrument's
    // position (mm) and quality in the newest record, for a poly-data stream its numbers of meshes and
    // point clouds ("  | meshes 1, point clouds 0"), else "". Thread-safe.
    std::string detail() const;
    // A line to print after the summary, or "": for a poly-data stream with records, the meshes and
    // point clouds per record ("  per record: meshes 1, point clouds 0", a range "1 to 2" where the
    // counts varied). Thread-safe.
    std::string summaryDetail() const;
    // "2026-12-06 10:00:00.123 UTC"; "-" for 0.
    static std::string formatTimestamp(std::uint64_t ms);

private:
    Stream& stream_;

    mutable std::mutex mutex_;
    // guarded by mutex_
    std::uint64_t records_ = 0;
    std::uint64_t firstArrivalMs_ = 0;
    std::uint64_t lastArrivalMs_ = 0;
    std::shared_ptr<const StreamData> latest_;
    // Poly-data records only: how many, and the fewest and most meshes and point clouds in one.
    std::uint64_t polyRecords_ = 0;
    std::size_t minMeshes_ = 0;
    std::size_t maxMeshes_ = 0;
    std::size_t minClouds_ = 0;
    std::size_t maxClouds_ = 0;
};

}  // namespace Corvexis
