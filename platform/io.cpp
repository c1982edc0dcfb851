// Whole reads and writes over file descriptors.
#include "platform/io.h"

#include <algorithm>
#include <cerrno>

namespace zan::platform::io {

bool write_all(int fd, const void* data, size_t size) {
    auto* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        size -= size_t(n);
    }
    return true;
}

bool read_to_end(int fd, std::string& out) {
    size_t used = out.size();
    for (;;) {
        if (out.size() - used < 65536) out.resize(std::max<size_t>(out.size() * 2, used + 65536));
        ssize_t n = ::read(fd, out.data() + used, out.size() - used);
        if (n < 0) {
            if (errno == EINTR) continue;
            out.resize(used);
            return false;
        }
        if (n == 0) break;
        used += size_t(n);
    }
    out.resize(used);
    return true;
}

ssize_t read_full(int fd, void* data, size_t size) {
    auto* p = static_cast<char*>(data);
    size_t got = 0;
    while (got < size) {
        ssize_t n = ::read(fd, p + got, size - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        got += size_t(n);
    }
    return ssize_t(got);
}

}  // namespace zan::platform::io
