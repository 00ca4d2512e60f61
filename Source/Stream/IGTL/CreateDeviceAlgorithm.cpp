#include "Stream/IGTL/CreateDeviceAlgorithm.h"

#include "Host/Core/Log.h"
#include "Host/Core/OwningDataList.h"
#include "Stream/Framework/Stream.h"
#include "Stream/IGTL/Connection.h"
#include "Stream/IGTL/SupportedDeviceTypes.h"

namespace Corvexis::IGTL {

CreateDeviceAlgorithm::CreateDeviceAlgorithm(Connection* connection, Data* input)
    : connection_(connection), input_(input)
{
    if (connection_ != nullptr)
        connection_->signalDeleted.connect(this, [this] { connection_ = nullptr; });
}

CreateDeviceAlgorithm::~CreateDeviceAlgorithm()
{
    disconnectAll();
}

void CreateDeviceAlgorithm::configure(const Properties* properties)
{
    Algorithm::configure(properties);
    if (properties == nullptr)
        return;
    if (const Properties* block = properties->subProperties("Stream Properties"))
        streamProperties_ = *block;
}

void CreateDeviceAlgorithm::configuration(Properties* properties) const
{
    if (properties == nullptr)
        return;
    Algorithm::configuration(properties);
    if (!streamProperties_.empty())
        properties->addSubProperties(std::make_unique<Properties>(streamProperties_));
}

void CreateDeviceAlgorithm::compute()
{
    output_.reset();
    Properties properties = streamProperties_;
    if (!properties.hasParam("igtlType"))
        properties.setParam("igtlType", igtlType.value());
    std::unique_ptr<Data> device;
    if (connection_ != nullptr)
        device = SupportedDeviceTypes::create(streamType.value(), *connection_, deviceName.value(), input_,
                                              &properties);
    if (!device) {
        Log::log(Log::Level::Error, "IgtLinkCreateStreamAlgorithm", "Could not create igtlink stream");
        setStatus(Status::Error);
        return;
    }
    device->setName(deviceName.value());
    bool ok = true;
    if (auto* stream = dynamic_cast<Stream*>(device.get()); stream != nullptr && start.value())
        ok = stream->open() && stream->start();
    output_ = std::move(device);
    setStatus(ok ? Status::Success : Status::Error);
    signalOutputChanged.emitSignal();
}

OwningDataList CreateDeviceAlgorithm::takeOutput()
{
    if (!output_)
        return {};
    return OwningDataList(std::move(output_));
}

}  // namespace Corvexis::IGTL
