#include "Host/Core/Properties.h"

#include <algorithm>

namespace Corvexis {

namespace {

void setAttributeIn(Properties::Attributes& attributes, const std::string& attr, const std::string& value)
{
    for (auto& [name, text] : attributes)
        if (name == attr) {
            text = value;
            return;
        }
    attributes.emplace_back(attr, value);
}

std::string attributeIn(const Properties::Attributes& attributes, const std::string& attr)
{
    for (const auto& [name, text] : attributes)
        if (name == attr)
            return text;
    return {};
}

}  // namespace

Properties::Properties(std::string name) : name_(std::move(name)) {}

Properties::~Properties() = default;

Properties::Properties(const Properties& other)
    : name_(other.name_), params_(other.params_), index_(other.index_), attributes_(other.attributes_)
{
    children_.reserve(other.children_.size());
    for (const auto& child : other.children_)
        children_.push_back(std::make_unique<Properties>(*child));
}

Properties& Properties::operator=(const Properties& other)
{
    if (this != &other) {
        Properties copy(other);
        *this = std::move(copy);
    }
    return *this;
}

Properties::Properties(Properties&& other) noexcept = default;
Properties& Properties::operator=(Properties&& other) noexcept = default;

bool Properties::operator==(const Properties& other) const
{
    if (name_ != other.name_ || attributes_ != other.attributes_ || params_.size() != other.params_.size() ||
        children_.size() != other.children_.size())
        return false;
    for (size_t i = 0; i < params_.size(); ++i) {
        const Param& a = params_[i];
        const Param& b = other.params_[i];
        if (a.key != b.key || a.text != b.text || a.attributes != b.attributes)
            return false;
    }
    for (size_t i = 0; i < children_.size(); ++i)
        if (!(*children_[i] == *other.children_[i]))
            return false;
    return true;
}

Properties::Param* Properties::findParam(const std::string& key)
{
    const auto it = index_.find(key);
    return it == index_.end() ? nullptr : &params_[it->second];
}

const Properties::Param* Properties::findParam(const std::string& key) const
{
    const auto it = index_.find(key);
    return it == index_.end() ? nullptr : &params_[it->second];
}

void Properties::rebuildIndex()
{
    index_.clear();
    for (size_t i = 0; i < params_.size(); ++i)
        index_.emplace(params_[i].key, i);
}

const std::string* Properties::paramText(const std::string& key) const
{
    const Param* p = findParam(key);
    return p ? &p->text : nullptr;
}

void Properties::setParamText(const std::string& key, std::string text)
{
    if (Param* p = findParam(key)) {
        p->text = std::move(text);
        return;
    }
    index_.emplace(key, params_.size());
    params_.push_back(Param{key, std::move(text), {}});
}

bool Properties::hasParam(const std::string& key) const
{
    return index_.count(key) != 0;
}

void Properties::removeParam(const std::string& key)
{
    const auto it = index_.find(key);
    if (it == index_.end())
        return;
    params_.erase(params_.begin() + static_cast<std::ptrdiff_t>(it->second));
    rebuildIndex();
}

std::vector<std::string> Properties::paramNames() const
{
    std::vector<std::string> names;
    names.reserve(params_.size());
    for (const Param& p : params_)
        names.push_back(p.key);
    return names;
}

void Properties::setParamAttribute(const std::string& key, const std::string& attr, const std::string& value)
{
    if (Param* p = findParam(key))
        setAttributeIn(p->attributes, attr, value);
}

std::string Properties::paramAttribute(const std::string& key, const std::string& attr) const
{
    const Param* p = findParam(key);
    return p ? attributeIn(p->attributes, attr) : std::string();
}

Properties::Attributes Properties::paramAttributes(const std::string& key) const
{
    const Param* p = findParam(key);
    return p ? p->attributes : Attributes();
}

void Properties::setAttribute(const std::string& attr, const std::string& value)
{
    setAttributeIn(attributes_, attr, value);
}

std::string Properties::attribute(const std::string& attr) const
{
    return attributeIn(attributes_, attr);
}

Properties* Properties::addSubProperties(const std::string& name)
{
    children_.push_back(std::make_unique<Properties>(name));
    return children_.back().get();
}

Properties* Properties::addSubProperties(std::unique_ptr<Properties> block)
{
    if (!block)
        return nullptr;
    children_.push_back(std::move(block));
    return children_.back().get();
}

Properties* Properties::subProperties(const std::string& name) const
{
    for (const auto& child : children_)
        if (child->name_ == name)
            return child.get();
    return nullptr;
}

std::vector<Properties*> Properties::subPropertiesList(const std::string& name) const
{
    std::vector<Properties*> list;
    for (const auto& child : children_)
        if (child->name_ == name)
            list.push_back(child.get());
    return list;
}

std::vector<Properties*> Properties::subProperties() const
{
    std::vector<Properties*> list;
    list.reserve(children_.size());
    for (const auto& child : children_)
        list.push_back(child.get());
    return list;
}

void Properties::removeSubProperties(const Properties* block)
{
    const auto it =
        std::find_if(children_.begin(), children_.end(),
                     [block](const std::unique_ptr<Properties>& child) { return child.get() == block; });
    if (it != children_.end())
        children_.erase(it);
}

void Properties::clear()
{
    params_.clear();
    index_.clear();
    attributes_.clear();
    children_.clear();
}

bool Properties::empty() const
{
    return params_.empty() && attributes_.empty() && children_.empty();
}

}  // namespace Corvexis
