#pragma once
// Runs a check with the rights of an ordinary user, so that tests of permission
// failures bind also when the suite runs as root (as CI does): as root, the check
// runs in a forked child that drops to the unprivileged user nobody (uid and gid
// 65534, no supplementary groups); otherwise it runs in a child as it is.
//
// The check reports through its return value, which becomes the child's exit
// status: 0 for success, any other small number names the step that failed. The
// child shares nothing back, so the check must not use gtest assertions. Files and
// folders the check uses must be reachable by that user (a root-owned temporary
// folder is private: give it o+x first).
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

constexpr uid_t kNobodyId = 65534;

// The check's status (0..125), 126 when the rights could not be dropped, 127 when
// the child could not run or ended by a signal.
inline int RunUnprivileged(const std::function<int()>& check) {
    const pid_t child = ::fork();
    if (child < 0) return 127;
    if (child == 0) {
        if (::geteuid() == 0) {
            // Groups first: once the user id is gone, they cannot be changed.
            if (::setgroups(0, nullptr) != 0 || ::setresgid(kNobodyId, kNobodyId, kNobodyId) != 0 ||
                ::setresuid(kNobodyId, kNobodyId, kNobodyId) != 0 || ::geteuid() == 0)
                ::_exit(126);
        }
        int status = 127;
        try {
            status = check();
        } catch (...) {
        }
        ::_exit(status);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 127;
}
