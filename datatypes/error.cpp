// error!: the catalogue object, making errors, their text form and mold.
//
// Every script error is built here: errors::fire hands its id and arguments
// to make_from_ids. Building allocates, so the error for a failed allocation
// (internal no-memory) is made once at start-up and reused, and an error
// raised while an error is being built falls back to it as well.
#include "datatypes/error.h"

#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/mold.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/unwind.h"

namespace zan::error {

namespace {

Cell catalog_;        // system/catalog/errors
bool catalog_ready_ = false;  // catalog_ made or given
Cell standard_;       // system/standard/error
Cell no_memory_;      // ready for a failed allocation
bool building_ = false;

const char* const field_names[field::count] = {"code", "type", "id",    "arg1",  "arg2",
                                               "arg3", "near", "where", "stack", "files"};

void mark_roots() {
    collector::mark_cell(catalog_);
    collector::mark_cell(standard_);
    collector::mark_cell(no_memory_);
}

Cell word_cell(Type t, Node ctx, uint32_t symbol, int32_t index) {
    return make_cell(t, ctx, symbol, uint32_t(index));
}

// A word bound to nothing.
Cell unbound_word(uint32_t symbol, Type t = Type::word) { return word_cell(t, 0, symbol, -1); }

Cell text_cell(std::string_view utf8) {
    Node n = string::make_buffer(uint32_t(utf8.size() + 1), 1);
    collector::NodeRoot keep(n, collector::NodeRoot::As::buffer);
    string::append_utf8(n, utf8);
    return string::make_cell(n, 0, Type::string);
}

// The template's source text as values: a string, a word, or a block of
// strings and argument words (unbound: they name fields of the error being
// formed).
Cell parse_template(std::string_view text) {
    size_t i = 0;
    auto skip_space = [&] {
        while (i < text.size() && text[i] == ' ') ++i;
    };
    auto read_string = [&] {
        size_t start = ++i;
        while (i < text.size() && text[i] != '"') ++i;
        Cell s = text_cell(text.substr(start, i - start));
        ++i;
        return s;
    };
    skip_space();
    if (text[i] == '"') return read_string();
    if (text[i] != '[') return unbound_word(symbol::make(text.substr(i)));
    Cell block;
    collector::Root keep(block);
    block::make_at(block, 6);
    ++i;  // '['
    for (;;) {
        skip_space();
        if (i >= text.size() || text[i] == ']') break;
        if (text[i] == '"') {
            Cell s = read_string();
            block::rs_append(block, s);
            continue;
        }
        Type t = Type::word;
        if (text[i] == ':') {
            t = Type::get_word;
            ++i;
        }
        size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != ']') ++i;
        uint32_t s = symbol::make(text.substr(start, i - start));
        block::rs_append(block, unbound_word(s, t));
    }
    return block;
}

// Objects the runtime makes at start-up take no ids from the class counter:
// the first class made by a script is 1,000,001.
Cell build_catalog() {
    Cell catalog;
    collector::Root keep(catalog);
    object::make_at(catalog::category_count, catalog);
    Node top = object::context_node(catalog);
    collector::NodeRoot keep_top(top, collector::NodeRoot::As::context);
    uint32_t sym_code = symbol::make("code"), sym_type = symbol::make("type");
    for (int c = 0; c < catalog::category_count; ++c) {
        Cell cat;
        collector::Root keep_cat(cat);
        object::make_at(uint32_t(catalog::id_count(c) + 2), cat);
        Node ctx = object::context_node(cat);
        context::put(ctx, unbound_word(sym_code), integer_cell(c * 100));
        Cell type = text_cell(catalog::category_type(c));
        collector::Root keep_type(type);
        context::put(ctx, unbound_word(sym_type), type);
        for (int i = 0; i < catalog::id_count(c); ++i) {
            Cell t = parse_template(catalog::template_text(c, i));
            collector::Root keep_t(t);
            uint32_t s = symbol::make(catalog::id_name(c, i));
            context::put(ctx, unbound_word(s), t);
        }
        context::owner(ctx) = cat;
        uint32_t s = symbol::make(catalog::category_name(c));
        context::put(top, unbound_word(s), cat);
    }
    context::owner(top) = catalog;
    return catalog;
}

Cell build_standard() {
    Cell e;
    collector::Root keep(e);
    object::make_at(field::count, e);
    Node ctx = object::context_node(e);
    for (const char* name : field_names)
        context::put(ctx, unbound_word(symbol::make(name)), none_cell());
    e.w2 = class_id;
    context::owner(ctx) = e;
    return e;
}

// A new error: a copy of the standard error object, typed error!, class 1.
Cell new_error() {
    Cell e = standard_;
    collector::Root keep(e);
    Node ctx = object::clone_context(e);
    e = make_cell(Type::error, ctx, class_id, 0);
    context::owner(ctx) = e;
    return e;
}

void need_catalog();

// The context of the catalogue, or 0 when a script replaced it by something
// that is no object.
Node catalog_context() {
    need_catalog();
    return is(catalog_, Type::object) ? object::context_node(catalog_) : 0;
}

// The context of a category object, or 0 when the catalogue no longer holds
// an object there (a script may assign any value to its fields).
Node category_context(int category) {
    Node top = catalog_context();
    if (!top || category < 0 || uint32_t(category) >= context::length(top)) return 0;
    Cell cat = *context::value_at(top, category);
    return is(cat, Type::object) ? object::context_node(cat) : 0;
}

// The category and id words of an error: bound to the catalogue where it still
// holds them, else plain words of the built-in names, so an error is raised
// whatever a script did to the catalogue.
void set_ids(const Cell& error, int category, int id) {
    Node ctx = object::context_node(error);
    uint32_t type_sym = symbol::make(catalog::category_name(category));
    uint32_t id_sym = symbol::make(catalog::id_name(category, id));
    Cell type = unbound_word(type_sym);
    if (Node top = catalog_context()) {
        int32_t i = context::find_word(top, type_sym, false);
        if (i >= 0) type = word_cell(Type::word, top, type_sym, uint32_t(i));
    }
    Cell idw = unbound_word(id_sym);
    if (Node cat = category_context(category)) {
        int32_t i = context::find_word(cat, id_sym, false);
        if (i >= 0) idw = word_cell(Type::word, cat, id_sym, uint32_t(i));
    }
    *context::value_at(ctx, field::code) = integer_cell(category * 100 + id);
    *context::value_at(ctx, field::type) = type;
    *context::value_at(ctx, field::id) = idw;
}

// Category index of a word (letter case ignored), -1 when none.
int category_of(const Cell& word) {
    Node top = catalog_context();
    if (!is(word, Type::word) || !top) return -1;
    int32_t i = context::find_word(top, word_symbol(word), true);
    return i < catalog::category_count ? i : -1;
}

// Id number of a word in a category, -1 when none.
int id_of_word(int category, const Cell& word) {
    Node cat = category_context(category);
    if (!is(word, Type::word) || !cat) return -1;
    int32_t i = context::find_word(cat, word_symbol(word), true);
    return i >= 2 ? i - 2 : -1;
}

Cell field_word(const char* name) { return unbound_word(symbol::make(name)); }

// The error kept for a failed allocation, its where, near and stack fields
// cleared of the last report (nothing is allocated).
Cell ready_no_memory() {
    if (is(no_memory_, Type::error)) {
        for (int f : {field::near, field::where, field::stack}) *field_at(no_memory_, f) = none_cell();
    }
    return no_memory_;
}

// The error kept for a failed allocation was made before the catalogue: its
// type and id words are bound to the catalogue once there is one.
void bind_no_memory() {
    if (is(no_memory_, Type::error))
        set_ids(no_memory_, int(errors::id::no_memory.category), int(errors::id::no_memory.index) - 2);
}

// Building the catalogue from the table costs more than the rest of the
// runtime's start: zan takes the one its boot image holds, so the table is
// read only where no image gave one (the image generator, unit tests).
void need_catalog() {
    if (catalog_ready_) return;
    catalog_ready_ = true;
    catalog_ = build_catalog();
    bind_no_memory();
}

Cell build_from_id(errors::Id id, const Cell* a1, const Cell* a2, const Cell* a3) {
    // (a catalogue not made yet is made by make_from_ids, once the arguments
    // are copied where the collector sees them)
    if (id == errors::id::no_memory || building_ || (catalog_ready_ && !is(catalog_, Type::object)))
        return ready_no_memory();
    building_ = true;
    struct Reset {
        ~Reset() { building_ = false; }
    } reset;
    return make_from_ids(id, a1, a2, a3);
}

}  // namespace

