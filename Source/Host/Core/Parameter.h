#pragma once

#include <cmath>
#include <concepts>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "Host/Core/Configurable.h"
#include "Host/Core/ParameterBase.h"
#include "Host/Core/PropertyValue.h"
#include "Host/Core/SettingsSchema.h"
#include "Host/Core/Signal.h"

namespace Corvexis {

namespace ParameterDetail {

// Whether a new value is a change. Floating values compare by value and sign, and NaN equals NaN, so
// that setting the value just read never counts as a change and -0.0 replaces 0.0.
template <typename T>
bool sameValue(const T& a, const T& b)
{
    if constexpr (std::floating_point<T>)
        return (a == b && std::signbit(a) == std::signbit(b)) || (std::isnan(a) && std::isnan(b));
    else if constexpr (std::is_base_of_v<Eigen::MatrixBase<T>, T>)
        return a.rows() == b.rows() && a.cols() == b.cols() && a == b;  // dynamic sizes may differ
    else
        return a == b;
}

}  // namespace ParameterDetail

// A named, typed configuration value with a default, saved and loaded through its owner's
// configuration. T is any type PropertyValue<T> knows: bool, integers, floating point, std::string,
// enumerations, fixed-size Eigen matrices and vectors, lists, and std::optional of these (an empty
// optional is saved as an empty text).
//
// The value is guarded by the parameter's own lock; signals are emitted after it is released, on the
// thread that changed the value, and only when the value really changed.
template <typename T>
class Parameter : public ParameterBase
{
public:
    // Registers with `owner` when given (caller synchronises with the owner's other registrations).
    Parameter(const std::string& name, const T& defaultValue, Configurable* owner = nullptr)
        : ParameterBase(name), default_(defaultValue), value_(defaultValue)
    {
        if (owner != nullptr)
            owner->registerParameter(this);
    }

    // Unregisters before the value and signal go, so the owner never reaches a half-destroyed parameter.
    ~Parameter() override
    {
        if (Configurable* owner = this->owner())
            owner->unregisterParameter(this);
    }

    // Thread-safe.
    T value() const
    {
        std::lock_guard lock(valueMutex_);
        return value_;
    }
    operator T() const { return value(); }

    // Stores `value`; when it differs from the old one, emits signalValueChanged and then the owner's
    // signalParametersChanged on the calling thread. Thread-safe.
    void setValue(const T& value)
    {
        bool changed = false;
        {
            std::lock_guard lock(valueMutex_);
            changed = !ParameterDetail::sameValue(value_, value);
            value_ = value;
        }
        if (!changed)
            return;
        signalValueChanged.emitSignal(value);
        notifyOwner();
    }
    Parameter& operator=(const T& value)
    {
        setValue(value);
        return *this;
    }

    // Fixed at construction; thread-safe.
    const T& defaultValue() const { return default_; }

    std::string valueText() const override { return PropertyValue<T>::toText(value()); }
    bool setValueText(std::string_view text, std::string* why = nullptr) override
    {
        T parsed{};
        if (!PropertyValue<T>::fromText(text, parsed)) {
            if (why != nullptr)
                *why = std::string("expected ") + PropertyValue<T>::whatExpected();
            return false;
        }
        setValue(parsed);
        return true;
    }
    void resetToDefault() override { setValue(default_); }
    bool isDefault() const override
    {
        std::lock_guard lock(valueMutex_);
        return ParameterDetail::sameValue(value_, default_);
    }
    std::string defaultText() const override { return PropertyValue<T>::toText(default_); }
    std::string typeName() const override { return SettingsSchema::typeOf<T>(); }

    // Emitted with the new value after every real change, on the thread that made it.
    Signal<const T&> signalValueChanged;

private:
    const T default_;

    mutable std::mutex valueMutex_;
    // guarded by valueMutex_
    T value_;
};

}  // namespace Corvexis
