#pragma once

#include <memory>
#include <type_traits>

#include "Host/Core/DataComponentBase.h"

namespace Corvexis {

// Base of a concrete component type T (T derives from DataComponent<T>): clone() is T's copy
// constructor, so T only needs to be copyable and to name itself with id(). Caller synchronises.
template <typename T>
class DataComponent : public DataComponentBase
{
public:
    std::unique_ptr<DataComponentBase> clone() const override
    {
        static_assert(std::is_base_of_v<DataComponent<T>, T>, "T must derive from DataComponent<T>");
        return std::make_unique<T>(static_cast<const T&>(*this));
    }

protected:
    DataComponent() = default;
    DataComponent(const DataComponent&) = default;
    DataComponent& operator=(const DataComponent&) = default;
};

}  // namespace Corvexis
