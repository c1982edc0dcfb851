// File descriptors without surprises: whole reads and writes that resume
// after interruptions and short transfers, and descriptors that close
// themselves.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <string>

namespace zan::platform::io {

// Writes every byte; false on any failure.
bool write_all(int fd, const void* data, size_t size);
// Reads until the end; false on a read failure.
bool read_to_end(int fd, std::string& out);
// Reads up to size bytes into data, stopping early only at the end; answers
// the count, -1 on failure.
ssize_t read_full(int fd, void* data, size_t size);

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& o) noexcept : fd_(o.release()) {}
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() {
        int f = fd_;
        fd_ = -1;
        return f;
    }
    // Closes now; false when close reports a failure (a write-back error).
    bool reset(int fd = -1) {
        bool ok = true;
        if (fd_ >= 0) ok = ::close(fd_) == 0;
        fd_ = fd;
        return ok;
    }

private:
    int fd_;
};

}  // namespace zan::platform::io
