#include "Host/Lib/Algorithm.h"

#include <algorithm>

namespace Corvexis {

Algorithm::Algorithm() = default;

Algorithm::~Algorithm() = default;

OwningDataList Algorithm::takeOutput()
{
    return {};
}

Algorithm::Status Algorithm::status() const
{
    std::lock_guard lock(mutex_);
    return status_;
}

void Algorithm::setStatus(Status status)
{
    std::lock_guard lock(mutex_);
    status_ = status;
}

std::string Algorithm::statusToString(Status status)
{
    switch (status) {
    case Status::Unknown: return "Unknown";
    case Status::Success: return "Success";
    case Status::Error: return "Error";
    case Status::InvalidInput: return "Invalid input";
    case Status::IncompleteInput: return "Incomplete input";
    case Status::OutOfMemory: return "Out of memory";
    }
    return "Status " + std::to_string(static_cast<int>(status));
}

std::vector<Algorithm::Action> Algorithm::actions() const
{
    std::lock_guard lock(mutex_);
    std::vector<Action> result;
    result.reserve(actions_.size());
    for (const auto& a : actions_)
        result.push_back(a.action);
    return result;
}

bool Algorithm::runAction(const std::string& id)
{
    std::function<bool()> run;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(actions_.begin(), actions_.end(),
                               [&](const RegisteredAction& a) { return a.action.id == id; });
        if (it == actions_.end())
            return false;
        run = it->run;
    }
    // Run without the lock: an action may register or list actions itself.
    return run ? run() : false;
}

void Algorithm::registerAction(const std::string& id, const std::string& label, std::function<bool()> run)
{
    std::lock_guard lock(mutex_);
    for (auto& a : actions_) {
        if (a.action.id == id) {
            a.action.label = label;
            a.run = std::move(run);
            return;
        }
    }
    actions_.push_back({{id, label}, std::move(run)});
}

}  // namespace Corvexis
