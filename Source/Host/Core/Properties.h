#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Host/Core/PropertyValue.h"

namespace Corvexis {

// A named tree of configuration values: parameters (key, text value, ordered attributes) in insertion
// order, block attributes, and ordered, named sub-blocks that the tree owns. Several sub-blocks may share
// a name ("Devices" holding one block per instrument).
//
// Values are stored as text (see PropertyValue.h) so that any tree can be written and read back without
// knowing the types; typed access converts on the way in and out.
//
// A value type: copies are deep. Caller synchronises: no operation locks, so a tree shared between
// threads needs the owner's lock (GlobalSettings holds one for its tree).
class Properties
{
public:
    using Attributes = std::vector<std::pair<std::string, std::string>>;

    explicit Properties(std::string name = {});
    ~Properties();
    Properties(const Properties& other);
    Properties& operator=(const Properties& other);
    Properties(Properties&& other) noexcept;
    Properties& operator=(Properties&& other) noexcept;

    // Deep comparison: names, parameters in order with their attributes, block attributes and sub-blocks.
    bool operator==(const Properties& other) const;

    const std::string& name() const { return name_; }
    void setName(std::string name) { name_ = std::move(name); }

    // Sets the value of `key`; an existing parameter keeps its position and attributes.
    template <typename T>
    void setParam(const std::string& key, const T& value)
    {
        setParamText(key, PropertyValue<T>::toText(value));
    }
    // Texts given as literals are texts, not pointers.
    void setParam(const std::string& key, const char* value) { setParamText(key, value); }

    // Reads `key` as a T. False, with `out` untouched, when the key is missing or its text is not a T.
    template <typename T>
    bool getParam(const std::string& key, T& out) const
    {
        const std::string* text = paramText(key);
        return text != nullptr && PropertyValue<T>::fromText(*text, out);
    }

    // The value of `key` as a T, or `fallback` when it is missing or not a T. T comes from `fallback`:
    // name it for Eigen expressions, param<Eigen::Matrix4d>(key, Eigen::Matrix4d::Identity()).
    template <typename T>
    T param(const std::string& key, const T& fallback) const
    {
        T value = fallback;
        return getParam(key, value) ? value : fallback;
    }
    std::string param(const std::string& key, const char* fallback) const
    {
        return param<std::string>(key, fallback);
    }

    // The stored text of `key`, or nullptr when missing. The pointer is valid until the tree changes.
    const std::string* paramText(const std::string& key) const;
    void setParamText(const std::string& key, std::string text);

    bool hasParam(const std::string& key) const;
    void removeParam(const std::string& key);
    // Keys in insertion order.
    std::vector<std::string> paramNames() const;
    size_t paramCount() const { return params_.size(); }

    // Attributes describe a parameter to editors ("label", "values", "min", "hidden", ...). Setting one
    // on a missing key does nothing; an existing attribute keeps its position.
    void setParamAttribute(const std::string& key, const std::string& attr, const std::string& value);
    // "" when the key or the attribute is missing.
    std::string paramAttribute(const std::string& key, const std::string& attr) const;
    // All attributes of `key` in the order they were first set; empty for a missing key.
    Attributes paramAttributes(const std::string& key) const;

    // Attributes of the block itself (a "label" for a settings group).
    void setAttribute(const std::string& attr, const std::string& value);
    std::string attribute(const std::string& attr) const;
    const Attributes& attributes() const { return attributes_; }

    // Appends a new, empty sub-block owned by this tree and returns it (never nullptr). The pointer stays
    // valid until that block is removed or this tree is cleared, assigned or destroyed.
    Properties* addSubProperties(const std::string& name);
    // Appends `block` (ignored and nullptr when empty) and returns it.
    Properties* addSubProperties(std::unique_ptr<Properties> block);
    // The first sub-block named `name`, or nullptr.
    Properties* subProperties(const std::string& name) const;
    // Every sub-block named `name`, in order.
    std::vector<Properties*> subPropertiesList(const std::string& name) const;
    // Every sub-block, in order.
    std::vector<Properties*> subProperties() const;
    size_t subPropertiesCount() const { return children_.size(); }
    // Removes and destroys `block` if it is a direct sub-block of this tree.
    void removeSubProperties(const Properties* block);

    // Removes every parameter, attribute and sub-block; keeps the name.
    void clear();
    // True when there are no parameters, attributes or sub-blocks.
    bool empty() const;

private:
    struct Param
    {
        std::string key;
        std::string text;
        Attributes attributes;
    };

    Param* findParam(const std::string& key);
    const Param* findParam(const std::string& key) const;
    void rebuildIndex();

    std::string name_;
    std::vector<Param> params_;
    // key -> position in params_, so that large trees (parsed from untrusted text) stay linear to build.
    std::unordered_map<std::string, size_t> index_;
    Attributes attributes_;
    std::vector<std::unique_ptr<Properties>> children_;
};

}  // namespace Corvexis
