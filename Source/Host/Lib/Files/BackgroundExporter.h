#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Host/Core/DataList.h"

namespace Corvexis {

class Data;

// Saves recordings to disk, blocking or on a worker thread of its own, in the native data-file format
// (".cvx") or as DICOM (".dcm" per image set, other items in a ".cvx" beside them). Every file is
// written under a temporary name, synced and renamed, and an existing file is never replaced: a save
// that would overwrite fails.
//
// Threading: all operations are thread-safe. Saves queued by saveAsync() run one after another on the
// exporter's worker thread, which the destructor joins after the queue is done. The items of an
// asynchronous save are borrowed: the caller keeps them alive and unchanged while isDataBeingSaved()
// says so (or until the returned future is ready).
class BackgroundExporter
{
public:
    enum class FileType
    {
        Native = 0,  // the data file (.cvx)
        Dicom = 1,   // DICOM for image sets
    };

    BackgroundExporter();
    ~BackgroundExporter();
    BackgroundExporter(const BackgroundExporter&) = delete;
    BackgroundExporter& operator=(const BackgroundExporter&) = delete;

    // A base path "<savePath>/<patient>[_<suffix>]_<n>" (no extension) that no file in `savePath`
    // starts with yet, n counting from 1; the directory is created when missing. Characters that
    // cannot stand in a file name ('/', control characters) become '_'; an empty patient name becomes
    // "Patient". Empty when the directory cannot be created. Thread-safe.
    static std::string preparePatientFilenames(const std::string& savePath, const std::string& patientName,
                                               const std::string& suffix);

    FileType fileType() const;
    void setFileType(FileType type);
    // The file names the last finished save wrote (empty before the first).
    std::vector<std::string> lastSavedFiles() const;
    // The error of the last failed save.
    std::string lastError() const;

    // Saves `items` under `basePath` plus the extension of the file type, now. False when any file
    // could not be written (see lastError()).
    bool save(const DataList& items, const std::string& basePath, const std::string& patientName = {});
    // The same on the worker thread; the future tells the outcome.
    std::shared_future<bool> saveAsync(const DataList& items, const std::string& basePath,
                                       const std::string& patientName = {});
    // True while `data` belongs to a save that has not finished. A save's future becomes ready just
    // before its items are released, so this may still say true for a moment after the future is ready;
    // it never says false while the save still reads the item.
    bool isDataBeingSaved(const Data* data) const;
    // Blocks until every queued save has finished.
    void waitForAll();

private:
    struct Job
    {
        DataList items;
        std::string basePath;
        std::string patientName;
        FileType type;
        std::promise<bool> done;
    };

    bool runSave(const DataList& items, const std::string& basePath, const std::string& patientName,
                 FileType type);
    void workerLoop();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    // guarded by mutex_
    FileType fileType_ = FileType::Native;
    std::deque<Job> queue_;
    std::map<const Data*, int> busy_;  // items of queued or running saves, with their count
    bool running_ = false;
    bool stopping_ = false;
    std::vector<std::string> lastFiles_;
    std::string lastError_;

    std::thread worker_;  // last, so that it starts after everything it uses
};

}  // namespace Corvexis
