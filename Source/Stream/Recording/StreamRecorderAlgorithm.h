#pragma once

#include <chrono>
#include <cstdint>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Host/Core/OwningDataList.h"
#include "Host/Core/Parameter.h"
#include "Host/Core/Signal.h"
#include "Host/Core/SignalReceiver.h"
#include "Host/Core/TrackingInstrument.h"
#include "Host/Lib/Algorithm.h"
#include "Stream/Recording/StreamRecorder.h"

namespace Corvexis {

class Data;
class DataList;
class ImageDescriptor;
class ImageStream;
class ImageStreamRecorder;
class Stream;
class TrackingStream;
class TrackingStreamRecorder;

// Records one or more live streams together: one recorder per stream (ImageStreamRecorder for image
// streams, TrackingStreamRecorder for tracking streams), started and stopped together, with the
// user's limits and timestamp choices applied to all. compute() starts; stop() (or a limit, or a
// change of the streams' structure) ends the recording, arranges the recorded data by the combination
// mode and, with "saveToFile", saves it under "savePath" (native ".cvx", or DICOM for image sets).
// With "limitRestartRecording" a limit (other than the memory limit) ends one recording and starts
// the next; each finished recording is announced on signalStopped and its output is collected.
//
// The streams are borrowed and must outlive the algorithm. Live recording ("liveStreamRecording")
// writes the frames of each image stream into "<base>.bin" while recording; those image sets are then
// not written again into the ".cvx", which holds the rest (tracking).
//
// configuration() also writes a sub-block "RecordingStatus" (recording, restarting, limitReached,
// recordings, passedTime, frames, trackingSamples, bytes, exportedFrames, exportFailed, savedFiles,
// saveError) that hosts without access to this class read for progress; configure() ignores it.
//
// Locks: signalMutex_ serialises the reactions to the recorders' signals with start and stop
// (recursive: a reaction stops or restarts); outputMutex_ guards the collected output and saved files.
// Order: signalMutex_, then a recorder's locks, then outputMutex_.
// Threading: compute, takeOutput and configure are caller synchronises; start, stop, restart and the
// queries are thread-safe; the reactions run on the streams' emitting threads.
class StreamRecorderAlgorithm : public Algorithm, public SignalReceiver
{
public:
    enum class DataCombinationMode : int
    {
        Individual = 0,
        All = 1,
        FirstTracking = 2,
        OneOnOne = 3,
    };

    explicit StreamRecorderAlgorithm(std::vector<Stream*> streams);
    ~StreamRecorderAlgorithm() override;

    // Any non-empty list of image and tracking streams and stream groups (recorded through their image
    // substreams, then their tracking substreams).
    static bool createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm);
    // Records `streams` for `duration` (starting those that are not running) and returns the recording
    // arranged by `mode`, without saving it: the shortest way to get data of a stream, for tests and
    // tools. Blocks the calling thread for the duration. Caller synchronises.
    static OwningDataList recordFor(const std::vector<Stream*>& streams, std::chrono::milliseconds duration,
                                    DataCombinationMode mode = DataCombinationMode::Individual);

    // Starts recording (Success) or refuses (Error) with the logged reason. Caller synchronises.
    void compute() override;
    // The recordings finished so far, arranged and handed over; waits for saves in progress first.
    // Caller synchronises.
    OwningDataList takeOutput() override;
    // takeOutput() on a thread of its own.
    std::future<OwningDataList> takeOutputAsync();

    bool start();    // thread-safe
    void stop();     // thread-safe
    void restart();  // thread-safe
    bool isRecording() const;
    bool limitReached() const;
    bool isRestarting() const;
    double passedTime() const;
    int recordedFrames() const;        // image samples over the image recorders
    int recordedTrackingData() const;  // tracking samples over the tracking recorders
    std::uint64_t recordedBytes() const;
    std::uint64_t exportedFrames() const;  // frames written to live files
    int finishedRecordings() const;        // stops (and restarts) so far

    int numRecorders() const { return static_cast<int>(recorders_.size()); }
    StreamRecorder* recorder(int index) const;
    ImageStreamRecorder* imageRecorder(int index) const;
    TrackingStreamRecorder* trackingRecorder(int index) const;
    ImageStream* imageStream(int index) const;
    TrackingStream* trackingStream(int index) const;
    std::vector<Stream*> recordedStreams() const { return streams_; }
    std::vector<TrackingInstrument> allTrackingInstruments() const;
    std::vector<TrackingInstrument> allTrackingDevices() const { return allTrackingInstruments(); }

    // The first file of the last save, and every file saved so far. Thread-safe.
    std::string lastRecordedFile() const;
    std::vector<std::string> savedFiles() const;
    // The error of the last failed save, empty when none failed. Thread-safe.
    std::string saveError() const;
    // Blocks until every save queued so far has finished. Thread-safe.
    void waitForSaves();
    bool isDataBeingSaved(const Data* data) const;
    // True when every image stream delivered unsigned-byte frames; false (logged) otherwise or before a
    // frame was seen.
    bool isCompressSupported() const;
    void setCaptureNextSample();

