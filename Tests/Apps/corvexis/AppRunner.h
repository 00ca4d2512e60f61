#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <optional>
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

// Runs the binary with `arguments` and sends it `signal` `afterS` seconds after its output first contains
// `marker`, so a signal test does not depend on how fast the machine starts the program. Without the
// marker within `limitS` seconds, or when the program outlives the limit, it is killed (SIGKILL).
inline Result runAppSignalledAfter(const std::string& arguments, const std::string& marker, int signal,
                                   double afterS, int limitS = 60)
{
    Result result;
    int fds[2];
    if (pipe(fds) != 0)
        return result;
    const std::string command =
        std::string("exec env -u CORVEXIS_PLUGIN_PATH ") + CORVEXIS_APP_BINARY " " + arguments + " 2>&1";
    const pid_t pid = fork();
    if (pid < 0)
        return result;
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        dup2(fds[1], STDERR_FILENO);
        close(fds[0]);
        close(fds[1]);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(limitS);
    std::optional<Clock::time_point> signalAt;
    bool signalled = false;
    bool killed = false;
    char buffer[4096];
    for (;;) {
        const auto now = Clock::now();
        if (!signalAt && result.output.find(marker) != std::string::npos)
            signalAt =
                now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(afterS));
        if (signalAt && !signalled && now >= *signalAt) {
            kill(pid, signal);
            signalled = true;
        }
        if (now >= deadline && !killed) {
            kill(pid, SIGKILL);
            killed = true;
        }
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 50) > 0) {
            const ssize_t n = read(fds[0], buffer, sizeof buffer);
            if (n <= 0)
                break;
            result.output.append(buffer, static_cast<size_t>(n));
        }
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace Corvexis::AppTest
