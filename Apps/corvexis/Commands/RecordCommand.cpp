// corvexis record ID [ID ...] [KEY=VALUE ...] [--config FILE] --out DIR [--seconds N] [--live] [--compress]
// [--dicom]: creates the sources, records them with the recorder algorithm ("Stream.StreamRecorder")
// and saves the recording into DIR. A progress line per second; the saved files at the end; Ctrl-C
// (or --seconds) ends the recording cleanly and saves it.
//
// Settings: a plain KEY=VALUE and each entry of --config go to every source that takes it,
// "N.KEY=VALUE" to source N (from 1), "record.KEY=VALUE" to the recorder (for example
// record.dataCombinationMode=2).

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <unistd.h>

#include "Apps/corvexis/CommandLine.h"
#include "Apps/corvexis/CommandRegistry.h"
#include "Apps/corvexis/HostApplication.h"
#include "Apps/corvexis/SettingsApplier.h"
#include "Apps/corvexis/TerminationSignals.h"
#include "Host/Core/Data.h"
#include "Host/Core/DataList.h"
#include "Host/Core/OwningDataList.h"
#include "Host/Core/PropertiesIO.h"
#include "Host/Lib/Algorithm.h"
#include "Host/Lib/DataDisplay.h"
#include "Host/Lib/DataDisplayHandlerFactory.h"
#include "Host/Lib/FactoryRegistry.h"