const Cell& catalog_object() {
    need_catalog();
    return catalog_;
}
const Cell& standard_object() { return standard_; }
void set_catalog(const Cell& c) {
    catalog_ = c;
    catalog_ready_ = true;
    bind_no_memory();
}
void set_standard(const Cell& s) { standard_ = s; }

Cell* field_at(const Cell& error, int index) {
    return context::value_at(object::context_node(error), index);
}

Cell make_from_ids(errors::Id id, const Cell* a1, const Cell* a2, const Cell* a3) {
    Cell args[3] = {a1 ? *a1 : none_cell(), a2 ? *a2 : none_cell(), a3 ? *a3 : none_cell()};
    collector::Root k0(args[0]), k1(args[1]), k2(args[2]);
    Cell e = new_error();
    collector::Root keep(e);
    set_ids(e, int(id.category), int(id.index) - 2);
    for (int i = 0; i < 3; ++i) *field_at(e, field::arg1 + i) = args[i];
    return e;
}

void set_where(const Cell& error, const Cell& value) {
    Cell* w = field_at(error, field::where);
    if (is(*w, Type::none)) *w = value;
}

uint32_t get_type(const Cell& error) {
    Cell t = *field_at(error, field::type);
    return is(t, Type::word) ? word_symbol(t) : 0;
}

