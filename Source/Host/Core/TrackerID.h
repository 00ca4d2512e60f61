#pragma once

#include <string>

namespace Corvexis {

// Identity of a tracked instrument: a unique identifier text, a model number and a display name.
// Constructors take the name last: (id), (id, name) or (id, modelNumber, name). A plain value; caller
// synchronises.
class TrackerID
{
public:
    TrackerID() = default;
    explicit TrackerID(std::string id) : id_(std::move(id)) {}
    TrackerID(std::string id, std::string name) : id_(std::move(id)), name_(std::move(name)) {}
    TrackerID(std::string id, std::string modelNumber, std::string name)
        : id_(std::move(id)), modelNumber_(std::move(modelNumber)), name_(std::move(name))
    {
    }

    const std::string& ID() const { return id_; }
    const std::string& modelNumber() const { return modelNumber_; }
    const std::string& name() const { return name_; }
    void setID(std::string id) { id_ = std::move(id); }
    void setModelNumber(std::string modelNumber) { modelNumber_ = std::move(modelNumber); }
    void setName(std::string name) { name_ = std::move(name); }

    // The name, or the identifier when the name is empty; for display.
    const std::string& displayName() const { return name_.empty() ? id_ : name_; }

    bool operator==(const TrackerID& other) const = default;

private:
    std::string id_;
    std::string modelNumber_;
    std::string name_;
};

}  // namespace Corvexis
