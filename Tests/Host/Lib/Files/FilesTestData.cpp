#include "FilesTestData.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <vector>

#include <stdlib.h>

namespace Corvexis::FilesTest {

CommandResult runCommand(const std::string& command)
{
    CommandResult r;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return r;
    std::array<char, 4096> buffer{};
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        r.output.append(buffer.data(), n);
    r.status = ::pclose(pipe);
    return r;
}

bool hasProgram(const std::string& name)
{
    return runCommand("command -v " + name).status == 0;
}

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