uint32_t get_id(const Cell& error) {
    Cell t = *field_at(error, field::id);
    return is(t, Type::word) ? word_symbol(t) : 0;
}

Cell get_call_argument(const Cell& word, int n) {
    const Cell* v = context::get(word);
    if (!v) return none_cell();
    Type t = type_of(*v);
    if (t != Type::native && t != Type::action && t != Type::op && t != Type::function &&
        t != Type::routine)
        return none_cell();
    Cell spec = series_cell(Type::block, callable_spec(*v));
    int k = 0;
    for (int32_t i = 0, len = block::rs_length(spec); i < len; ++i) {
        Cell e = *block::rs_abs_at(spec, i);
        Type et = type_of(e);
        if (et != Type::word && et != Type::lit_word && et != Type::get_word && et != Type::refinement)
            continue;
        if (++k == n) return e;
    }
    return none_cell();
}

errors::Id id_of(const Cell& error) {
    int c = category_of(*field_at(error, field::type));
    if (c < 0) return errors::id::not_done;
    int i = id_of_word(c, *field_at(error, field::id));
    if (i < 0) return errors::id::not_done;
    return errors::Id{errors::Category(c), uint8_t(i + 2)};
}

// --- make ----------------------------------------------------------------------------

void make(actions::Args args, Type) {
    Cell spec = args[1];
    collector::Root keep_spec(spec);
    Cell e;
    collector::Root keep(e);
    auto bad_field = [](const char* name) {
        Cell w = field_word(name);
        errors::fire(ids::invalid_spec_field, &w);
    };
    switch (type_of(spec)) {
        case Type::integer: {
            int32_t code = int_of(spec);
            int c = code / 100, i = code % 100;
            if (code < 0 || c >= catalog::category_count || i >= catalog::id_count(c))
                errors::fire(errors::id::out_of_range, &spec);
            e = new_error();
            set_ids(e, c, i);
            break;
        }
        case Type::string: {
            e = new_error();
            set_ids(e, int(errors::Category::user), 0);
            *field_at(e, field::arg1) = spec;
            break;
        }
        case Type::block: {
            int32_t n = block::rs_length(spec);
            Type first = n > 0 ? type_of(*block::rs_abs_at(spec, int32_t(series_index(spec)))) : Type::any;
            if (first == Type::word) {
                Cell cw = *block::rs_abs_at(spec, int32_t(series_index(spec)));
                int c = category_of(cw);
                if (c < 0) bad_field("type");
                if (n < 2) bad_field("id");
                Cell iw = *block::rs_abs_at(spec, int32_t(series_index(spec)) + 1);
                if (!is(iw, Type::word)) errors::fire(errors::id::invalid_arg, &iw);
                int i = id_of_word(c, iw);
                if (i < 0) bad_field("id");
                e = new_error();
                set_ids(e, c, i);
            } else if (first == Type::set_word) {
                e = new_error();
                Node ctx = object::context_node(e);
                context::bind(spec, ctx, true);
                object::eval(spec);
                int c = category_of(*field_at(e, field::type));
                if (c < 0) bad_field("type");
                int i = id_of_word(c, *field_at(e, field::id));
                if (i < 0) bad_field("id");
                set_ids(e, c, i);
            } else {
                errors::fire(ids::invalid_error, &spec);
            }
            break;
        }
        default: {
            Cell dt = datatype_cell(Type::error);
            errors::fire(errors::id::bad_make_arg, &dt, &spec);
        }
    }
    args[0] = e;
}

