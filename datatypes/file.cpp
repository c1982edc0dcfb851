// file!: mold with the % sign and quotes, the local path form, and the file
// actions that go to the file services.
//
// A file molds bare only when the lexer reads the bare form back as the same
// file; the lexer ends a bare file at "@", so a name holding one is quoted.
#include "datatypes/file.h"

#include "datatypes/datatype.h"
#include "datatypes/string.h"
#include "datatypes/string_actions.h"
#include "datatypes/url.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/platform.h"
#include "runtime/unicode.h"

namespace zan::file {

namespace {

Services hooks;

[[noreturn]] void unavailable(const Cell& file) { errors::fire(errors::id::cannot_open, &file); }

bool needs_quotes(uint32_t c) { return c < 0x7F && (!url::path_safe_q(c) || c == '@'); }

}  // namespace

void to_local_path(const Cell& file, Node target, bool full) {
    Cell held = file;
    collector::Root keep(held);
    collector::NodeRoot keep_target(target);
    bool relative = string::length(held) == 0 ||
                    string::char_at(series_node(held), string::rs_head_index(held)) != '/';
    Cell out = string::make_cell(target);
    if (full && relative) {
        Cell dir = os_current_dir();
        collector::Root keep_dir(dir);
        string::concatenate(out, dir, -1, 0, true, string::Mode::append);
    }
    string::concatenate(out, held, -1, 0, true, string::Mode::append);
}

std::string to_os_path(const Cell& file) { return string::to_utf8(file); }

Cell os_current_dir() {
    std::string dir = platform::get_current_dir().value_or("/");
    if (dir.empty() || dir.back() != '/') dir.push_back('/');
    Cell result = string::make_value(uint32_t(dir.size()));
    collector::Root keep(result);
    string::append_utf8(series_node(result), dir);
    return result;
}

void set_services(const Services& s) { hooks = s; }

// --- actions ------------------------------------------------------------------------

int32_t mold(const Cell& value, Node buffer, actions::MoldFlags, bool part, int32_t budget,
             int32_t) {
    Node n = series_node(value);
    collector::NodeRoot keep(n), keep_out(buffer);
    uint32_t len = string::buffer_length(n);
    uint32_t head = std::min(series_index(value), len);
    uint32_t end = len;
    if (part) end = budget < 0 ? head : head + std::min<uint32_t>(len - head, uint32_t(budget));
    string::append_char(buffer, '%');
    if (head == len) {
        string::append_ascii(buffer, "\"\"");
        return budget - 3;
    }
    bool quote = false;
    for (uint32_t i = head; i < end && !quote; ++i) quote = needs_quotes(string::char_at(n, i));
    if (quote) string::append_char(buffer, '"');
    for (uint32_t i = head; i < end; ++i) string::append_char(buffer, string::char_at(n, i));
    if (quote) string::append_char(buffer, '"');
    return budget - int32_t(end - head) - 1 - (quote ? 2 : 0);
}

void read(Args args, const actions::ReadRefs& r) {
    if (r.as) errors::fire(errors::id::not_done);
    if (!hooks.read) unavailable(args[0]);
    Cell none = none_cell();
    args[0] =
        hooks.read(args[0], r.part ? *r.part : none, r.seek ? *r.seek : none, r.binary, r.lines);
}

void write(Args args, const actions::WriteRefs& r) {
    if (r.allow || r.as) errors::fire(errors::id::not_done);
    if (!hooks.write) unavailable(args[0]);
    Cell none = none_cell();
    hooks.write(args[0], args[1], r.part ? *r.part : none, r.seek ? *r.seek : none, r.binary,
                r.append, r.lines);
    args[0] = unset_cell();
}

void delete_(Args args) {
    if (!hooks.delete_) unavailable(args[0]);
    args[0] = logic_cell(hooks.delete_(args[0]));
}

void rename(Args args) {
    if (!hooks.rename) unavailable(args[0]);
    args[0] = logic_cell(hooks.rename(args[0], args[1]));
}

void query(Args args) {
    if (!hooks.query) unavailable(args[0]);
    args[0] = hooks.query(args[0]);
}

#define ZAN_INHERIT(slot) row.slot = decltype(row.slot)::inherited()

void init() {
    actions::Row row;
    ZAN_INHERIT(make);
    ZAN_INHERIT(to);
    ZAN_INHERIT(form);
    row.mold = &mold;
    ZAN_INHERIT(eval_path);
    url::inherit_series(row);
    row.delete_ = &delete_;
    row.query = &query;
    row.read = &read;
    row.rename = &rename;
    row.write = &write;
    datatype::register_type(Type::file, Type::url, "file!", row);
}

#undef ZAN_INHERIT

}  // namespace zan::file
