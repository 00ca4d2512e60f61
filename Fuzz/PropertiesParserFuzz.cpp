// Fuzz target for the Properties text reader. Besides "never crash, hang or leak", it checks the
// round-trip promise on every input the reader accepts: writing the tree and reading it back gives an
// equal tree, and writing that again gives the same text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "Host/Core/Properties.h"
#include "Host/Core/PropertiesIO.h"

using namespace Corvexis;

namespace {

constexpr const char* kTarget = "PropertiesParserFuzz";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto tree = PropertiesIO::loadFromString(text, &error);
    if (!tree) {
        if (error.rfind("line ", 0) != 0)
            FuzzCheck::violated(kTarget, "a refusal must name the line");
        return 0;
    }
    const std::string saved = PropertiesIO::saveToString(*tree);
    std::string secondError;
    const auto again = PropertiesIO::loadFromString(saved, &secondError);
    if (!again)
        FuzzCheck::violated(kTarget, "the reader refused text the writer produced");
    if (!(*again == *tree))
        FuzzCheck::violated(kTarget, "the tree read back differs from the tree written");
    if (PropertiesIO::saveToString(*again) != saved)
        FuzzCheck::violated(kTarget, "writing the tree read back gave another text");
    return 0;
}
