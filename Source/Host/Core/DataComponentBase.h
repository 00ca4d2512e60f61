#pragma once

#include <memory>
#include <string>

namespace Corvexis {

class Properties;

// A piece of metadata attached to a data item or a record (calibration, vitals, timestamps...).
// Components are values: a DataComponentList copies them by clone(). Caller synchronises.
class DataComponentBase
{
public:
    virtual ~DataComponentBase();

    // A deep copy of the same dynamic type.
    virtual std::unique_ptr<DataComponentBase> clone() const = 0;
    // Stable identifier of the component type, used as its block name when saved ("VitalsDataComponent").
    virtual std::string id() const = 0;

    // Reads the component's fields from `p`; missing keys keep their values. Default: nothing.
    virtual void configure(const Properties* p);
    // Writes the component's fields into `p`. Default: nothing.
    virtual void configuration(Properties* p) const;

protected:
    DataComponentBase() = default;
    DataComponentBase(const DataComponentBase&) = default;
    DataComponentBase& operator=(const DataComponentBase&) = default;
};

}  // namespace Corvexis
