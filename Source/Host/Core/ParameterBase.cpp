#include "Host/Core/ParameterBase.h"

#include "Host/Core/Configurable.h"

namespace Corvexis {

ParameterBase::ParameterBase(std::string name) : name_(std::move(name)) {}

ParameterBase::~ParameterBase()
{
    if (Configurable* owner = owner_.load(std::memory_order_acquire))
        owner->unregisterParameter(this);
}

std::string ParameterBase::label() const
{
    return attribute("label");
}

void ParameterBase::setLabel(const std::string& label)
{
    setAttribute("label", label);
}

void ParameterBase::setAttribute(const std::string& key, const std::string& value)
{
    std::lock_guard lock(mutex_);
    for (auto& [existing, text] : attributes_)
        if (existing == key) {
            text = value;
            return;
        }
    attributes_.emplace_back(key, value);
}

std::string ParameterBase::attribute(const std::string& key) const
{
    std::lock_guard lock(mutex_);
    for (const auto& [existing, text] : attributes_)
        if (existing == key)
            return text;
    return {};
}

Properties::Attributes ParameterBase::attributes() const
{
    std::lock_guard lock(mutex_);
    return attributes_;
}

void ParameterBase::notifyOwner()
{
    if (Configurable* owner = owner_.load(std::memory_order_acquire))
        owner->parameterChanged();
}

}  // namespace Corvexis
