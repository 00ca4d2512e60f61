#pragma once

#include <string>
#include <string_view>

// The host's compatibility text, built from fixed parts so that a plug-in compiled against these
// headers carries the same text. hostversion changes with the host's binary interface; buildflags
// name the compiler settings that change the layout of standard containers (the C++ ABI version and
// whether the library's debug containers are on).
#define CORVEXIS_PLUGIN_STRINGIFY_VALUE(x) #x
#define CORVEXIS_PLUGIN_STRINGIFY(x) CORVEXIS_PLUGIN_STRINGIFY_VALUE(x)
#if defined(_GLIBCXX_DEBUG)
#define CORVEXIS_PLUGIN_IDL "1"
#else
#define CORVEXIS_PLUGIN_IDL "0"
#endif
#define CORVEXIS_PLUGIN_MAGIC_TEXT                                                                            \
    "__CORVEXIS_PLUGIN_V2_MAGIC_STRING__|hostversion=4.5.0|buildflags=CXXABI:" CORVEXIS_PLUGIN_STRINGIFY( \
        __GXX_ABI_VERSION) ",IDL:" CORVEXIS_PLUGIN_IDL "|pluginversion="

namespace Corvexis {

// What a plug-in library exports as the data symbol `corvexisPluginDescriptor`: the compatibility
// text, then the plug-in's version ("UNKNOWN" while the library is loaded and nothing better is known).
struct PluginDescriptor
{
    const char* magic;
    std::string pluginVersion;
};

namespace PluginCompatibility {

// The host's own compatibility text.
inline constexpr const char* kHostMagic = CORVEXIS_PLUGIN_MAGIC_TEXT;

// Compares `pluginMagic` with `hostMagic` field by field: the leading marker (field "magic"), then
// "hostversion" and "buildflags". True when they agree; otherwise false and *why (when given) names the
// first field that differs or is missing, with both values: "field 'hostversion' is '4.4.0', the host
// expects '4.5.0'". Thread-safe.
bool check(std::string_view pluginMagic, std::string* why = nullptr, std::string_view hostMagic = kHostMagic);

}  // namespace PluginCompatibility

}  // namespace Corvexis
