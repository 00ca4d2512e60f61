#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "Host/Core/Properties.h"

// The text form of a Properties tree. One block per tree:
//
//     StreamSettings [label = Stream] {
//         streamInactivityTimeout = 2000 [label = "Stream inactivity timeout [ms]"]
//         spacing = "0.5 0.5"
//         Devices {
//             OscillatingDevice {
//                 name = "Probe \"A\""
//             }
//         }
//     }
//
// A block is a name, optional attributes in brackets and its items in braces; an item is either a
// parameter `key = value [attr = value, ...]` or a sub-block. Names, keys and values are words made of
// letters, digits and `_ . + - / : @ *`, or double-quoted texts with the escapes \\ \" \n \r \t and \xHH
// (other bytes, UTF-8 included, stand as they are). Line breaks are ordinary white space; `#` starts a
// comment that runs to the end of the line. Writing then reading gives back an equal tree, byte for byte.
//
// The reader takes untrusted input (network control messages): it never recurses, limits the nesting
// depth, the text size and the number of items, and reports the first error with its line and column.
// All functions are thread-safe (they touch only their arguments).
namespace Corvexis::PropertiesIO {

inline constexpr size_t kMaxTextBytes = 16u << 20;
inline constexpr int kMaxDepth = 64;            // the top block has depth 1
inline constexpr size_t kMaxItems = 1'000'000;  // parameters, blocks and attributes together
inline constexpr size_t kMaxAttributesPerItem = 256;

// Where the items of a parsed tree stood in the text, so that programs reading a file written by people
// can name the line of a value they refuse. Pointers refer to the blocks of the tree returned with it.
struct SourceLines
{
    std::map<const Properties*, int> blocks;                            // line of the block's name
    std::map<std::pair<const Properties*, std::string>, int> keys;     // line of the key
    // 0 when unknown.
    int block(const Properties* block) const;
    int key(const Properties* block, const std::string& key) const;
};

std::string saveToString(const Properties& properties);

// The tree, or nullptr when `text` is malformed; then *error (when given) holds
// "line L, column C: what is wrong".
// With `lines`, also where every block and key stood.
std::unique_ptr<Properties> loadFromString(std::string_view text, std::string* error = nullptr,
                                           SourceLines* lines = nullptr);

// Writes the text form to `path` through a temporary file in the same directory that replaces `path`
// only when complete. False with *error on failure.
bool saveToFile(const Properties& properties, const std::string& path, std::string* error = nullptr);
// Reads a file written by saveToFile (or by hand); nullptr with *error ("<path>: ...") on failure.
std::unique_ptr<Properties> loadFromFile(const std::string& path, std::string* error = nullptr,
                                         SourceLines* lines = nullptr);

}  // namespace Corvexis::PropertiesIO
