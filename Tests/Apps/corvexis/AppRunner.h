#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

// Runs the built host application for end-to-end tests. Every run is bounded by timeout(1), so a hang
// fails the test instead of blocking the suite.
namespace Corvexis::AppTest {

struct Result
{
    int code = -1;
    std::string output;  // stdout and stderr together
};

// Runs the binary with `arguments` (shell words) under an outer limit of `limitS` seconds; `prefix`
// stands before the binary (another time limit, a signal sender).
inline Result runApp(const std::string& arguments, int limitS = 60, const std::string& prefix = "")
{
    const std::string command = "env -u CORVEXIS_PLUGIN_PATH timeout -k 5 " + std::to_string(limitS) + " " +
                                prefix + CORVEXIS_APP_BINARY " " + arguments + " 2>&1";
    Result result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return result;
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        result.output.append(buffer, n);
    const int status = pclose(pipe);
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace Corvexis::AppTest
