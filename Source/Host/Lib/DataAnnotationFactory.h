#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Host/Core/Data.h"

namespace Corvexis {

// How the host's data tree shows one item: a description, an icon, and small attribute icons with
// tool-tips (state, modality).
struct DataAnnotation
{
    struct Attribute
    {
        std::string icon;
        std::string toolTip;
    };

    std::string description;
    std::string icon;
    std::vector<Attribute> attributes;
};

// Annotates the data items a plug-in knows. Thread-safe: annotate reads only the item (whose
// accessors it uses are thread-safe) and the factory's fixed tables.
class DataAnnotationFactory
{
public:
    DataAnnotationFactory();
    virtual ~DataAnnotationFactory();
    DataAnnotationFactory(const DataAnnotationFactory&) = delete;
    DataAnnotationFactory& operator=(const DataAnnotationFactory&) = delete;

    // The annotation of `data`, or empty when this factory does not know the item.
    virtual std::optional<DataAnnotation> annotate(const Data& data) const = 0;
};

}  // namespace Corvexis
