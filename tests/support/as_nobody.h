#pragma once

// Running a check as another user: the tests run as root, and what another local user can do (or not) is
// tried in a child process as user and group 65534.

#include <sys/wait.h>
#include <unistd.h>

// Runs body in a child process as user and group 65534 and gives its exit status (0: every check passed;
// 90: the child could not switch users; 99: it did not exit).
template <typename Body>
int AsNobody(Body body) {
    pid_t child = fork();
    if (child == 0) {
        if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) {
            _exit(90);
        }
        _exit(body());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}
