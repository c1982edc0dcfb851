// Files and directories over POSIX calls.
//
// Paths are the file! text in UTF-8. A regular file is read with one read of
// its size (64-bit), anything else (pipes, FIFOs, /proc) once to its end, so
// no data is read twice or lost. Writes go out whole: short writes are
// resumed, and a failure anywhere, close included, is an error. Text is
// written with LF line ends.
#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/file.h"
#include "datatypes/string.h"
#include "datatypes/string_actions.h"
#include "evaluator/natives_text.h"
#include "evaluator/routines.h"
#include "platform/io.h"
#include "platform/text.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/output.h"

namespace zan::platform::files {

namespace {

[[noreturn]] void cannot_open(const Cell& what) { errors::fire(errors::id::cannot_open, &what); }

// A /part or /seek argument: an integer, or a float truncated toward zero.
int64_t count_arg(const Cell& v, const char* name) {
    if (is(v, Type::none)) return -1;
    if (is(v, Type::integer)) return int_of(v);
    if (is(v, Type::float_)) {
        double d = float_of(v);
        if (std::isnan(d)) d = 0;
        return int64_t(std::clamp(d, -9.0e18, 9.0e18));
    }
    Cell word = string::word_of(name);
    errors::fire(errors::id::invalid_refine_arg, &word, &v);
}

uint32_t last_char(const Cell& file, uint32_t back) {
    uint32_t len = string::length(file);
    return string::char_at(series_node(file), series_index(file) + len - 1 - back);
}

bool slash_q(uint32_t c) { return c == '/' || c == '\\'; }

Cell empty_result(bool binary, bool lines) {
    if (lines) {
        Cell b;
        return block::make_at(b, 1);
    }
    return binary ? text::make_binary({}) : text::decode({}, false);
}

Cell to_result(std::string_view bytes, bool binary, bool lines, const Cell& file) {
    if (bytes.empty()) return empty_result(binary, lines);
    if (binary) return text::make_binary(bytes, &file);
    if (lines) return text::lines_to_block(bytes);
    return text::decode(bytes, true, &file);
}

}  // namespace

bool dir_path_q(const Cell& file) {
    uint32_t len = string::length(file);
    if (len == 0) return false;
    uint32_t c = last_char(file, 0);
    if (slash_q(c)) return true;
    if (c != '.') return false;
    if (len == 1 || slash_q(last_char(file, 1))) return true;
    return last_char(file, 1) == '.' && (len == 2 || slash_q(last_char(file, 2)));
}

Cell read_dir(const Cell& dir) {
    std::string path = file::to_os_path(dir);
    DIR* d = ::opendir(path.c_str());
    if (!d) cannot_open(dir);
    std::vector<std::pair<std::string, bool>> entries;
    while (dirent* e = ::readdir(d)) {
        std::string_view name = e->d_name;
        if (name == "." || name == "..") continue;
        bool is_dir = e->d_type == DT_DIR;
        // Links to directories list as directories too.
        if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
            struct stat st;
            is_dir = ::fstatat(::dirfd(d), e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        entries.emplace_back(std::string(name), is_dir);
    }
    ::closedir(d);
    // The system's order is arbitrary; bytes compare as code points do.
    std::sort(entries.begin(), entries.end());
    Cell block;
    block::make_at(block, int32_t(entries.size()) + 1);
    collector::Root keep(block);
    for (auto& [name, is_dir] : entries) {
        Cell f = text::decode(name, false);
        collector::Root keep_f(f);
        set_type(f, Type::file);
        if (is_dir) string::append_char(series_node(f), '/');
        block::rs_append(block, f);
    }
    return block;
}

Cell read(const Cell& file, const Cell& part_v, const Cell& seek_v, bool binary, bool lines) {
    if (dir_path_q(file)) return read_dir(file);
    int64_t part = count_arg(part_v, "part");
    int64_t seek = count_arg(seek_v, "seek");
    std::string path = file::to_os_path(file);
    io::Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (!fd || ::fstat(fd.get(), &st) != 0 || S_ISDIR(st.st_mode)) cannot_open(file);
    if (part == 0) return empty_result(binary, lines);

    if (S_ISREG(st.st_mode) && st.st_size > 0) {
        int64_t start = std::max<int64_t>(seek, 0);
        if (start >= st.st_size) return empty_result(binary, lines);
        uint64_t want = uint64_t(st.st_size - start);
        if (part > 0 && uint64_t(part) < want) want = uint64_t(part);
        if (want > memory::max_capacity) errors::fire(id::limit_hit, &file);
        if (start > 0 && ::lseek(fd.get(), start, SEEK_SET) < 0) cannot_open(file);
        if (binary) {
            // Straight into the series: nothing allocates while it fills.
            Cell bin = text::make_binary({}, &file);
            collector::Root keep(bin);
            Node n = series_node(bin);
            memory::Series* s = memory::expand_series(n, want);
            ssize_t got = io::read_full(fd.get(), s->at_head(), size_t(want));
            if (got < 0) cannot_open(file);
            s->tail = s->head + uint32_t(got);
            return bin;
        }
        std::unique_ptr<char[]> buf(new char[want]);
        ssize_t got = io::read_full(fd.get(), buf.get(), size_t(want));
        if (got < 0) cannot_open(file);
        return to_result(std::string_view(buf.get(), size_t(got)), binary, lines, file);
    }

    // No size known: read once to the end (or as far as /seek and /part
    // reach, so /dev/zero ends), then skip and cut.
    std::string data;
    if (part > 0) {
        data.resize(size_t(std::max<int64_t>(seek, 0) + part));
        ssize_t got = io::read_full(fd.get(), data.data(), data.size());
        if (got < 0) cannot_open(file);
        data.resize(size_t(got));
    } else if (!io::read_to_end(fd.get(), data)) {
        cannot_open(file);
    }
    std::string_view view = data;
    view.remove_prefix(size_t(std::min<int64_t>(std::max<int64_t>(seek, 0), int64_t(view.size()))));
    if (part > 0 && uint64_t(part) < view.size()) view = view.substr(0, size_t(part));
    return to_result(view, binary, lines, file);
}

void write(const Cell* dest, const Cell& data_in, const Cell& part_v, const Cell& seek_v, bool,
           bool append, bool lines) {
    Cell data = data_in;
    collector::Root keep(data);
    int64_t part = -1;
    if (!is(part_v, Type::none)) {
        if (!is(part_v, Type::integer)) {
            Cell word = string::word_of("part");
            errors::fire(errors::id::invalid_refine_arg, &word, &part_v);
        }
        part = int_of(part_v);
        if (part < 0) return;
    }
    int64_t seek = count_arg(seek_v, "seek");

    std::string bytes;
    if (lines && is(data, Type::block)) {
        for (int32_t i = 0, n = block::rs_length(data); i < n; ++i) {
            Cell v = *block::rs_abs_at(data, int32_t(series_index(data)) + i);
            collector::Root keep_v(v);
            bytes += text::value_bytes(v);
            bytes += '\n';
        }
    } else {
        bytes = text::value_bytes(data, part);
        if (lines) bytes += '\n';
    }

    if (!dest) {
        output::flush();
        Cell none = none_cell();
        if (!io::write_all(1, bytes.data(), bytes.size())) cannot_open(none);
        return;
    }
    std::string path = file::to_os_path(*dest);
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
    if (append)
        flags |= O_APPEND;
    else if (seek < 0)
        flags |= O_TRUNC;
    io::Fd fd(::open(path.c_str(), flags, 0666));
    if (!fd) cannot_open(*dest);
    if (!append && seek > 0 && ::lseek(fd.get(), seek, SEEK_SET) < 0) cannot_open(*dest);
    bool ok = io::write_all(fd.get(), bytes.data(), bytes.size());
    if (!fd.reset() || !ok) cannot_open(*dest);
}

namespace {

bool delete_(const Cell& file) {
    std::string path = file::to_os_path(file);
    return (dir_path_q(file) ? ::rmdir(path.c_str()) : ::unlink(path.c_str())) == 0;
}

// Never replaces an existing target (rename(2) alone would).
bool rename(const Cell& from, const Cell& to) {
    std::string a = file::to_os_path(from), b = file::to_os_path(to);
    if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without no-replace renames: check, then rename.
    struct stat st;
    if (::lstat(b.c_str(), &st) == 0) return false;
    return ::rename(a.c_str(), b.c_str()) == 0;
}

Cell query(const Cell& file) {
    std::string path = file::to_os_path(file);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return none_cell();
    uint32_t len = string::length(file);
    if (len > 0 && slash_q(last_char(file, 0)) && !S_ISDIR(st.st_mode)) return none_cell();
    struct tm t;
    time_t secs = st.st_mtim.tv_sec;
    if (!::gmtime_r(&secs, &t)) return none_cell();
    // Milliseconds are kept, as file times have always been reported.
    auto nanos = int32_t(st.st_mtim.tv_nsec / 1000000 * 1000000);
    Cell result;
    date::make_at_parts(result, t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                        t.tm_sec, nanos);
    return result;
}

// --- routines ------------------------------------------------------------------------

void create_dir(Cell* args) {
    std::string path = file::to_os_path(args[0]);
    if (::mkdir(path.c_str(), 0777) != 0) errors::fire(id::no_create, &args[0]);
    args[0] = unset_cell();
}

void exists_q(Cell* args) {
    std::string path = file::to_os_path(args[0]);
    struct stat st;
    args[0] = logic_cell(::stat(path.c_str(), &st) == 0);
}

void get_current_dir(Cell* args) {
    Cell dir = file::os_current_dir();
    args[0] = set_type(dir, Type::file);
}

void set_current_dir(Cell* args) {
    std::string path = file::to_os_path(args[0]);
    if (::chdir(path.c_str()) != 0) cannot_open(args[0]);
    args[0] = unset_cell();
}

void write_stdout(Cell* args) {
    Cell none = none_cell();
    write(nullptr, args[0], none, none, false, false, false);
    args[0] = unset_cell();
}

}  // namespace

void install() {
    file::Services s;
    s.read = &read;
    s.write = [](const Cell& f, const Cell& data, const Cell& part, const Cell& seek, bool binary,
                 bool append, bool lines) { write(&f, data, part, seek, binary, append, lines); };
    s.delete_ = &delete_;
    s.rename = &rename;
    s.query = &query;
    file::set_services(s);
    // checksum reads a file! whole, as binary.
    natives::TextServices t = natives::text_services();
    t.read_file = [](const Cell& f) {
        Cell bin = read(f, none_cell(), none_cell(), true, false);
        return std::string(text::binary_bytes(bin));
    };
    natives::set_text_services(t);
    routines::add("create-dir", create_dir);
    routines::add("exists?", exists_q);
    routines::add("get-current-dir", get_current_dir);
    routines::add("set-current-dir", set_current_dir);
    routines::add("write-stdout", write_stdout);
}

}  // namespace zan::platform::files
