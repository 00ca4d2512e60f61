#pragma once

#include <concepts>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include <Eigen/Core>

#include "Host/Core/Properties.h"
#include "Host/Core/PropertyValue.h"

namespace Corvexis {

class ParameterBase;

// The settings an object reads in configure(), described so that a host can list, check and explain
// them without knowing the object's class. A schema is a Properties tree shaped like the object's
// configuration: each key holds its default value as text, with the attributes
//   "type"   bool | integer | number | text | "numbers N" (exactly N numbers) | list; a trailing "?"
//            means an empty text is accepted as well
//   "min", "max"  inclusive limits of a number or integer
//   "values" for enumerations stored as integers: the names of 0, 1, ... separated by ", "
//   "label"  what the setting means
// Sub-blocks describe sub-blocks of the configuration. A block with the attribute "repeated" = "true"
// stands for a list: the configuration may hold any number of blocks named after its children (the
// "Devices" block of a tracking stream holding one block per device type). A block with the attribute
// "open" = "true" is read by something the object creates later (the configuration of an algorithm
// chosen by name): its keys are taken as given, unchecked.
//
// All functions are thread-safe (they touch only their arguments).
class SettingsSchema
{
public:
    template <typename T>
    static std::string typeOf()
    {
        if constexpr (std::same_as<T, bool>)
            return "bool";
        else if constexpr (std::is_enum_v<T> || std::integral<T>)
            return "integer";
        else if constexpr (std::floating_point<T>)
            return "number";
        else if constexpr (std::same_as<T, std::string>)
            return "text";
        else if constexpr (std::is_base_of_v<Eigen::MatrixBase<T>, T>) {
            if constexpr (T::SizeAtCompileTime > 0)
                return "numbers " + std::to_string(T::SizeAtCompileTime);
            else
                return "list";
        } else if constexpr (requires { typename T::value_type; } &&
                             std::same_as<T, std::optional<typename T::value_type>>)
            return typeOf<typename T::value_type>() + "?";
        else
            return "list";
    }

    // Adds `key` with its default and type (and `label` when given); returns nothing so that limits are
    // set with Properties::setParamAttribute afterwards.
    template <typename T>
    static void add(Properties& schema, const std::string& key, const T& defaultValue,
                    const std::string& label = {})
    {
        schema.setParamText(key, PropertyValue<T>::toText(defaultValue));
        schema.setParamAttribute(key, "type", typeOf<T>());
        if (!label.empty())
            schema.setParamAttribute(key, "label", label);
    }
    // Adds a registered parameter: its default, type and every attribute it carries.
    static void add(Properties& schema, const ParameterBase& parameter);

    // Whether the entry `key` of `schema` takes `text`. On false, *accepted (when given) says what it
    // takes, as describe() does.
    static bool accepts(const Properties& schema, const std::string& key, const std::string& text,
                        std::string* accepted = nullptr);
    // What the entry takes, for people: "a number from 1 to 1000", "true or false",
    // "one of 0 (MemImage), 1 (GlImage)", "3 numbers separated by spaces".
    static std::string describe(const Properties& schema, const std::string& key);

    // Every key of the schema as a dotted path ("fps", "descriptor.width"), blocks in order; keys
    // inside repeated blocks are left out (they are not settable one by one).
    static std::vector<std::string> paths(const Properties& schema);
};

}  // namespace Corvexis
