#include "Stream/Processing/StreamAlgorithmExecutor.h"

#include <algorithm>
#include <utility>

#include "Host/Core/Log.h"
#include "Host/Core/SettingsSchema.h"
#include "Host/GL/ContextManager.h"
#include "Host/GL/Flush.h"
#include "Host/Lib/FactoryRegistry.h"
#include "Host/Lib/SequentialImageProcessor.h"
#include "Host/Lib/SharedImage.h"
#include "Stream/Framework/ImageStream.h"
#include "Stream/Framework/ImageStreamData.h"
#include "Stream/Processing/AlgorithmExecutorStream.h"

namespace Corvexis {

namespace {

constexpr std::string_view kCategory = "StreamAlgorithmExecutor";

std::size_t capacityOf(int queueSize)
{
    return static_cast<std::size_t>(std::max(queueSize, 1));
}

}  // namespace

StreamAlgorithmExecutor::StreamAlgorithmExecutor(ImageStream& input, std::unique_ptr<Algorithm> algorithm)
    : BackgroundThreadConsumer<StreamAlgorithmExecutorPayload>("StreamAlgorithmExecutor", 5,
                                                               GL::ContextManager::get().isAvailable()),
      input_(&input)
{
    paramForceBlocking.setLabel("Force blocking");
    paramProcessOnGpu.setLabel("Process on GPU");
    paramQueueSize.setLabel("Queue size");
    paramQueueSize.setAttribute("min", "1");
    paramQueueSize.signalValueChanged.connect(
        this, [this](const int& size) { setQueueCapacity(capacityOf(size)); });

    ownedOutput_ = std::make_unique<AlgorithmExecutorStream>(input.topDown(), input.kind(), &input);
    output_ = ownedOutput_.get();
    if (algorithm)
        adoptAlgorithm(std::move(algorithm), {});
    inputConnection_ = input.signalStreamData.connect(
        this, [this](std::shared_ptr<const StreamData> data) { onStreamData(data); });
}

StreamAlgorithmExecutor::~StreamAlgorithmExecutor()
{
    // No new frames, then no frame in progress, then no call from the output stream's watch.
    disconnectAll();
    stopProcessing();
    detachLink();
}

bool StreamAlgorithmExecutor::createCompatible(const DataList& inputs, std::unique_ptr<Algorithm>* algorithm)
{
    if (inputs.size() != 1)
        return false;
    auto* stream = dynamic_cast<ImageStream*>(inputs[0]);
    if (stream == nullptr || stream->kind() == Data::Kind::EncodedImageStream)
        return false;
    if (algorithm != nullptr)
        *algorithm = std::make_unique<StreamAlgorithmExecutor>(*stream);
    return true;
}

void StreamAlgorithmExecutor::compute()
{
    bool ready = false;
    {
        std::lock_guard lock(nameMutex_);
        ready = algorithm_ != nullptr || !algorithmName_.empty();
    }
    if (!ready) {
        Log::log(Log::Level::Error, kCategory, "Algorithm name required to instantiate algorithm!");
        setStatus(Status::InvalidInput);
        return;
    }
    setStatus(Status::Success);
}

void StreamAlgorithmExecutor::setStreamAlgorithmName(const std::string& name)
{
    std::unique_ptr<Algorithm> old;
    std::shared_ptr<SharedImageSet> oldInput;
    {
        std::lock_guard algorithmLock(algorithmMutex_);
        std::lock_guard lock(nameMutex_);
        if (name == algorithmName_)
            return;
        algorithmName_ = name;
        old = std::move(algorithm_);
        oldInput = std::move(algorithmInput_);
        processor_ = nullptr;
    }
    // The old algorithm goes outside the locks: its destructor may take time.
}

std::string StreamAlgorithmExecutor::streamAlgorithmName() const
{
    std::lock_guard lock(nameMutex_);
    return algorithmName_;
}

Algorithm* StreamAlgorithmExecutor::streamAlgorithm() const
{
    std::lock_guard lock(nameMutex_);
    return algorithm_.get();
}

ImageStream* StreamAlgorithmExecutor::inputStream() const
{
    return input_;
}

AlgorithmExecutorStream* StreamAlgorithmExecutor::outputStream() const
{
    std::lock_guard lock(outputMutex_);
    return output_;
}

Stream* StreamAlgorithmExecutor::stream() const
{
    return outputStream();
}

void StreamAlgorithmExecutor::resetStream()
{
    std::lock_guard lock(outputMutex_);
    output_ = nullptr;
}

std::unique_ptr<Stream> StreamAlgorithmExecutor::releaseStream()
{
    std::lock_guard lock(outputMutex_);
    return std::move(ownedOutput_);
}

void StreamAlgorithmExecutor::configure(const Properties* properties)
{
    if (properties == nullptr)
        return;
    StreamAlgorithm::configure(properties);
    std::string name;
    if (properties->getParam("algorithmName", name))
        setStreamAlgorithmName(name);
    if (const Properties* config = properties->subProperties("algorithmConfig")) {
        std::lock_guard algorithmLock(algorithmMutex_);
        Algorithm* current = nullptr;
        {
            std::lock_guard lock(nameMutex_);
            algorithmConfig_ = std::make_unique<Properties>(*config);
            current = algorithm_.get();
        }
        // Under algorithmMutex_ only: no frame is processed meanwhile, and the algorithm stays.
        if (current != nullptr)
            current->configure(config);
    }
}

void StreamAlgorithmExecutor::describeSettings(Properties* schema) const
{
    if (schema == nullptr)
        return;
    StreamAlgorithm::describeSettings(schema);
    SettingsSchema::add(*schema, "algorithmName", std::string(),
                        "identifier of the algorithm run on every frame (Host.GaussianSmoothing, ...)");
    Properties* config = schema->addSubProperties("algorithmConfig");
    config->setAttribute("open", "true");
    config->setAttribute("label", "configuration of the named algorithm ('corvexis show' lists its keys)");
}

void StreamAlgorithmExecutor::configuration(Properties* properties) const
{
    if (properties == nullptr)
        return;
    StreamAlgorithm::configuration(properties);
    std::lock_guard lock(nameMutex_);
    properties->setParam("algorithmName", algorithmName_);
    if (const Properties* old = properties->subProperties("algorithmConfig"))
        properties->removeSubProperties(old);
    Properties* block = properties->addSubProperties("algorithmConfig");
    if (algorithm_)
        algorithm_->configuration(block);
    else if (algorithmConfig_)
        *block = *algorithmConfig_;
    block->setName("algorithmConfig");
}

void StreamAlgorithmExecutor::adoptAlgorithm(std::unique_ptr<Algorithm> algorithm, const std::string& name)
{
    auto* processor = dynamic_cast<SequentialImageProcessor*>(algorithm.get());
    if (processor == nullptr) {
        Log::log(Log::Level::Error, kCategory,
                 "Algorithm " + name +
                     " is not capable of processing images sequentially. Implement the "
                     "SequentialImageProcessor interface.");
        return;
    }
    std::lock_guard lock(nameMutex_);
    algorithm_ = std::move(algorithm);
    processor_ = processor;
}

void StreamAlgorithmExecutor::instantiateAlgorithm(const std::shared_ptr<const SharedImageSet>& images)
{
    std::string name;
    std::unique_ptr<Properties> config;
    {
        std::lock_guard lock(nameMutex_);
        name = algorithmName_;
        if (algorithmConfig_)
            config = std::make_unique<Properties>(*algorithmConfig_);
    }
    if (name.empty() || !images)
        return;
    std::shared_ptr<SharedImageSet> input = images->clone(Image::CloneOptions::Shallow);
    std::unique_ptr<Algorithm> created;
    if (auto descriptor = FactoryRegistry::get().algorithmDescriptor(name))
        created = descriptor->create(DataList{input.get()});
    if (!created) {
        Log::log(Log::Level::Error, kCategory, "Could not factory-create algorithm " + name);
    } else {
        Log::log(Log::Level::Info, kCategory, "Created algorithm: " + name);
        if (config)
            created->configure(config.get());
        adoptAlgorithm(std::move(created), name);
        std::lock_guard lock(nameMutex_);
        if (algorithm_)
            algorithmInput_ = std::move(input);
    }
}

void StreamAlgorithmExecutor::announceAlgorithmChange()
{
    signalAlgorithmChanged.emitSignal();
    if (AlgorithmExecutorStream* output = outputStream())
        output->signalAlgorithmChanged.emitSignal();
}

void StreamAlgorithmExecutor::onStreamData(const std::shared_ptr<const StreamData>& data)
{
    const auto record = std::dynamic_pointer_cast<const ImageStreamData>(data);
    if (!record || record->size() == 0)
        return;
    std::shared_ptr<GL::SyncObject> sync;
    if (record->containsGlImage()) {
        if (GL::ContextManager::hasCurrent()) {
            sync = std::make_shared<GL::SyncObject>(GL::SyncObject::create());
            GL::flush();
        } else {
            Log::log(Log::Level::Warning, kCategory,
                     "ImageStreamData contains GL images, but the emitting thread does not have a GL "
                     "context. Cannot "
                     "synchronize GL contexts. Results may be incomplete");
        }
    }
    if (AlgorithmExecutorStream* output = outputStream())
        output->setImagesPerFrame(static_cast<int>(record->size()));

    TimestampedPayload<StreamAlgorithmExecutorPayload> payload;
    payload.payload.images = record->shallowCloneToSharedImageSet();
    payload.payload.sync = std::move(sync);
    payload.timestampArrival = record->timestampArrival();
    payload.timestampDevice = record->timestampDevice();

    if (!paramForceBlocking.value()) {
        pushPayload(std::move(payload));
        return;
    }
    if (GL::ContextManager::hasCurrent() || !GL::ContextManager::get().isAvailable()) {
        process(std::move(payload));
        return;
    }
    GL::ContextManager::runWithOpenGL([&] { process(std::move(payload)); });
}

void StreamAlgorithmExecutor::process(TimestampedPayload<StreamAlgorithmExecutorPayload> payload)
{
    std::shared_ptr<SharedImageSet> images = std::move(payload.payload.images);
    if (!images || images->empty())
        return;
    if (payload.payload.sync)
        payload.payload.sync->wait();
    if (paramProcessOnGpu.value())
        images->syncGl();

    auto results = std::make_unique<SharedImageSet>();
    bool attemptedCreation = false;
    {
        std::unique_lock algorithmLock(algorithmMutex_);
        SequentialImageProcessor* processor = nullptr;
        {
            std::lock_guard lock(nameMutex_);
            processor = processor_;
        }
        if (processor == nullptr) {
            instantiateAlgorithm(images);
            attemptedCreation = true;
            std::lock_guard lock(nameMutex_);
            processor = processor_;
        }
        if (processor == nullptr) {
            algorithmLock.unlock();
            announceAlgorithmChange();
            return;
        }
        const DataComponentList none;
        for (int i = 0; i < images->size(); ++i) {
            const DataComponentList* components =
                images->elementwiseComponents().at(static_cast<std::size_t>(i));
            auto result =
                processor->processImage(*images->get(i), components != nullptr ? *components : none);
            if (!result || !result->image)
                continue;
            if (results->empty())
                results->setModality(result->image->modality());
            results->add(std::shared_ptr<SharedImage>(std::move(result->image)));
            if (DataComponentList* target =
                    results->elementwiseComponents().at(static_cast<std::size_t>(results->size() - 1)))
                *target = std::move(result->components);
        }
    }
    // After the lock: a receiver may rename or reconfigure.
    if (attemptedCreation)
        announceAlgorithmChange();
    if (results->empty())
        return;

    AlgorithmExecutorStream* output = outputStream();
    if (output == nullptr)
        return;
    const Data::Kind setKind = results->kind();
    output->setStreamKind(setKind == Data::Kind::Volume || setKind == Data::Kind::VolumeSet
                              ? Data::Kind::VolumeStream
                              : Data::Kind::ImageStream);
    if (results->modality() != Data::Modality::None)
        output->setModality(results->modality());
    auto record = std::make_shared<ImageStreamData>(output, std::move(*results));
    record->setTimestampArrival(payload.timestampArrival);
    record->setTimestampDevice(payload.timestampDevice);
    output->signalStreamData.emitSignal(std::shared_ptr<const StreamData>(std::move(record)));
}

}  // namespace Corvexis
