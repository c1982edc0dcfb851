// Action dispatch: the entry table, the typed callers and compare*.
//
// Each entry is one small routine: it finds the routine for the type at the
// argument base (two array reads) and calls it, either directly on the
// operands, or with its refinements converted to the typed parameters.
#include "evaluator/dispatch.h"

#include "datatypes/mold.h"
#include "datatypes/string.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/errors.h"

namespace zan::dispatch {

namespace {

PortTable port_table = nullptr;

// Refinement conversion: a flag, or the address of the refinement's argument.
struct Refs {
    const int32_t* r;
    bool flag(int i) const { return r[i] != -1; }
    const Cell* arg(int i) const { return r[i] < 0 ? nullptr : stack::s.base + r[i]; }
};

Cell* args() { return stack::s.base; }

template <int N>
typename Slot<N>::Fn at_base() {
    return get_action<N>(*stack::s.base);
}

// Direct entries: the routine reads the operands and writes the result slot.
template <int N>
void direct(const int32_t*) {
    at_base<N>()(args());
}

Type type_named(const Cell& value) {
    return is(value, Type::datatype) ? Type(value.w1) : type_of(value);
}

void e_make(const int32_t*) {
    Type t = type_named(args()[0]);
    Cell proto = make_cell(t);
    auto fn = get_action<1>(is(args()[0], Type::datatype) ? proto : args()[0]);
    fn(args(), t);
}
void e_random(const int32_t* r) {
    Refs f{r};
    at_base<2>()(args(), f.flag(0), f.flag(1), f.flag(2));
}
void e_reflect(const int32_t*) { at_base<3>()(args(), word_symbol(args()[1])); }
void e_to(const int32_t*) {
    Type t = type_named(args()[0]);
    Cell proto = make_cell(t);
    auto fn = get_action<4>(is(args()[0], Type::datatype) ? proto : args()[0]);
    fn(args(), t);
}

// form and mold: the text is made in the slot after the operand, then cut
// to the /part limit and moved into the result slot.
int32_t part_limit(const Cell* limit) {
    if (!limit) return -1;
    if (is(*limit, Type::integer)) return int_of(*limit) < 0 ? 0 : int_of(*limit);
    errors::expect_arg(*limit, 2);
}

void finish_text(Cell* text, int32_t limit) {
    if (limit >= 0 && string::length(*text) > uint32_t(limit))
        string::truncate(series_node(*text), uint32_t(limit));
    *args() = *text;
    stack::s.top = stack::s.base + 1;
}

Cell* text_slot() {
    stack::s.top = stack::s.base + 1;
    Cell* slot = stack::push(none_cell());
    string::rs_make_at(*slot, 16);
    return slot;
}

void e_form(const int32_t* r) {
    Refs f{r};
    int32_t limit = part_limit(f.arg(0));
    Cell* text = text_slot();
    if (limit != 0) form(args()[0], series_node(*text), limit >= 0, limit >= 0 ? limit : mold::no_limit);
    finish_text(text, limit);
}
void e_mold(const int32_t* r) {
    Refs f{r};
    int32_t limit = part_limit(f.arg(3));
    actions::MoldFlags flags{f.flag(0), f.flag(1), f.flag(2)};
    Cell* text = text_slot();
    if (limit != 0)
        mold(args()[0], series_node(*text), flags, limit >= 0, limit >= 0 ? limit : mold::no_limit, 0);
    finish_text(text, limit);
}

void e_internal(const int32_t*) { errors::fire(errors::id::not_done); }

void e_compare(const int32_t*) {
    Cell* a = args();
    if (!is(a[2], Type::integer)) errors::expect_arg(a[2], 3);
    *a = logic_cell(compare(a[0], a[1], int_of(a[2])));
}

void e_negate(const int32_t*) { at_base<14>()(args()); }
void e_round(const int32_t* r) {
    Refs f{r};
    actions::RoundRefs rr{f.arg(0), f.flag(1), f.flag(2), f.flag(3), f.flag(4), f.flag(5), f.flag(6)};
    at_base<17>()(args(), rr);
}
void e_even(const int32_t*) { *args() = logic_cell(at_base<19>()(args()[0])); }
void e_odd(const int32_t*) { *args() = logic_cell(at_base<20>()(args()[0])); }
void e_complement(const int32_t*) { at_base<22>()(args()); }

// append, change, insert: /part length /only /dup count.
template <int N>
void e_insertish(const int32_t* r) {
    Refs f{r};
    const Cell* part = f.arg(0);
    if (part && !is(*part, Type::integer) && !is(*part, Type::float_) &&
        type_of(*part) != type_of(args()[0]))
        errors::fire(errors::id::invalid_part, part);
    const Cell* dup = f.arg(2);
    if (dup && !is(*dup, Type::integer) && !is(*dup, Type::float_)) errors::expect_arg(*dup, 3);
    at_base<N>()(args(), part, f.flag(1), dup);
}
void e_clear(const int32_t*) { at_base<29>()(args()); }
void e_copy(const int32_t* r) {
    Refs f{r};
    copy(args(), f.arg(0), f.flag(1), f.arg(2));
}
actions::FindRefs find_refs(const int32_t* r, bool with_tail_match) {
    Refs f{r};
    actions::FindRefs fr;
    fr.part = f.arg(0);
    fr.only = f.flag(1);
    fr.case_ = f.flag(2);
    fr.same = f.flag(3);
    fr.any = f.flag(4);
    fr.with = f.arg(5);
    fr.skip = f.arg(6);
    fr.last = f.flag(7);
    fr.reverse = f.flag(8);
    if (with_tail_match) {
        fr.tail = f.flag(9);
        fr.match = f.flag(10);
    }
    return fr;
}
void e_find(const int32_t* r) { find(args(), find_refs(r, true)); }
void e_length(const int32_t*) {
    int32_t n = at_base<36>()(args()[0]);
    *args() = n == -1 ? none_cell() : integer_cell(n);
}
void e_move(const int32_t* r) { at_base<37>()(args(), Refs{r}.arg(0)); }
void e_pick(const int32_t*) { pick(args()); }
void e_poke(const int32_t*) { poke(args()); }
void e_put(const int32_t* r) { at_base<41>()(args(), Refs{r}.flag(0)); }
void e_remove(const int32_t* r) {
    Refs f{r};
    at_base<42>()(args(), f.arg(0), f.arg(1));
}
void e_reverse(const int32_t* r) {
    Refs f{r};
    at_base<43>()(args(), f.arg(0), f.arg(1));
}
void e_select(const int32_t* r) { at_base<44>()(args(), find_refs(r, false)); }
void e_sort(const int32_t* r) {
    Refs f{r};
    actions::SortRefs sr{f.flag(0), f.arg(1), f.arg(2), f.arg(3), f.flag(4), f.flag(5), f.flag(6)};
    at_base<45>()(args(), sr);
}
void e_swap(const int32_t*) { at_base<47>()(args()); }
void e_take(const int32_t* r) {
    Refs f{r};
    at_base<50>()(args(), f.arg(0), f.flag(1), f.flag(2));
}
void e_trim(const int32_t* r) {
    Refs f{r};
    actions::TrimRefs tr{f.flag(0), f.flag(1), f.flag(2), f.flag(3), f.flag(4), f.arg(5)};
    at_base<51>()(args(), tr);
}
template <int N>
void e_plain(const int32_t*) {
    at_base<N>()(args());
}
void e_modify(const int32_t* r) { at_base<55>()(args(), Refs{r}.flag(0)); }
void e_open(const int32_t* r) {
    Refs f{r};
    open(args(), actions::OpenRefs{f.flag(0), f.flag(1), f.flag(2), f.flag(3), f.arg(4)});
}
void e_read(const int32_t* r) {
    Refs f{r};
    actions::ReadRefs rr{f.arg(0), f.arg(1), f.flag(2), f.flag(3), f.flag(4), f.arg(5)};
    at_base<59>()(args(), rr);
}
void e_write(const int32_t* r) {
    Refs f{r};
    actions::WriteRefs wr{f.flag(0), f.flag(1), f.flag(2), f.flag(3), f.arg(4), f.arg(5), f.arg(6), f.arg(7)};
    at_base<62>()(args(), wr);
}

Entry table[actions::slot_count + 1] = {
    nullptr,
    e_make, e_random, e_reflect, e_to, e_form, e_mold, e_internal, nullptr, e_compare,
    direct<10>, direct<11>, direct<12>, direct<13>, e_negate, direct<15>, direct<16>, e_round,
    direct<18>, e_even, e_odd, direct<21>, e_complement, direct<23>, direct<24>,
    e_insertish<25>, direct<26>, direct<27>, e_insertish<28>, e_clear, e_copy, e_find,
    direct<32>, direct<33>, direct<34>, e_insertish<35>, e_length, e_move, direct<38>, e_pick,
    e_poke, e_put, e_remove, e_reverse, e_select, e_sort, direct<46>, e_swap, direct<48>,
    direct<49>, e_take, e_trim, e_plain<52>, e_plain<53>, e_plain<54>, e_modify, e_open,
    e_plain<57>, e_plain<58>, e_read, e_plain<60>, e_plain<61>, e_write,
};

// Refinements per slot, in the order of the action specs.
constexpr int8_t refinements[actions::slot_count + 1] = {
    0,
    0, 3, 0, 0, 1, 4, 0, 0, 0,    // make random reflect to form mold eval-path - compare
    0, 0, 0, 0, 0, 0, 0, 7, 0,    // absolute add divide multiply negate power remainder round subtract
    0, 0, 0, 0, 0, 0,             // even? odd? and~ complement or~ xor~
    3, 0, 0, 3, 0, 3, 11,         // append at back change clear copy find
    0, 0, 0, 3, 0, 1, 0, 0,       // head head? index? insert length? move next pick
    0, 1, 2, 2, 10, 7, 0, 0, 0,   // poke put remove reverse select sort skip swap tail
    0, 3, 6, 0, 0, 0, 1, 5, 0,    // tail? take trim create close delete modify open open?
    0, 6, 0, 0, 8,                // query read rename update write
};

}  // namespace

Entry entry(int slot) { return slot >= 1 && slot <= actions::slot_count ? table[slot] : nullptr; }
int refinement_count(int slot) {
    return slot >= 1 && slot <= actions::slot_count ? refinements[slot] : 0;
}

void init() {}

void set_port_table(PortTable fn) { port_table = fn; }

void* port_routine(const Cell& port, int slot) {
    if (!port_table || slot < 25) return nullptr;
    void* const* t = port_table(port);
    if (!t) return nullptr;
    if (!t[slot - 25]) errors::fire(errors::id::no_port_action);
    return t[slot - 25];
}

void unsupported(const Cell& value) { errors::expect_arg(value, 1); }

actions::Fn_eval_path get_path_action(const Cell& value, const Cell* path, const Cell& item,
                                      int32_t item_index) {
    auto fn = datatype::row(type_of(value)).eval_path.fn;
    if (fn) return fn;
    Cell type = datatype_cell(type_of(value));
    if (!path) errors::fire(errors::id::bad_path_type2, &item, &type);
    // The path cut after the failing item, as the error shows it.
    Cell cut = *path;
    (void)item_index;
    errors::fire(errors::id::bad_path_type, &cut, &type, path);
}

// --- typed callers ----------------------------------------------------------------

int32_t form(const Cell& value, Node buffer, bool part, int32_t budget) {
    return get_action<5>(value)(value, buffer, part, budget);
}
int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent) {
    return get_action<6>(value)(value, buffer, flags, part, budget, indent);
}
void find(actions::Args a, const actions::FindRefs& r) { get_action<31>(a[0])(a, r); }

