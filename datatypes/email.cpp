// email!: a string! molded as its bare text, with the path words user (before
// the first "@") and host (after it).
#include "datatypes/datatype.h"
#include "datatypes/mold.h"
#include "datatypes/scalar.h"
#include "datatypes/string.h"
#include "datatypes/string_actions.h"
#include "datatypes/text_kinds.h"
#include "runtime/collector.h"

namespace zan::email {

namespace {

int32_t mold(const Cell& v, Node buffer, actions::MoldFlags, bool part, int32_t budget, int32_t) {
    return string::form(v, buffer, part, budget);
}

// A new string! of `count` characters of the value from `from` (its position + from).
Cell part_of(const Cell& email, uint32_t from, uint32_t count) {
    Cell source = email;
    collector::Root keep(source);
    Cell out = string::make_value(count);
    collector::Root keep_out(out);
    for (uint32_t i = 0; i < count; ++i)
        string::append_char(series_node(out),
                            string::char_at(series_node(source), series_index(source) + from + i));
    return out;
}

void eval_path(Cell& result, const Cell& parent, const actions::PathStep& s) {
    if (is(*s.element, Type::integer)) {
        string::eval_path(result, parent, s);
        return;
    }
    int32_t field = scalar::field_of_word(*s.element, {"user", "host"});
    if (!is(*s.element, Type::word) || field == 0) scalar::invalid_path(s);
    uint32_t length = string::length(parent);
    int32_t at = string::find_char(parent, '@');
    uint32_t user_length = at < 0 ? length : uint32_t(at);
    uint32_t host_from = at < 0 ? length : uint32_t(at) + 1;
    if (!s.value_to_set) {
        result = field == 1 ? part_of(parent, 0, user_length)
                            : part_of(parent, host_from, length - host_from);
        return;
    }
    Cell args[3] = {parent, *s.value_to_set, none_cell()};
    collector::Root r0(args[0]), r1(args[1]);
    if (field == 2 && at < 0) {
        // No "@" yet: the host gets one, or it would run into the user part.
        string::append_char(series_node(args[0]), '@');
        host_from = length + 1;
    }
    uint32_t from = field == 1 ? 0 : host_from;
    Cell part = integer_cell(int32_t(field == 1 ? user_length : length - host_from));
    set_series_index(args[0], series_index(args[0]) + from);
    string::change(args, &part, false, nullptr);
    result = args[1];
}

}  // namespace

void init() {
    actions::Row row;
    actions::inherit_series_slots(row);
    using S = actions::Slot;
    actions::inherit(row, {S::make, S::reflect, S::to, S::form, S::compare, S::append, S::change,
                           S::copy, S::find, S::insert, S::put, S::select, S::swap});
    row.mold = mold;
    row.eval_path = eval_path;
    datatype::register_type(Type::email, Type::string, "email!", row);
}

}  // namespace zan::email
