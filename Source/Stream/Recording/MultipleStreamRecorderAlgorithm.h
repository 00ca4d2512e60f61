#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Host/Core/DataList.h"
#include "Host/Lib/Algorithm.h"

namespace Corvexis {

class Data;
class Stream;
class StreamRecorderAlgorithm;

// Starts and stops several existing recorder algorithms as one, so that streams recorded by separate
// algorithms (with their own settings) begin and end together. The driven algorithms are borrowed and
// must outlive it (or be removed through onDataDeleting).
//
// Threading: compute, takeOutput and setExistingRecorders are caller synchronises; the rest is
// thread-safe (mutex_ guards the list and the path).
class MultipleStreamRecorderAlgorithm : public Algorithm
{
public:
    explicit MultipleStreamRecorderAlgorithm(std::vector<Stream*> streams);
    ~MultipleStreamRecorderAlgorithm() override;

    // Any non-empty list of streams.
    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm);

    // Refused (false, logged) when an algorithm records a stream that is not among this one's inputs.
    bool setExistingRecorders(const std::vector<StreamRecorderAlgorithm*>& recorders);
    void compute() override;
    OwningDataList takeOutput() override;

    void start();
    void stop();
    bool isRecording() const;
    int numStreamRecorders() const;
    int recordedFrames() const;
    int recordedTrackingData() const;
    double passedTime() const;
    std::string savePath() const;
    // Refuses an empty path (logged); passes the path to every driven algorithm.
    bool setSavePath(const std::string& path);

    // A data item goes away: a driven algorithm's stream takes the algorithm out of the list.
    void onDataDeleting(const Data* data);
    // False when `data` is one of the recorded streams (this algorithm cannot work without it).
    bool survivesDataDeletion(const Data* data) const;

private:
    std::vector<StreamRecorderAlgorithm*> driven() const;

    const std::vector<Stream*> streams_;

    mutable std::mutex mutex_;
    // guarded by mutex_
    std::vector<StreamRecorderAlgorithm*> recorders_;
    std::string savePath_;
};

}  // namespace Corvexis