namespace Corvexis {
namespace {

constexpr const char* kRecorderId = "Stream.StreamRecorder";

struct Source
{
    std::string id;
    std::unique_ptr<Algorithm> algorithm;
    std::vector<std::unique_ptr<Data>> items;
    std::vector<std::unique_ptr<DataDisplay>> displays;
};

// The recorder's progress, read from the status block of its configuration.
struct Progress
{
    bool recording = false;
    bool limitReached = false;
    double seconds = 0;
    int frames = 0;
    int samples = 0;
    std::uint64_t bytes = 0;
    std::uint64_t written = 0;
    bool exportFailed = false;
    std::string savedFiles;
    std::string saveError;
};

Progress readProgress(const Algorithm& recorder)
{
    Properties configuration;
    recorder.configuration(&configuration);
    Progress p;
    if (const Properties* status = configuration.subProperties("RecordingStatus")) {
        status->getParam("recording", p.recording);
        status->getParam("limitReached", p.limitReached);
        status->getParam("passedTime", p.seconds);
        status->getParam("frames", p.frames);
        status->getParam("trackingSamples", p.samples);
        status->getParam("bytes", p.bytes);
        status->getParam("exportedFrames", p.written);
        status->getParam("exportFailed", p.exportFailed);
        status->getParam("savedFiles", p.savedFiles);
        status->getParam("saveError", p.saveError);
    }
    return p;
}

std::string megabytes(std::uint64_t bytes)
{
    return fmt::format("{:.1f} MB", static_cast<double>(bytes) / 1e6);
}

// Creates the directory when missing and proves that a file can be made in it.
bool prepareOutDirectory(const std::string& dir, std::string* why)
{
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec || !std::filesystem::is_directory(dir)) {
        *why = ec ? ec.message() : "not a directory";
        return false;
    }
    const auto probe = std::filesystem::path(dir) / (".corvexis-record-probe-" + std::to_string(::getpid()));
    {
        std::ofstream file(probe);
        if (!file) {
            *why = "cannot create files there";
            return false;
        }
    }
    std::filesystem::remove(probe, ec);
    return true;
}

// "N." (a source number from 1) before a key.
int sourcePrefix(const std::string& key, std::string* rest)
{
    const auto dot = key.find('.');
    if (dot == std::string::npos || dot == 0)
        return 0;
    for (size_t i = 0; i < dot; ++i)
        if (!std::isdigit(static_cast<unsigned char>(key[i])))
            return 0;
    *rest = key.substr(dot + 1);
    return std::stoi(key.substr(0, dot));
}

int record(HostApplication&, const CommandLine& line)
{
    if (line.outDirectory.empty())
        return HostApplication::error("'record' needs --out DIR, the directory the recording is saved into");
    std::string why;
    if (!prepareOutDirectory(line.outDirectory, &why))
        return HostApplication::error("cannot record into '" + line.outDirectory + "': " + why);

    // The sources' algorithms, created before any setting is given to them.
    const size_t count = line.arguments.size();
    std::vector<Source> sources(count);
    for (size_t i = 0; i < count; ++i) {
        Source& source = sources[i];
        source.id = HostApplication::resolveAlgorithmId(line.arguments[i], &why);
        if (source.id.empty())
            return HostApplication::error(why);
        source.algorithm = FactoryRegistry::get().algorithmDescriptor(source.id)->create(DataList{});
        if (!source.algorithm)
            return HostApplication::error("'" + source.id + "' needs input data and cannot be recorded from");
    }

    // Settings: "record.KEY" for the recorder, "N.KEY" for source N; a plain KEY and each entry of the
    // configuration file go to every source that takes it, and one that no source takes is an error.
    std::vector<Properties> sourceSettings(count, Properties("Settings"));
    Properties recorderSettings("Settings");
    auto route = [&](const Properties& entry, const std::string& what) -> bool {
        std::string firstRefusal;
        bool taken = false;
        for (size_t i = 0; i < count; ++i) {
            Properties schema;
            sources[i].algorithm->describeSettings(&schema);
            Properties current;
            sources[i].algorithm->configuration(&current);
            SettingsApplier::Refusal refusal;
            if (SettingsApplier::check(schema, current, entry, nullptr, &refusal)) {
                for (const auto& key : entry.paramNames())
                    sourceSettings[i].setParamText(key, *entry.paramText(key));
                for (const Properties* block : entry.subProperties())
                    sourceSettings[i].addSubProperties(std::make_unique<Properties>(*block));
                taken = true;
            } else if (firstRefusal.empty()) {
                firstRefusal = refusal.text + " (" + sources[i].id + ")";
            }
        }
        if (!taken)
            HostApplication::error(count == 1 ? firstRefusal
                                              : what + " is taken by no source: " + firstRefusal);
        return taken;
    };
    if (!line.configFile.empty()) {
        const auto fromFile = PropertiesIO::loadFromFile(line.configFile, &why);
        if (!fromFile)
            return HostApplication::error("cannot read the configuration " + why);
        for (const auto& key : fromFile->paramNames()) {
            Properties entry("Settings");
            entry.setParamText(key, *fromFile->paramText(key));
            if (!route(entry, "setting " + key + " of " + line.configFile))
                return 1;
        }
        for (const Properties* block : fromFile->subProperties()) {
            Properties entry("Settings");
            entry.addSubProperties(std::make_unique<Properties>(*block));
            if (!route(entry, "block " + block->name() + " of " + line.configFile))
                return 1;
        }
    }
    for (const auto& [key, value] : line.settings) {
        std::string rest;
        if (key.rfind("record.", 0) == 0) {
            recorderSettings.setParamText(key.substr(7), value);
        } else if (const int n = sourcePrefix(key, &rest); n > 0) {
            if (static_cast<size_t>(n) > count)
                return HostApplication::error(
                    fmt::format("setting {} names source {}, but there are {}", key, n, count));
            sourceSettings[static_cast<size_t>(n - 1)].setParamText(rest, value);
        } else {
            Properties entry("Settings");
            entry.setParamText(key, value);
            if (!route(entry, "setting " + key))
                return 1;
        }
    }

    // The sources configured and computed like 'corvexis run', their streams started.
    DataList streams;
    for (size_t i = 0; i < count; ++i) {
        Source& source = sources[i];
        if (!sourceSettings[i].empty()) {
            SettingsApplier::Refusal refusal;
            if (!SettingsApplier::apply(*source.algorithm, sourceSettings[i], &refusal))
                return HostApplication::error(refusal.text + " (" + source.id + ")");
        }
        source.algorithm->compute();
        OwningDataList items = source.algorithm->takeOutput();
        if (source.algorithm->status() != Algorithm::Status::Success || items.empty())
            return HostApplication::error("source '" + source.id + "' failed to start (status " +
                                          Algorithm::statusToString(source.algorithm->status()) + ")");
        for (auto& item : items.takeAll()) {
            auto [display, handler] = DataDisplayHandlerFactory::get().createDisplay(*item);
            if (display) {
                const auto requests = display->requests();
                if (std::find(requests.begin(), requests.end(), "start") != requests.end() &&
                    !display->request("start"))
                    return HostApplication::error("source '" + source.id +
                                                  "' failed to start: " + display->statusLine());
                source.displays.push_back(std::move(display));
            }
            streams.add(item.get());
            source.items.push_back(std::move(item));
        }
    }

    auto recorder = FactoryRegistry::get().algorithmDescriptor(kRecorderId)->create(streams);
    if (!recorder)
        return HostApplication::error(
            "the sources give nothing that can be recorded (image or tracking streams)");
    Properties settings("Settings");
    settings.setParam("savePath", std::filesystem::absolute(line.outDirectory).string());
    settings.setParam("saveToFile", true);
    settings.setParam("saveRecordingsAsync", false);
    settings.setParam("patientName", std::string("recording"));
    settings.setParam("saveAsDicom", line.dicom);
    settings.setParam("compress", line.compress);
    settings.setParam("liveStreamRecording", line.live);
    // A live recording keeps its frames on disk only, so that it may run for hours.
    settings.setParam("keepMinimalFramesOnStreamRecording", line.live ? 0 : -1);
    for (const auto& key : recorderSettings.paramNames())
        settings.setParamText(key, *recorderSettings.paramText(key));
    SettingsApplier::Refusal refusal;
    if (!SettingsApplier::apply(*recorder, settings, &refusal))
        return HostApplication::error(refusal.text + " (" + std::string(kRecorderId) + ")");
    recorder->compute();
    if (recorder->status() != Algorithm::Status::Success) {
        const Progress p = readProgress(*recorder);
        return HostApplication::error("the recording did not start" +
                                      (p.saveError.empty() ? "" : ": " + p.saveError));
    }
    std::cout << "Recording " << count << " source(s) into " << line.outDirectory
              << (line.seconds ? fmt::format(" for {} s", *line.seconds)
                               : std::string(" until interrupted (Ctrl-C)"))
              << "\n";
    std::cout.flush();

    int code = 0;
    {
        TerminationSignals signals;
        int lastCount = 0;
        QTimer progress;
        progress.setTimerType(Qt::PreciseTimer);
        QObject::connect(&progress, &QTimer::timeout, [&] {
            const Progress p = readProgress(*recorder);
            const int total = p.frames + p.samples;
            std::cout << fmt::format("{:.0f} s: {} frames, {} samples, {}, {} /s{}, {}\n", p.seconds,
                                     p.frames, p.samples, megabytes(p.bytes), total - lastCount,
                                     line.live ? fmt::format(", {} written", p.written) : std::string(),
                                     p.limitReached ? "limit reached" : "no limit reached");
            std::cout.flush();
            lastCount = total;
            if (!p.recording)
                QCoreApplication::quit();  // a limit or a change of the sources ended it
        });
        progress.start(1000);
        QTimer end;
        end.setSingleShot(true);
        end.setTimerType(Qt::PreciseTimer);
        QObject::connect(&end, &QTimer::timeout, [] { QCoreApplication::quit(); });
        if (line.seconds)
            end.start(static_cast<int>(*line.seconds * 1000.0) + 20);
        QCoreApplication::exec();
    }

    recorder->runAction("stop");  // saves, blocking
    OwningDataList recorded = recorder->takeOutput();
    const Progress p = readProgress(*recorder);
    recorded.clear();
    recorder.reset();
    for (auto& source : sources)
        for (auto& display : source.displays)
            display->request("close");

    std::cout << fmt::format("Recorded {} frames and {} samples ({}) in {:.1f} s\n", p.frames, p.samples,
                             megabytes(p.bytes), p.seconds);
    size_t start = 0;
    while (start < p.savedFiles.size()) {
        const size_t stop = std::min(p.savedFiles.find('\n', start), p.savedFiles.size());
        // A live file that could not be finished stays under its temporary name; only what is really
        // there is reported as saved (the error follows).
        const std::string file = p.savedFiles.substr(start, stop - start);
        if (!file.empty() && std::filesystem::exists(file))
            std::cout << "Saved " << file << "\n";
        start = stop + 1;
    }
    std::cout.flush();
    if (!p.saveError.empty())
        code = HostApplication::error("saving the recording failed: " + p.saveError);
    if (p.exportFailed)
        code =
            HostApplication::error("the live recording could not be written completely (is the disk full?)");
    if (p.savedFiles.empty() && code == 0)
        code = HostApplication::error("nothing was recorded, nothing saved");
    return code;
}

const CommandRegistration kRecord({.name = "record",
                                   .arguments = "ID [ID ...] [KEY=VALUE ...]",
                                   .summary = "record sources into files: progress per second, Ctrl-C saves",
                                   .argumentsHint = "an algorithm identifier of a source",
                                   .minArguments = 1,
                                   .maxArguments = -1,
                                   .takesSettings = true,
                                   .repeatsArguments = true,
                                   .options = {"--config", "--out", "--seconds", "--live", "--compress",
                                               "--dicom"},
                                   .run = record});

}  // namespace
}  // namespace Corvexis
