// Permissions do not hold for root, who may write a read-only file: a test of what a read-only file or
// folder does runs its body as an unprivileged user in a child process when the tests run as root.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

namespace orvanta::testing {

// Returns body's result (an exit status, 0 to 254), or -1 when the child failed.
template <typename Body>
int withoutPrivileges(Body body) {
    if (geteuid() != 0) return body();
    const pid_t child = fork();
    if (child == 0) {
        if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) _exit(255);
        _exit(body());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) != 255 ? WEXITSTATUS(status) : -1;
}

}  // namespace orvanta::testing
