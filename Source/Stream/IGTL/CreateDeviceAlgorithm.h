#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Host/Core/Parameter.h"
#include "Host/Core/Properties.h"
#include "Host/Core/SignalReceiver.h"
#include "Host/Lib/Algorithm.h"

namespace Corvexis::IGTL {

class Connection;

// Creates one device of a chosen kind on an existing connection: "streamType" (a SupportedDeviceTypes
// name), "deviceName", "start" (open and start a created stream). The properties handed to the device
// are the sub-group "Stream Properties" of the configuration; the parameter "igtlType" (the tracking
// kinds' message type) is put there when the sub-group does not name one.
//
// The connection and the optional input are borrowed: the caller keeps them alive while the algorithm
// runs (a destroyed connection is noticed and compute then fails). The created device is owned by the
// algorithm until the host takes it. Threading: caller synchronises.
class CreateDeviceAlgorithm : public Algorithm, public SignalReceiver
{
public:
    CreateDeviceAlgorithm(Connection* connection, Data* input = nullptr);
    ~CreateDeviceAlgorithm() override;

    void compute() override;
    OwningDataList takeOutput() override;
    void configure(const Properties* properties) override;
    void configuration(Properties* properties) const override;

    // The device made by the last compute, until taken.
    Data* device() const { return output_.get(); }

    Parameter<std::string> streamType{"streamType", "Igtlink Input Image Stream", this};
    Parameter<std::string> deviceName{"deviceName", "Image", this};
    Parameter<bool> start{"start", true, this};
    Parameter<std::string> igtlType{"igtlType", "TRANSFORM", this};

private:
    Connection* connection_;
    Data* input_;
    Properties streamProperties_{"Stream Properties"};
    std::unique_ptr<Data> output_;
};

}  // namespace Corvexis::IGTL
