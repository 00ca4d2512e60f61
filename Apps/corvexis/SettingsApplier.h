#pragma once

#include <string>

#include "Host/Core/Properties.h"

namespace Corvexis {

class Configurable;
namespace PropertiesIO {
struct SourceLines;
}

// Applies settings given by a person (KEY=VALUE on the command line, a configuration file, a workspace's
// Configuration block) on top of an object's current configuration: everything is checked against the
// settings the object describes (Configurable::describeSettings) before anything changes, then the
// object is configured once with its current configuration overwritten by the given keys.
//
// Keys name a setting of the top block, or a path into sub-blocks ("descriptor.width"); a key found in
// exactly one sub-block may be given alone ("width"). A sub-block given whole is checked key by key and
// replaces the block of that name (for repeated blocks such as "Devices": all of them). Caller
// synchronises (the object's configuring thread).
class SettingsApplier
{
public:
    struct Refusal
    {
        std::string text;  // "setting fps=abc not accepted: expected a number from 0.1 to 1000"
        int line = 0;      // where the refused key stood, when `lines` knew it; else 0
    };

    // False with *refusal, and `object` untouched, when a key is unknown (with close matches) or a value
    // is not accepted. `lines` (optional) locates the keys of `overrides`.
    static bool apply(Configurable& object, const Properties& overrides, Refusal* refusal,
                      const PropertiesIO::SourceLines* lines = nullptr);

    // Only the check, against a schema: `merged` (optional) receives `current` with the overrides applied.
    static bool check(const Properties& schema, const Properties& current, const Properties& overrides,
                      Properties* merged, Refusal* refusal, const PropertiesIO::SourceLines* lines = nullptr);
};

}  // namespace Corvexis
