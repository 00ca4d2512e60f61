#pragma once

#include "Host/Core/ElementwiseDataComponentList.h"

namespace Corvexis {

// Mix-in for containers whose elements (frames, images of a record) carry their own components, kept
// index-aligned with the elements by the container. Caller synchronises.
class ElementwiseDataComponentData
{
public:
    virtual ~ElementwiseDataComponentData();

    ElementwiseDataComponentList& elementwiseComponents() { return elementwiseComponents_; }
    const ElementwiseDataComponentList& elementwiseComponents() const { return elementwiseComponents_; }

protected:
    ElementwiseDataComponentData() = default;
    ElementwiseDataComponentData(const ElementwiseDataComponentData&) = default;
    ElementwiseDataComponentData(ElementwiseDataComponentData&&) noexcept = default;
    ElementwiseDataComponentData& operator=(const ElementwiseDataComponentData&) = default;
    ElementwiseDataComponentData& operator=(ElementwiseDataComponentData&&) noexcept = default;

private:
    ElementwiseDataComponentList elementwiseComponents_;
};

}  // namespace Corvexis
