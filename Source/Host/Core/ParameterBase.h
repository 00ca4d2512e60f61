#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>

#include "Host/Core/Properties.h"

namespace Corvexis {

class Configurable;

// The type-independent part of a named configuration value: its fixed name, its label and attributes for
// editors ("values", "min", "max", "OpenDirectory", "hidden", ...), and access to the value as the text
// that Properties store. Parameter<T> adds the typed value.
//
// A parameter is registered with at most one Configurable (its owner), which it notifies after every
// change. Destroying a parameter unregisters it. Neither copyable nor movable: the owner keeps its
// address.
class ParameterBase
{
public:
    explicit ParameterBase(std::string name);
    virtual ~ParameterBase();
    ParameterBase(const ParameterBase&) = delete;
    ParameterBase& operator=(const ParameterBase&) = delete;

    // The key under which the value is saved. Fixed at construction; thread-safe.
    const std::string& name() const { return name_; }

    // The label shown to people; stored as the attribute "label". Thread-safe.
    std::string label() const;
    void setLabel(const std::string& label);

    // Sets or replaces an attribute; a new one goes last. Thread-safe.
    void setAttribute(const std::string& key, const std::string& value);
    // "" when not set. Thread-safe.
    std::string attribute(const std::string& key) const;
    // Every attribute in the order first set. Thread-safe.
    Properties::Attributes attributes() const;

    // The Configurable this parameter is registered with, or nullptr. Thread-safe (the owner itself must
    // outlive its use: registration and destruction are caller synchronises against other calls).
    Configurable* owner() const { return owner_.load(std::memory_order_acquire); }

    // The value as stored in Properties. Thread-safe.
    virtual std::string valueText() const = 0;
    // Parses `text` and sets the value as setValue does. On a malformed text the value is kept, false is
    // returned and *why (when given) says what was expected. Thread-safe; signals on the calling thread.
    virtual bool setValueText(std::string_view text, std::string* why = nullptr) = 0;
    // Sets the default value as setValue does. Thread-safe; signals on the calling thread.
    virtual void resetToDefault() = 0;
    // True when the value equals the default. Thread-safe.
    virtual bool isDefault() const = 0;
    // The default value as stored in Properties. Thread-safe.
    virtual std::string defaultText() const = 0;
    // The kind of value, as SettingsSchema names it ("bool", "integer", "number", ...). Thread-safe.
    virtual std::string typeName() const = 0;

protected:
    // Tells the owner that the value changed; call after the change, holding no lock. Calling thread.
    void notifyOwner();

private:
    friend class Configurable;

    const std::string name_;
    std::atomic<Configurable*> owner_{nullptr};

    mutable std::mutex mutex_;
    // guarded by mutex_
    Properties::Attributes attributes_;
};

}  // namespace Corvexis
