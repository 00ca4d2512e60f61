#include "FilesTestData.h"

#include <filesystem>
#include <vector>

#include <stdlib.h>

namespace Corvexis::FilesTest {

TemporaryDirectory::TemporaryDirectory()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "corvexis-files-XXXXXX").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = name.data();
}

TemporaryDirectory::~TemporaryDirectory()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

}  // namespace Corvexis::FilesTest
