#include "Host/Core/Configurable.h"

#include <algorithm>
#include <utility>

#include "Host/Core/Log.h"
#include "Host/Core/ParameterBase.h"
#include "Host/Core/SettingsSchema.h"

namespace Corvexis {

namespace {

constexpr std::string_view kCategory = "Configurable";

// The batches open on this thread, innermost last, with whether a change was seen inside each.
struct OpenBatch
{
    const Configurable* owner;
    bool changed;
};
thread_local std::vector<OpenBatch> tOpenBatches;

OpenBatch* innermostBatch(const Configurable* owner)
{
    for (auto it = tOpenBatches.rbegin(); it != tOpenBatches.rend(); ++it)
        if (it->owner == owner)
            return &*it;
    return nullptr;
}

std::string shortened(const std::string& text)
{
    return text.size() > 80 ? text.substr(0, 80) + "..." : text;
}

}  // namespace

Configurable::ChangeBatch::ChangeBatch(Configurable& owner) : owner_(owner)
{
    tOpenBatches.push_back({&owner, false});
}

Configurable::ChangeBatch::~ChangeBatch()
{
    const bool changed = tOpenBatches.back().changed;
    tOpenBatches.pop_back();
    if (!changed)
        return;
    if (OpenBatch* outer = innermostBatch(&owner_)) {
        outer->changed = true;
        return;
    }
    try {
        owner_.emitParametersChanged();
    } catch (...) {
        // An exception must not leave a destructor; the receiver that threw is at fault.
        Log::log(Log::Level::Error, kCategory,
                 "A receiver of signalParametersChanged threw at the end of a batch");
    }
}

Configurable::Configurable() = default;

Configurable::~Configurable()
{
    std::lock_guard lock(mutex_);
    for (ParameterBase* parameter : parameters_)
        parameter->owner_.store(nullptr, std::memory_order_release);
    parameters_.clear();
}

void Configurable::configure(const Properties* properties)
{
    if (properties == nullptr)
        return;
    ChangeBatch batch(*this);
    for (ParameterBase* parameter : parameters()) {
        const std::string* text = properties->paramText(parameter->name());
        if (text == nullptr)
            continue;
        std::string why;
        if (!parameter->setValueText(*text, &why))
            Log::log(Log::Level::Warning, kCategory,
                     "Parameter '" + parameter->name() + "': value '" + shortened(*text) +
                         "' not accepted (" + why + "); keeping '" + shortened(parameter->valueText()) + "'");
    }
}

void Configurable::configuration(Properties* properties) const
{
    if (properties == nullptr)
        return;
    for (const ParameterBase* parameter : parameters()) {
        properties->setParamText(parameter->name(), parameter->valueText());
        for (const auto& [key, value] : parameter->attributes())
            properties->setParamAttribute(parameter->name(), key, value);
    }
}

void Configurable::configureDefaults()
{
    ChangeBatch batch(*this);
    for (ParameterBase* parameter : parameters())
        parameter->resetToDefault();
}

void Configurable::describeSettings(Properties* schema) const
{
    if (schema == nullptr)
        return;
    for (const ParameterBase* parameter : parameters())
        SettingsSchema::add(*schema, *parameter);
}

void Configurable::registerParameter(ParameterBase* parameter)
{
    if (parameter == nullptr)
        return;
    {
        std::lock_guard lock(mutex_);
        Configurable* owner = parameter->owner_.load(std::memory_order_acquire);
        if (owner == this)
            return;
        if (owner == nullptr) {
            const bool taken =
                std::any_of(parameters_.begin(), parameters_.end(),
                            [&](const ParameterBase* p) { return p->name() == parameter->name(); });
            if (!taken) {
                parameters_.push_back(parameter);
                parameter->owner_.store(this, std::memory_order_release);
                return;
            }
        }
    }
    Log::log(Log::Level::Warning, kCategory,
             "Parameter '" + parameter->name() + "' not registered: " +
                 (parameter->owner() != nullptr ? "it belongs to another object" : "the name is taken"));
}

void Configurable::unregisterParameter(ParameterBase* parameter)
{
    std::lock_guard lock(mutex_);
    const auto it = std::find(parameters_.begin(), parameters_.end(), parameter);
    if (it == parameters_.end())
        return;
    parameters_.erase(it);
    parameter->owner_.store(nullptr, std::memory_order_release);
}

std::vector<ParameterBase*> Configurable::parameters() const
{
    std::lock_guard lock(mutex_);
    return parameters_;
}

ParameterBase* Configurable::parameter(const std::string& name) const
{
    std::lock_guard lock(mutex_);
    for (ParameterBase* parameter : parameters_)
        if (parameter->name() == name)
            return parameter;
    return nullptr;
}

void Configurable::parameterChanged()
{
    if (OpenBatch* batch = innermostBatch(this)) {
        batch->changed = true;
        return;
    }
    emitParametersChanged();
}

void Configurable::emitParametersChanged()
{
    signalParametersChanged.emitSignal();
}

}  // namespace Corvexis
