#include "Stream/IGTL/DeviceKinds.h"

#include "Host/Core/Properties.h"
#include "Stream/IGTL/Connection.h"
#include "Stream/IGTL/IgtlImageOutStream.h"
#include "Stream/IGTL/IgtlImageStream.h"
#include "Stream/IGTL/IgtlPolyDataOutStream.h"
#include "Stream/IGTL/IgtlPolyDataStream.h"
#include "Stream/IGTL/IgtlTrackingOutStream.h"
#include "Stream/IGTL/IgtlTrackingStream.h"
#include "Stream/IGTL/ImageData.h"
#include "Stream/IGTL/MeshData.h"
#include "Stream/IGTL/MessageTypeNames.h"
#include "Stream/IGTL/PointCloudData.h"

namespace Corvexis::IGTL {

namespace {

using Descriptor = SupportedDeviceTypes::Descriptor;

// Makes an output data device and sends the input once when there is one.
template <typename T>
std::unique_ptr<Data> outputData(Connection& connection, const std::string& name, Data* input)
{
    auto device = std::make_unique<T>(&connection, name, false);
    if (input != nullptr)
        device->sendData(input);
    return device;
}

std::string trackingType(const Properties* properties)
{
    std::string type = MessageTypeNames::kTransform;
    if (properties != nullptr)
        properties->getParam("igtlType", type);
    return type;
}

}  // namespace

std::vector<Descriptor> DeviceKinds::imageKinds()
{
    return {
        {"Igtlink Input Image Data", Device::IO::Input,
         [](Connection& c, const std::string& n, Data*, const Properties*) -> std::unique_ptr<Data> {
             return std::make_unique<ImageData>(&c, n, true);
         }},
        {"Igtlink Output Image Data", Device::IO::Output,
         [](Connection& c, const std::string& n, Data* input, const Properties*) {
             return outputData<ImageData>(c, n, input);
         }},
        {"Igtlink Input Image Stream", Device::IO::Input,
         [](Connection& c, const std::string& n, Data*, const Properties*) -> std::unique_ptr<Data> {
             return std::make_unique<IgtlImageStream>(&c, n);
         }},
        {"Igtlink Output Image Stream", Device::IO::Output,
         [](Connection& c, const std::string& n, Data*, const Properties*) -> std::unique_ptr<Data> {
             return std::make_unique<IgtlImageOutStream>(c, n);
         }},
    };
}

std::vector<Descriptor> DeviceKinds::polyDataKinds()
{
    return {
        {"Igtlink Input Mesh Data", Device::IO::Input,
         [](Connection& c, const std::string& n, Data*, const Properties*) -> std::unique_ptr<Data> {
             return std::make_unique<MeshData>(&c, n, true);
         }},
        {"Igtlink Output Mesh Data", Device::IO::Output,
         [](Connection& c, const std::string& n, Data* input, const Properties*) {
             return outputData<MeshData>(c, n, input);
         }},
        {"Igtlink Input Point Cloud Data", Device::IO::Input,
         [](Connection& c, const std::string& n, Data*, const Properties*) -> std::unique_ptr<Data> {
             return std::make_unique<PointCloudData>(&c, n, true);
         }},
        {"Igtlink Output Point Cloud Data", Device::IO::Output,
         [](Connection& c, const std::string& n, Data* input, const Properties*) {
             return outputData<PointCloudData>(c, n, input);
         }},
        {"Igtlink Input PolyData Stream", Device::IO::Input,
         [](Connection& c, const std::string& n, Data*, const Properties*) -> std::unique_ptr<Data> {
             return std::make_unique<IgtlPolyDataStream>(&c, n);
         }},
        {"Igtlink Output PolyData Stream", Device::IO::Output,
         [](Connection& c, const std::string& n, Data*, const Properties*) -> std::unique_ptr<Data> {
             return std::make_unique<IgtlPolyDataOutStream>(c, n);
         }},
    };
}

std::vector<Descriptor> DeviceKinds::trackingKinds()
{
    return {
        {"Igtlink Input Tracking Stream", Device::IO::Input,
         [](Connection& c, const std::string& n, Data*, const Properties* p) -> std::unique_ptr<Data> {
             return std::make_unique<IgtlTrackingStream>(&c, n, trackingType(p));
         }},
        {"Igtlink Output Tracking Stream", Device::IO::Output,
         [](Connection& c, const std::string& n, Data*, const Properties* p) -> std::unique_ptr<Data> {
             return std::make_unique<IgtlTrackingOutStream>(c, n, trackingType(p));
         }},
    };
}

void DeviceKinds::registerAll()
{
    for (auto group : {imageKinds(), polyDataKinds(), trackingKinds()})
        for (auto& descriptor : group)
            SupportedDeviceTypes::registerDescriptor(std::move(descriptor));
}

}  // namespace Corvexis::IGTL
