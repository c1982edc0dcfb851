// Test helpers: capture what reaches file descriptor 1, and run code in a child
// process to see its status and both output streams.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "runtime/output.h"

namespace zan::test {

inline std::string drain(int fd) {
    std::string out;
    char chunk[4096];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0) break;
        out.append(chunk, size_t(n));
    }
    return out;
}

// Points fd 1 at a pipe while alive; text() flushes the runtime's buffer and
// answers the bytes that arrived.
class StdoutCapture {
public:
    StdoutCapture() {
        output::flush();
        saved_ = dup(1);
        if (pipe(pipe_) != 0) return;
        fcntl(pipe_[0], F_SETFL, O_NONBLOCK);
        dup2(pipe_[1], 1);
        output::init();
    }
    ~StdoutCapture() {
        output::flush();
        dup2(saved_, 1);
        close(saved_);
        close(pipe_[0]);
        close(pipe_[1]);
        output::init();
    }
    // What arrived so far without flushing.
    std::string arrived() { return drain(pipe_[0]); }
    std::string text() {
        output::flush();
        return drain(pipe_[0]);
    }

private:
    int saved_ = -1;
    int pipe_[2] = {-1, -1};
};

struct ChildResult {
    int status = -1;  // exit status, or 128 + signal when killed
    std::string out;
    std::string err;
};

// Runs body in a forked child with fd 1 and fd 2 on pipes; when both is set,
// fd 2 shares fd 1's pipe so the order of the two streams shows.
template <typename Body>
ChildResult run_child(Body body, bool both = false) {
    int out[2], err[2];
    ChildResult r;
    if (pipe(out) != 0 || pipe(err) != 0) return r;
    output::flush();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(both ? out[1] : err[1], 2);
        close(out[0]);
        close(err[0]);
        output::init();
        body();
        output::flush();
        _exit(0);
    }
    close(out[1]);
    close(err[1]);
    r.out = drain(out[0]);
    r.err = drain(err[0]);
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

}  // namespace zan::test