// --- form and mold ----------------------------------------------------------------------

namespace {

// The call stack's own backtrace, formed from the bottom up to a frame count.
std::string stack_backtrace(int level, uint32_t position) {
    Node buffer = string::make_buffer(64, 1);
    collector::NodeRoot keep(buffer, collector::NodeRoot::As::buffer);
    stack::form_backtrace(level, position, buffer, mold::no_limit);
    return string::to_utf8(string::make_cell(buffer, 0, Type::string));
}

StackTraceLevel stack_trace_level_ = nullptr;
Backtrace backtrace_ = stack_backtrace;

uint32_t count_chars(std::string_view utf8) {
    uint32_t n = 0;
    for (unsigned char c : utf8)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

int32_t put_text(Node buffer, std::string_view utf8, int32_t budget) {
    string::append_utf8(buffer, utf8);
    return budget - int32_t(count_chars(utf8));
}

// The text of a value shown in an error report. A value that cannot be shown
// gives "???": an error raised while an error is reported would lose both.
template <typename Text>
std::string shown(Text text) {
    Cell pending = errors::pending();
    errors::Id pending_id = errors::pending_id();
    collector::Root keep(pending);
    try {
        return text();
    } catch (const unwind::Thrown& t) {
        if (t.code != unwind::error) throw;
        errors::restore_pending(pending_id, pending);
        return "???";
    }
}

// The value of a field of the error named by a word, or none.
Cell field_named(const Cell& error, const Cell& word) {
    Node ctx = object::context_node(error);
    int32_t i = context::find_word(ctx, word_symbol(word), true);
    return i < 0 ? none_cell() : *context::value_at(ctx, i);
}

// Finds the category object and the template; anything missing relabels the
// error as internal invalid-error with the offending value as arg1.
Cell resolve_template(Cell& error, int& category) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        // The first offence is the one reported: a broken internal category
        // must not hide it.
        Cell* arg1 = attempt == 0 ? field_at(error, field::arg1) : nullptr;
        Cell type = *field_at(error, field::type);
        category = category_of(type);
        if (category < 0) {
            if (arg1) *arg1 = type;
        } else {
            Cell idw = *field_at(error, field::id);
            int i = id_of_word(category, idw);
            if (i < 0) {
                if (arg1) *arg1 = idw;
            } else {
                Cell t = *context::value_at(category_context(category), i + 2);
                if (is(t, Type::word)) t = field_named(error, t);
                if (is(t, Type::string) || is(t, Type::block)) return t;
                if (arg1) *arg1 = t;
            }
        }
        set_ids(error, int(errors::Category::internal), ids::invalid_error.index - 2);
    }
    category = int(errors::Category::internal);
    Node cat = category_context(category);
    if (cat && context::length(cat) > ids::invalid_error.index) {
        Cell t = *context::value_at(cat, ids::invalid_error.index);
        if (is(t, Type::string) || is(t, Type::block)) return t;
    }
    // The internal category is broken too: its built-in template.
    return parse_template(catalog::template_text(category, ids::invalid_error.index - 2));
}

}  // namespace