int32_t index_of(const Cell& index) {
    switch (type_of(index)) {
        case Type::integer: return int_of(index);
        case Type::char_: return int32_t(index.w2);
        case Type::logic: return logic_of(index) ? 1 : 2;
        default: return 0;
    }
}

void pick(actions::Args a) { get_action<39>(a[0])(a, index_of(a[1])); }
void poke(actions::Args a) { get_action<40>(a[0])(a, index_of(a[1])); }
void copy(actions::Args a, const Cell* part, bool deep, const Cell* types) {
    auto fn = datatype::row(type_of(a[0])).copy.fn;
    if (!fn) errors::expect_arg(a[0], 1);
    fn(a, part, deep, types);
}
void open(actions::Args a, const actions::OpenRefs& r) { get_action<56>(a[0])(a, r); }
void eval_path(Cell& result, const Cell& parent, const actions::PathStep& step) {
    get_path_action(parent, step.path, *step.element, step.step)(result, parent, step);
}

bool compare(const Cell& a, const Cell& b, int32_t op) {
    auto fn = datatype::row(type_of(a)).compare.fn;
    int32_t answer = fn ? fn(a, b, op) : -2;
    if (answer == -2 && op >= code::lesser && op <= code::greater_or_equal)
        errors::fire(errors::id::invalid_compare, &a, &b);
    switch (op) {
        case code::not_equal: return answer != 0;
        case code::lesser: return answer < 0;
        case code::lesser_or_equal: return answer <= 0;
        case code::greater: return answer > 0;
        case code::greater_or_equal: return answer >= 0;
        default: return answer == 0;
    }
}

}  // namespace zan::dispatch