    void setLimits(double timeSec, double systemMemory, int imageSamples, int trackingSamples,
                   std::uint64_t bytes);
    void setTimestampSource(bool images, bool tracking);
    void setSavePath(const std::string& path);
    void setSaveToFile(bool save) { saveToFile = save; }
    void setSaveAsDicom(bool dicom) { saveAsDicom = dicom; }
    void setCompressSave(bool enable);
    void setCompression(bool enable) { setCompressSave(enable); }
    void setDataCombinationMode(DataCombinationMode mode) { dataCombinationMode = static_cast<int>(mode); }
    void setTrackingQualityThreshold(double threshold) { trackingQualityThreshold = threshold; }
    void setStopOnImageSizeChanged(bool stop) { stopOnImageSizeChanged = stop; }
    void setAutomaticImageChangeRestart(bool restart) { restartOnImageChange = restart; }
    void setStopOnDeviceListChanged(bool stop) { stopOnDeviceListChanged = stop; }
    void setStopOnInstrumentsChanged(bool stop) { stopOnDeviceListChanged = stop; }
    void setAutomaticLimitRestart(bool restart) { limitRestartRecording = restart; }
    void setRecordBothTimestamps(bool both) { recordBothTimestamps = both; }
    void setCaptureMode(StreamRecorder::CaptureMode mode) { captureMode = static_cast<int>(mode); }
    void setPatientName(const std::string& name) { patientName = name; }
    void setPatientNameSuffix(const std::string& suffix) { patientNameSuffix = suffix; }
    void setSaveRecordingsAsync(bool async) { saveRecordingsAsync = async; }
    void setLiveStreamRecording(bool live) { liveStreamRecording = live; }
    void setSaveStreamingFramesKeptInMemory(int frames) { framesKeptInMemory = frames; }
    // 0 empties the count; any other value stores it.
    void setNumberOfDataToKeep(int count);
    // 0 when empty, -1 when the stored count is below 1, else the count.
    int numberOfDataToKeep() const;

    // Reads the older key names too ("autoSave", "restartRecordingOnImageDescriptorsChanged",
    // "numberOfDataToKeep", "nSweepsData").
    void configure(const Properties* properties) override;
    void configuration(Properties* properties) const override;
    void describeSettings(Properties* schema) const override;

    Parameter<std::string> savePath{"savePath", "", this};
    Parameter<bool> saveToFile{"saveToFile", true, this};
    Parameter<bool> saveAsDicom{"saveAsDicom", false, this};
    Parameter<bool> compress{"compress", false, this};
    Parameter<bool> useDeviceTracking{"useDeviceTracking", false, this};
    Parameter<bool> useDeviceImages{"useDeviceImages", false, this};
    Parameter<double> timeLimit{"timeLimit", 0.0, this};
    Parameter<double> systemMemLimit{"systemMemLimit", 0.0, this};
    Parameter<int> imageSamplesLimit{"imageSamplesLimit", 0, this};
    Parameter<int> trackingSamplesLimit{"trackingSamplesLimit", 0, this};
    Parameter<std::uint64_t> recordedBytesLimit{"recordedBytesLimit", 0, this};
    Parameter<int> dataCombinationMode{"dataCombinationMode", 0, this};
    Parameter<double> trackingQualityThreshold{"trackingQualityThreshold", 0.2, this};
    Parameter<bool> stopOnImageSizeChanged{"stopOnImageSizeChanged", true, this};
    Parameter<bool> restartOnImageChange{"restartRecordingOnImageSizeChanged", false, this};
    Parameter<bool> stopOnDeviceListChanged{"stopOnDeviceListChanged", true, this};
    Parameter<bool> limitRestartRecording{"limitRestartRecording", false, this};
    Parameter<bool> recordBothTimestamps{"recordBothTimestamps", false, this};
    Parameter<int> captureMode{"captureMode", 0, this};
    Parameter<std::string> patientName{"patientName", "Patient-01", this};
    Parameter<std::string> patientNameSuffix{"patientNameSuffix", "", this};
    Parameter<bool> saveRecordingsAsync{"saveRecordingsAsync", true, this};
    Parameter<bool> liveStreamRecording{"liveStreamRecording", false, this};
    Parameter<int> framesKeptInMemory{"keepMinimalFramesOnStreamRecording", -1, this};
    Parameter<std::optional<int>> numberOfDataToKeepLimit{"numberOfDataToKeepLimit", 1, this};

    // After every stored sample, on the emitting thread of the stream.
    Signal<> signalProgress;
    // A recording stopped or restarted; on the thread that stopped it.
    Signal<> signalStopped;

private:
    void onLimitReached(StreamRecorder* recorder);
    void onSampleRecorded();
    void onInstrumentsChanged();
    void onDescriptorsChanged();
    // Stops the recorders and collects (and saves) their output. Needs signalMutex_.
    void stopLocked();
    bool startLocked();
    // The recorders' outputs arranged by the combination mode; empty with an error logged when the
    // outputs are not what the recorders make.
    // Items of the wrong type or an unknown mode are logged and handed over as they came.
    OwningDataList arrangeOutputs(std::vector<std::pair<bool, OwningDataList>> outputs) const;
    void save(const OwningDataList& recording);
    bool configurationValid() const;

    std::vector<Stream*> streams_;
    std::vector<std::unique_ptr<StreamRecorder>> recorders_;
    std::vector<ImageStreamRecorder*> imageRecorders_;
    std::vector<TrackingStreamRecorder*> trackingRecorders_;
    std::vector<std::string> liveExportPaths_;  // per image recorder, of the current recording

    mutable std::recursive_mutex signalMutex_;
    // guarded by signalMutex_
    bool started_ = false;
    std::string liveBase_;            // base name of the live files of the current recording
    std::uint64_t stopRequests_ = 0;  // calls of stop(), so that a restart in progress yields to one

    mutable std::mutex outputMutex_;
    // guarded by outputMutex_
    std::vector<std::unique_ptr<OwningDataList>> recordings_;  // stable addresses while saved
    std::vector<std::string> savedFiles_;
    std::string saveError_;
    std::vector<std::shared_future<bool>> pendingSaves_;
    std::map<const Data*, int> beingSaved_;
    int finished_ = 0;
    bool restarting_ = false;
    bool limitReached_ = false;
};

}  // namespace Corvexis
