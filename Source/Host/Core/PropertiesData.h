#pragma once

#include <memory>
#include <string>

#include "Host/Core/Data.h"
#include "Host/Core/Properties.h"

namespace Corvexis {

// A property block as a data item, so that settings and metadata can travel in a data list (saved in a
// data file, serialised into a message) beside images and tracking. Its kind is Unknown: it is not
// something a view displays. Caller synchronises (name and pose keep Data's thread-safe accessors).
class PropertiesData : public Data
{
public:
    explicit PropertiesData(Properties properties = Properties(), std::string name = {});
    PropertiesData(const PropertiesData& other) = default;
    ~PropertiesData() override;

    std::unique_ptr<PropertiesData> clone() const { return std::make_unique<PropertiesData>(*this); }

    Kind kind() const override { return Kind::Unknown; }

    Properties& properties() { return properties_; }
    const Properties& properties() const { return properties_; }

private:
    Properties properties_;
};

}  // namespace Corvexis