void set_form_services(StackTraceLevel level, Backtrace backtrace) {
    stack_trace_level_ = level;
    backtrace_ = backtrace ? backtrace : stack_backtrace;
}

void capture_stack(const Cell& error_in) {
    Cell error = error_in;
    collector::Root keep(error);
    Cell position = *field_at(error, field::stack);
    if (!is(position, Type::integer)) return;
    Cell calls;
    collector::Root keep_calls(calls);
    block::make_at(calls, 20);
    int level = stack_trace_level_ ? stack_trace_level_() : 1;
    stack::collect_call_words(level, calls, uint32_t(int_of(position)));
    *field_at(error, field::stack) = calls;
}

int32_t form(const Cell& value, Node buffer, bool, int32_t budget) {
    // Forming may relabel a broken error: work on a copy of its fields.
    Cell error = value;
    collector::Root keep(error);
    {
        Cell copy = error;
        Node ctx = object::clone_context(copy);
        error = make_cell(Type::error, ctx, class_id, 0);
        context::owner(ctx) = error;
    }
    int category = 0;
    Cell tmpl = resolve_template(error, category);
    collector::Root keep_t(tmpl);
    Node cat = category_context(category);

    budget = mold::append(buffer, "*** ", budget);
    Cell display = cat && context::length(cat) > 1 ? *context::value_at(cat, 1) : none_cell();
    if (is(display, Type::string))
        budget = put_text(buffer, string::to_utf8(display), budget);
    else
        budget = mold::append(buffer, catalog::category_type(category), budget);
    budget = mold::append(buffer, ": ", budget);

    if (is(tmpl, Type::string)) {
        budget = put_text(buffer, string::to_utf8(tmpl), budget);
    } else {
        bool syntax = category == int(errors::Category::syntax);
        int32_t n = block::rs_length(tmpl);
        for (int32_t i = 0; i < n; ++i) {
            if (i > 0) budget = mold::append(buffer, " ", budget);
            Cell item = *block::rs_abs_at(tmpl, int32_t(series_index(tmpl)) + i);
            collector::Root keep_item(item);
            if (is(item, Type::string)) {
                budget = put_text(buffer, string::to_utf8(item), budget);
            } else if (is(item, Type::word) || is(item, Type::get_word)) {
                Cell v = field_named(error, item);
                collector::Root keep_v(v);
                actions::MoldFlags flat;
                flat.flat = true;
                std::string text = shown([&] {
                    return syntax ? mold::form_text(v, 80) : mold::mold_text(v, flat, 80);
                });
                budget = put_text(buffer, text, budget);
            } else {
                budget = put_text(buffer, shown([&] { return mold::form_text(item); }), budget);
            }
        }
    }

    budget = mold::append(buffer, "\n*** Where: ", budget);
    Cell where = *field_at(error, field::where);
    if (is(where, Type::word)) {
        budget = put_text(buffer, shown([&] { return mold::form_text(where); }), budget);
    } else if (is(where, Type::string)) {
        budget = put_text(buffer, string::to_utf8(where), budget);
    } else if (is(where, Type::block)) {  // the preprocessor names its directive so
        actions::MoldFlags where_flags;
        where_flags.only = where_flags.flat = true;
        budget = put_text(buffer, shown([&] { return mold::mold_text(where, where_flags, 80); }), budget);
    } else {
        budget = mold::append(buffer, "???", budget);
    }

    budget = mold::append(buffer, "\n*** Near : ", budget);
    actions::MoldFlags near_flags;
    near_flags.only = near_flags.flat = true;
    Cell near = *field_at(error, field::near);
    budget = put_text(buffer, shown([&] { return mold::mold_text(near, near_flags, 40); }), budget);

    if (stack_trace_level_ && stack_trace_level_() > 0) {
        budget = mold::append(buffer, "\n*** Stack: ", budget);
        Cell stack = *field_at(error, field::stack);
        if (is(stack, Type::integer) && backtrace_) {
            budget = put_text(buffer, backtrace_(stack_trace_level_(), uint32_t(int_of(stack))), budget);
        } else if (is(stack, Type::block)) {
            budget = put_text(buffer, shown([&] { return mold::form_text(stack); }), budget);
        }
    }
    Cell files = *field_at(error, field::files);
    if (is(files, Type::block)) {
        budget = mold::append(buffer, "\n*** Files: ", budget);
        budget = put_text(buffer, shown([&] { return mold::mold_text(files, near_flags, 40); }), budget);
    }
    return budget;
}

