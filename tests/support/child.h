#pragma once
// Work run in a forked child, for the tests that need a process of their own
// (kills, locks held by another process). POSIX only: the Windows build of
// the unit tests leaves out the files that include this.
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

// Runs work in a forked child and returns the text it hands back; the child
// never returns into the test framework.
inline std::string inChild(const std::function<std::string()>& work) {
    int fds[2];
    if (pipe(fds) != 0) return "pipe failed";
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const std::string answer = work();
        ssize_t unused = write(fds[1], answer.data(), answer.size());
        (void)unused;
        _exit(0);
    }
    close(fds[1]);
    std::string answer;
    char buf[512];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) answer.append(buf, size_t(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) answer += " [child did not exit cleanly]";
    return answer;
}
