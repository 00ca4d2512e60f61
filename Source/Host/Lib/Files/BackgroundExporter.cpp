#include "Host/Lib/Files/BackgroundExporter.h"

#include <filesystem>

#include "Host/Core/Log.h"
#include "Host/Lib/Files/AtomicFileWriter.h"
#include "Host/Lib/Files/ByteStreams.h"
#include "Host/Lib/Files/CorvexisFile.h"
#include "Host/Lib/Files/DicomFile.h"
#include "Host/Lib/SharedImageSet.h"

namespace Corvexis {

namespace {

std::string sanitised(const std::string& name)
{
    std::string out;
    for (char c : name)
        out += (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '_' : c;
    return out;
}

// Native files are written through CorvexisFile's own temporary file, which may replace; the
// no-overwrite rule is checked by writing to a private temporary name and linking it into place.
bool saveNative(const DataList& items, const std::string& path, std::string& error)
{
    Files::AtomicFileWriter writer;
    if (!writer.open(path)) {
        error = writer.error();
        return false;
    }
    writer.closeFd();
    CorvexisFile file;
    if (!file.save(items, writer.temporaryPath())) {
        error = file.lastError();
        return false;
    }
    if (!writer.commit(false)) {
        error = writer.error();
        return false;
    }
    return true;
}

}  // namespace

BackgroundExporter::BackgroundExporter() : worker_([this] { workerLoop(); }) {}

BackgroundExporter::~BackgroundExporter()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

std::string BackgroundExporter::preparePatientFilenames(const std::string& savePath,
                                                        const std::string& patientName,
                                                        const std::string& suffix)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path dir = savePath.empty() ? fs::path(".") : fs::path(savePath);
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir, ec)) {
        Log::log(Log::Level::Error, "BackgroundExporter", "Cannot create the save directory " + dir.string());
        return {};
    }
    std::string stem = sanitised(patientName.empty() ? "Patient" : patientName);
    if (!suffix.empty())
        stem += "_" + sanitised(suffix);
    std::vector<std::string> existing;
    for (const auto& entry : fs::directory_iterator(dir, ec))
        existing.push_back(entry.path().filename().string());
    for (int n = 1;; ++n) {
        const std::string candidate = stem + "_" + std::to_string(n);
        bool taken = false;
        for (const std::string& name : existing) {
            // "<candidate>" followed by the end, an extension or a slot suffix, but not by a digit of
            // a longer number ("..._1" must not block "..._10").
            if (name.compare(0, candidate.size(), candidate) == 0 &&
                (name.size() == candidate.size() ||
                 !std::isdigit(static_cast<unsigned char>(name[candidate.size()])))) {
                taken = true;
                break;
            }
        }
        if (!taken)
            return (dir / candidate).string();
    }
}

BackgroundExporter::FileType BackgroundExporter::fileType() const
{
    std::lock_guard lock(mutex_);
    return fileType_;
}

void BackgroundExporter::setFileType(FileType type)
{
    std::lock_guard lock(mutex_);
    fileType_ = type;
}

std::vector<std::string> BackgroundExporter::lastSavedFiles() const
{
    std::lock_guard lock(mutex_);
    return lastFiles_;
}

std::string BackgroundExporter::lastError() const
{
    std::lock_guard lock(mutex_);
    return lastError_;
}

bool BackgroundExporter::runSave(const DataList& items, const std::string& basePath,
                                 const std::string& patientName, FileType type)
{
    std::vector<std::string> written;
    std::string error;
    bool ok = true;
    if (type == FileType::Dicom) {
        DataList others;
        std::vector<const SharedImageSet*> sets;
        for (Data* d : items) {
            if (auto* set = dynamic_cast<const SharedImageSet*>(d))
                sets.push_back(set);
            else
                others.add(d);
        }
        for (std::size_t i = 0; ok && i < sets.size(); ++i) {
            const std::string path = basePath + (sets.size() > 1 ? "_" + std::to_string(i) : "") + ".dcm";
            if (std::filesystem::exists(path)) {
                error = "will not overwrite " + path;
                ok = false;
                break;
            }
            ok = DicomFile::save(*sets[i], path, patientName, &error);
            if (ok)
                written.push_back(path);
        }
        if (ok && !others.empty()) {
            const std::string path = basePath + ".cvx";
            ok = saveNative(others, path, error);
            if (ok)
                written.push_back(path);
        }
    } else {
        const std::string path = basePath + ".cvx";
        ok = saveNative(items, path, error);
        if (ok)
            written.push_back(path);
    }
    if (!ok)
        Log::log(Log::Level::Error, "BackgroundExporter", "Saving failed: " + error);
    std::lock_guard lock(mutex_);
    lastFiles_ = written;
    if (!ok)
        lastError_ = error;
    return ok;
}

bool BackgroundExporter::save(const DataList& items, const std::string& basePath,
                              const std::string& patientName)
{
    return runSave(items, basePath, patientName, fileType());
}

std::shared_future<bool> BackgroundExporter::saveAsync(const DataList& items, const std::string& basePath,
                                                       const std::string& patientName)
{
    std::shared_future<bool> result;
    {
        std::lock_guard lock(mutex_);
        Job job{items, basePath, patientName, fileType_, {}};
        result = job.done.get_future().share();
        for (Data* d : items)
            ++busy_[d];
        queue_.push_back(std::move(job));
    }
    wake_.notify_all();
    return result;
}

bool BackgroundExporter::isDataBeingSaved(const Data* data) const
{
    std::lock_guard lock(mutex_);
    return busy_.count(data) > 0;
}

void BackgroundExporter::waitForAll()
{
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return queue_.empty() && !running_; });
}

void BackgroundExporter::workerLoop()
{
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) {
            if (stopping_)
                return;
            continue;
        }
        Job job = std::move(queue_.front());
        queue_.pop_front();
        running_ = true;
        lock.unlock();
        bool ok = false;
        try {
            ok = runSave(job.items, job.basePath, job.patientName, job.type);
        } catch (const std::exception& e) {
            Log::log(Log::Level::Error, "BackgroundExporter", std::string("Saving failed: ") + e.what());
        }
        // The future first: whoever sees an item no longer busy also finds its save's result ready.
        job.done.set_value(ok);
        lock.lock();
        for (Data* d : job.items)
            if (--busy_[d] == 0)
                busy_.erase(d);
        running_ = false;
        idle_.notify_all();
    }
}

}  // namespace Corvexis
