// System and constructor natives.
//
// Thin layers: argument conversion and errors here, the work in the platform
// primitives and in the services their owners install. Operating-system
// failures are not errors: get-env and size? answer none, browse ignores
// what the opener does, call answers what the process service answers.
#include "evaluator/natives_system.h"

#include "evaluator/natives_control.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <thread>

#include "datatypes/date.h"
#include "datatypes/file.h"
#include "datatypes/money.h"
#include "datatypes/point.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/platform.h"

extern char** environ;

namespace zan::natives {

using stack::Status;

namespace {

SystemServices services;

[[noreturn]] void missing(Type t) {
    Cell dt = datatype_cell(t);
    errors::fire(errors::id::invalid_type, &dt);
}

// A name given as text or as a word.
std::string name_of(const Cell& v) {
    if (any_word(type_of(v))) return std::string(symbol::name(word_symbol(v)));
    return string::to_utf8(v);
}

// A file! in the operating system's form, any other string as its text.
std::string os_text(const Cell& v) {
    return is(v, Type::file) ? file::to_os_path(v) : string::to_utf8(v);
}

}  // namespace

void set_system_services(const SystemServices& s) { services = s; }
const SystemServices& system_services() { return services; }

// --- wait ------------------------------------------------------------------------

Status n_wait(int32_t check, const int32_t* refs) {
    check_args(check, 86, refs);
    Cell v = *arg(0);
    double seconds;
    if (is(v, Type::integer))
        seconds = int_of(v);
    else if (is(v, Type::float_) || is(v, Type::time))
        seconds = float_of(v);
    else
        errors::fire(errors::id::invalid_arg, &v);
    *arg(0) = none_cell();
    if (services.wait) {
        services.wait(seconds);
        return finish(none_cell());
    }
    platform::sleep(seconds);
    if (services.do_events) services.do_events();
    return finish(none_cell());
}

// --- now -----------------------------------------------------------------------------

namespace {

enum NowRef { year, month, day, time, zone, date, weekday, yearday, precise, utc };

}  // namespace

Status n_now(int32_t check, const int32_t* refs) {
    check_args(check, 96, refs);
    int count = 0;
    for (int r = year; r <= precise; ++r) count += given(refs, r);
    bool time_precise = given(refs, time) && given(refs, precise);
    if (count > 1 && !(count == 2 && time_precise)) errors::fire(errors::id::bad_refines);
    Cell d = date::now(given(refs, utc), !given(refs, date), given(refs, precise));
    // The refinement's field of the date (field numbers of date!).
    static constexpr struct { NowRef ref; int32_t field; } fields[] = {
        {year, 2}, {month, 3}, {day, 4}, {zone, 5}, {time, 6}, {weekday, 10}, {yearday, 11},
    };
    for (const auto& f : fields)
        if (given(refs, f.ref)) return finish(date::get_field(d, f.field));
    return finish(d);
}

// --- environment -------------------------------------------------------------------------

Status n_set_env(int32_t check, const int32_t* refs) {
    check_args(check, 93, refs);
    Cell var = *arg(0), value = *arg(1);
    std::string name = name_of(var);
    // A name no variable can have ("", "A=B", a NUL) would be set nowhere
    // while the call reports success: it is a bad argument, not an OS failure.
    if (name.empty() || name.find_first_of(std::string_view("=\0", 2)) != std::string::npos)
        errors::fire(errors::id::invalid_arg, &var);
    if (is(value, Type::none))
        platform::unset_env(name);
    else
        platform::set_env(name, string::to_utf8(value));
    return finish(value);
}

Status n_get_env(int32_t check, const int32_t* refs) {
    check_args(check, 94, refs);
    std::optional<std::string> value = platform::get_env(name_of(*arg(0)));
    if (!value) return finish(none_cell());
    Cell* out = stack::push(none_cell());
    string::rs_make_at(*out, uint32_t(value->size()));
    string::append_utf8(series_node(*out), *value);
    return finish(*out);
}

Status n_list_env(int32_t, const int32_t*) {
    if (!services.environment) missing(Type::map);
    return finish(services.environment());
}

// --- processes ---------------------------------------------------------------------------

Status n_call(int32_t check, const int32_t* refs) {
    check_args(check, 99, refs);
    Cell cmd = *arg(0);
    if (string::length(cmd) == 0) return finish(integer_cell(0));
    if (!services.run) errors::fire(errors::id::not_done);
    const Cell* in = given(refs, 4) ? arg(uint32_t(refs[4])) : nullptr;
    const Cell* out = given(refs, 5) ? arg(uint32_t(refs[5])) : nullptr;
    const Cell* err = given(refs, 6) ? arg(uint32_t(refs[6])) : nullptr;
    int32_t r = services.run(cmd, given(refs, 0), given(refs, 1), given(refs, 2), given(refs, 3), in, out, err);
    return finish(integer_cell(r));
}

Status n_browse(int32_t check, const int32_t* refs) {
    check_args(check, 102, refs);
    std::string target = os_text(*arg(0));
    char opener[] = "xdg-open";
    char* argv[] = {opener, target.data(), nullptr};
    pid_t pid;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The opener's chatter stays out of the script's output.
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    int rc = posix_spawnp(&pid, opener, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    // The opener may run as long as the application it starts; it is reaped
    // aside so it leaves no zombie behind.
    if (rc == 0) std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
    return finish(unset_cell());
}

// --- files and memory ----------------------------------------------------------------------

Status n_size_q(int32_t check, const int32_t* refs) {
    check_args(check, 101, refs);
    Cell file = *arg(0);
    uint32_t len = string::length(file);
    if (len > 0 && string::char_at(series_node(file), series_index(file) + len - 1) == '/')
        return finish(none_cell());
    std::string path = file::to_os_path(file);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return finish(none_cell());
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    ::close(fd);
    if (!ok) return finish(none_cell());
    double size = double(st.st_size);
    return finish(size > 2147483647.0 ? float_cell(size) : integer_cell(int32_t(st.st_size)));
}

Status n_recycle(int32_t, const int32_t* refs) {
    if (given(refs, 0) || given(refs, 1)) {
        collector::set_enabled(given(refs, 0));
        return finish(unset_cell());
    }
    collector::do_cycle();
    double used = memory::used_bytes();
    return finish(used > 2147483647.0 ? float_cell(used) : integer_cell(int32_t(used)));
}

// --- constructors ----------------------------------------------------------------------------

namespace {

// A pair coordinate: an integer as it is, a float truncated toward zero; a
// float that is not finite or lies outside the 32-bit range has no coordinate.
int32_t coordinate(const Cell& v) {
    if (is(v, Type::integer)) return int_of(v);
    double d = float_of(v);
    if (!std::isfinite(d) || d <= -2147483649.0 || d >= 2147483648.0) errors::fire(errors::id::invalid_arg, &v);
    return int32_t(d);
}

}  // namespace

Status n_as_pair(int32_t check, const int32_t* refs) {
    check_args(check, 73, refs);
    int32_t x = coordinate(*arg(0)), y = coordinate(*arg(1));
    return finish(make_cell(Type::pair, 0, uint32_t(x), uint32_t(y)));
}

// Each coordinate rounded to a binary32 (integers by value).
Status n_as_point2d(int32_t check, const int32_t* refs) {
    check_args(check, 74, refs);
    return finish(point_cell(Type::point2d, point::get_coord(*arg(0)), point::get_coord(*arg(1))));
}
Status n_as_point3d(int32_t check, const int32_t* refs) {
    check_args(check, 75, refs);
    return finish(point_cell(Type::point3d, point::get_coord(*arg(0)), point::get_coord(*arg(1)),
                             point::get_coord(*arg(2))));
}

Status n_as_money(int32_t check, const int32_t* refs) {
    check_args(check, 76, refs);
    Cell currency = *arg(0), amount = *arg(1);
    int32_t index = money::find_currency_symbol(word_symbol(currency));
    if (index < 0) errors::fire(errors::id::bad_denom, &currency);
    Cell m = is(amount, Type::integer) ? money::from_integer(int_of(amount))
                                       : money::from_float(float_of(amount), true);
    money::set_currency(m, index);
    return finish(m);
}

}  // namespace zan::natives
