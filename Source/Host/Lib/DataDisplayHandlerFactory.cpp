#include "Host/Lib/DataDisplayHandlerFactory.h"

#include <algorithm>

#include "Host/Lib/DataDisplay.h"
#include "Host/Lib/DataDisplayHandler.h"

namespace Corvexis {

DataDisplayHandlerFactory& DataDisplayHandlerFactory::get()
{
    static DataDisplayHandlerFactory registry;
    return registry;
}

bool DataDisplayHandlerFactory::registerHandler(const std::string& name, const DataDisplayHandler* handler)
{
    if (handler == nullptr || name.empty())
        return false;
    std::lock_guard lock(mutex_);
    if (std::any_of(handlers_.begin(), handlers_.end(), [&](const auto& h) { return h.first == name; }))
        return false;
    handlers_.emplace_back(name, handler);
    return true;
}

void DataDisplayHandlerFactory::unregisterHandler(const DataDisplayHandler* handler)
{
    std::lock_guard lock(mutex_);
    std::erase_if(handlers_, [&](const auto& h) { return h.second == handler; });
}

std::vector<std::string> DataDisplayHandlerFactory::names() const
{
    std::lock_guard lock(mutex_);
    std::vector<std::string> result;
    for (const auto& h : handlers_)
        result.push_back(h.first);
    return result;
}

const DataDisplayHandler* DataDisplayHandlerFactory::handler(const std::string& name) const
{
    std::lock_guard lock(mutex_);
    for (const auto& h : handlers_)
        if (h.first == name)
            return h.second;
    return nullptr;
}

std::pair<std::unique_ptr<DataDisplay>, std::string> DataDisplayHandlerFactory::createDisplay(
    Data& data) const
{
    std::vector<std::pair<std::string, const DataDisplayHandler*>> handlers;
    {
        std::lock_guard lock(mutex_);
        handlers = handlers_;
    }
    for (const auto& [name, h] : handlers) {
        if (!h->canShow(data))
            continue;
        if (auto display = h->createDisplay(data))
            return {std::move(display), name};
    }
    return {std::unique_ptr<DataDisplay>(), std::string()};
}

}  // namespace Corvexis
