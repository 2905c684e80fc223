// Linux: /proc/self/status (VmRSS, VmHWM); the program run again by posix_spawn with its standard output
// on a pipe.
#include "platform/own_process.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

// A /proc/self/status figure in kB (VmRSS, VmHWM).
long statusKilobytes(const char* field) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(field, 0) == 0) {
            return std::atol(line.c_str() + std::strlen(field) + 1);
        }
    }
    return -1;
}

} // namespace

long residentKilobytes() {
    return statusKilobytes("VmRSS");
}

long peakResidentKilobytes() {
    return statusKilobytes("VmHWM");
}

std::optional<std::string> runSelf(const std::string& argument) {
    int pipe[2];
    if (::pipe(pipe) != 0) {
        return std::nullopt;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipe[0]);
    char program[] = "/proc/self/exe";
    std::string child = argument;
    char* argv[] = {program, child.data(), nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipe[1]);
    std::string output;
    char buffer[256];
    for (ssize_t n; (n = read(pipe[0], buffer, sizeof buffer)) > 0;) {
        output.append(buffer, static_cast<std::size_t>(n));
    }
    close(pipe[0]);
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    return output;
}

} // namespace platform