std::string form_text(const Cell& error) { return mold::form_text(error); }

int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent) {
    Node ctx = object::context_node(value);
    if (mold::cycle_find(ctx)) return mold::append(buffer, "make error! [...]", budget);
    mold::CycleScope scope(ctx);
    if (!flags.only) budget = mold::append(buffer, "make error! [", budget);
    actions::MoldFlags inner = flags;
    inner.only = false;
    int32_t before = budget;
    budget = object::mold_fields(value, buffer, inner, part, budget, indent + 1);
    if (!flags.flat && budget != before) {
        budget = mold::append(buffer, "\n", budget);
        budget = mold::indent(buffer, indent, budget);
    }
    if (!flags.only) budget = mold::append(buffer, "]", budget);
    return budget;
}

void eval_path(Cell& result, const Cell& parent, const actions::PathStep& s) {
    if (s.value_to_set && is(*s.element, Type::word) &&
        symbol::resolve(word_symbol(*s.element)) == symbol::resolve(symbol::make("stack"))) {
        Cell path = s.path ? *s.path : none_cell();
        errors::fire(ids::invalid_path_set, &path);
    }
    object::eval_path(result, parent, s);
}

int32_t compare(const Cell& a, const Cell& b, int32_t op) {
    if (!is(b, Type::error)) return -2;
    return object::compare(a, b, op);
}

void init() {
    static bool done = false;
    if (done) return;
    done = true;
    actions::Row r;
    r.make = make;
    r.form = form;
    r.mold = mold;
    r.eval_path = eval_path;
    r.compare = compare;
    r.reflect = actions::SlotValue<actions::Fn_reflect>::inherited();
    r.copy = actions::SlotValue<actions::Fn_copy>::inherited();
    r.find = actions::SlotValue<actions::Fn_find>::inherited();
    r.select = actions::SlotValue<actions::Fn_select>::inherited();
    datatype::register_type(Type::error, Type::object, "error!", r);
    collector::register_marker(mark_roots);

    standard_ = build_standard();
    // Made with plain type and id words: the catalogue is not built here.
    catalog_ready_ = true;
    no_memory_ = make_from_ids(errors::id::no_memory);
    catalog_ready_ = false;
    errors::set_builder(build_from_id);
}

}  // namespace zan::error
