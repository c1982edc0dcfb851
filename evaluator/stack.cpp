// The value stack and the call-frame stack: openers, closers, exit searches,
// the collector's walk and the names errors report.
//
// The stacks are plain arrays on the C heap, never moved; the collector
// reaches their cells and the contexts named by frames through mark_gc.
#include "evaluator/stack.h"

#include <pthread.h>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/mold.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace zan::stack {

State s{};
uint32_t sym_body = 0;
uint32_t sym_anon = 0;
uint32_t throw_origin = 0;

namespace {

uint32_t sym_self = 0;
uint32_t sym_not_found = 0;

// The context cell of a locals context: its values reference is w2.
Cell& context_cell(Node ctx) { return memory::buffer(ctx)->cells()[0]; }

void mark_gc() {
    collector::mark_cells(s.bottom, s.top);
    for (Frame* f = s.frame_bottom; f < s.frame_top; ++f) {
        if (f->word_context) {
            if (sym_self && symbol::resolve(f->symbol) == sym_self)
                collector::mark_series(f->word_context);
            else
                collector::mark_context(f->word_context);
        }
        if (f->func_context) {
            collector::mark_context(f->func_context);
            if (f->saved_values && !has_flag(context_cell(f->func_context), header::context_on_stack))
                collector::mark_series(f->saved_values);
        }
    }
}

// The lowest address the native stack may reach before evaluation stops with
// stack-overflow: a margin above the end of this thread's stack.
const char* find_native_limit() {
    pthread_attr_t attr;
    void* low = nullptr;
    size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        pthread_attr_getstack(&attr, &low, &size);
        pthread_attr_destroy(&attr);
    }
    if (!low) return nullptr;
    size_t margin = size / 8 > (size_t(1) << 20) ? size / 8 : size_t(1) << 20;
    if (margin > (size_t(16) << 20)) margin = size_t(16) << 20;
    return static_cast<const char*>(low) + margin;
}

}  // namespace

namespace {

// Every raised error learns where it came from: the nearest named call and
// the call-stack top, which try/keep and the error's text form walk.
NearProvider near_provider = nullptr;

void locate_error(const Cell& error) {
    if (!is(error, Type::error)) return;
    Cell* near = error::field_at(error, error::near_index());
    if (near_provider && is(*near, Type::none)) *near = near_provider();
    if (s.frame_top == s.frame_bottom) return;
    error::set_where(error, get_call_word());
    record_error_position(error);
}

}  // namespace

void init() {
    static bool made = false;
    if (!made) {
        made = true;
        s.bottom = static_cast<Cell*>(memory::allocate_zeroed(sizeof(Cell) * value_capacity));
        s.end = s.bottom + value_capacity;
        s.frame_bottom = static_cast<Frame*>(memory::allocate_zeroed(sizeof(Frame) * frame_capacity));
        s.frame_end = s.frame_bottom + frame_capacity;
        collector::register_marker(mark_gc);
        errors::set_call_word_provider(get_call_word);
        errors::set_locate_hook(locate_error);
        sym_body = symbol::make("<body>");
        sym_anon = symbol::make("<anon>");
        sym_self = symbol::make("self");
        sym_not_found = symbol::make("<not-found>");
    }
    s.top = s.base = s.bottom;
    s.frame_top = s.frame_bottom;
    s.native_limit = find_native_limit();
    throw_origin = 0;
}

void overflow(uint32_t drop) {
    s.top = uint32_t(s.top - s.bottom) < drop ? s.bottom : s.top - drop;
    if (s.base > s.top) s.base = s.top;
    mold::cycle_reset();
    errors::fire(errors::id::stack_overflow);
}

void keep_error_result() {
    if (s.top > s.base && is(s.top[-1], Type::error)) *s.base = s.top[-1];
    s.top = s.base + 1;
}

// --- frames ---------------------------------------------------------------------

Frame* mark_func(const Cell& word, Node func_context) {
    Frame* f = mark(word, kind_bits(kind::function));
    f->func_context = func_context;
    f->saved_values = func_context ? context_cell(func_context).w2 : 0;
    return f;
}

Frame* mark_compiled_func(const Cell& word, Node func_context) {
    context_cell(func_context).w2 = position(s.base);
    return mark(word, kind_bits(kind::native) | bits::func_entry);
}

void set_func_entry(bool on) {
    Frame* f = top_frame();
    if (!f) return;
    if (on)
        f->header |= bits::func_entry;
    else
        f->header &= ~bits::func_entry;
}

void mark_interp() {
    if (Frame* f = top_frame()) f->header |= bits::interp;
}

Frame* claim_caller_entry() {
    if (s.frame_top - s.frame_bottom < 2) return nullptr;
    Frame* f = s.frame_top - 2;
    if (f->header & bits::func_entry) return nullptr;
    f->header |= bits::func_entry;
    return f;
}

void clear_func_entry(Frame* f) {
    if (f) f->header &= ~bits::func_entry;
}

void set_frame_top(Frame* f) { s.frame_top = f; }

bool interp_frame_below(const Frame* f, bool single) {
    const Frame* from = f ? f : s.frame_top - 1;
    for (const Frame* p = from - 1; p >= s.frame_bottom; --p) {
        if (p->header & bits::interp) return true;
        if (single) break;
    }
    return false;
}

// --- closers ----------------------------------------------------------------------

void restore_context(const Frame& f) {
    if (frame_kind(f) == kind::function && f.func_context)
        context_cell(f.func_context).w2 = f.saved_values;
}

void unwind_func() {
    restore_context(s.frame_top[-1]);
    unwind();
}
void unwind_func_last() {
    restore_context(s.frame_top[-1]);
    unwind_last();
}
void unwind_func_drop() {
    restore_context(s.frame_top[-1]);
    unwind_drop();
}

void unwind_any() {
    Frame* f = --s.frame_top;
    restore_context(*f);
    if (s.frame_top == s.frame_bottom) {
        s.base = s.top = s.bottom;
    } else {
        s.top = s.base;
        s.base = s.bottom + f->prev_base;
    }
}

void unwind_to_kind(uint32_t k, bool keep) {
    Frame* start = s.frame_top;
    bool reached = false;
    while (s.frame_top > s.frame_bottom) {
        Frame* f = --s.frame_top;
        restore_context(*f);
        reached = true;
        uint32_t fk = frame_kind(*f);
        if (fk == k || fk == kind::try_all) break;
    }
    if (keep && reached) ++s.frame_top;
    if (s.frame_top == start) {
        s.top = s.base + 1;
    } else if (s.frame_top == s.frame_bottom) {
        s.base = s.top = s.bottom;
    } else {
        // The frame just above the call top: with keep the one that ran
        // inside the frame reached, without keep the frame reached itself.
        s.top = s.base + 1;
        s.base = s.bottom + s.frame_top->prev_base;
    }
    if (!keep && reached) ++s.frame_top;
}

void unwind_to_kind_last(uint32_t k) {
    Cell* inner = s.base;
    Cell result = *inner;
    unwind_to_kind(k, false);
    *s.base = result;
    s.top = s.base;
}

void cut_back(Frame* f, Cell* base, Cell* top) {
    while (s.frame_top > f + 1) {
        --s.frame_top;
        restore_context(*s.frame_top);
    }
    s.base = base;
    s.top = top;
}

// --- exit searches ------------------------------------------------------------------

namespace {

struct Saved {
    Cell* base;
    Cell* top;
    Frame* frame_top;
    void restore() const {
        s.base = base;
        s.top = top;
        s.frame_top = frame_top;
    }
};

// Makes `target` the top frame with base and top as inside it; the frames
// passed get their function contexts back.
void land_on(Frame* target) {
    while (s.frame_top > target + 1) {
        --s.frame_top;
        restore_context(*s.frame_top);
    }
}

// The base in force inside frame f: the previous base of the frame above
// it, or the current base for the top frame.
Cell* base_inside(Frame* f) {
    return f + 1 < s.frame_top ? s.bottom + f[1].prev_base : s.base;
}

}  // namespace

Status throw_break(bool has_value, bool continue_) {
    Saved saved{s.base, s.top, s.frame_top};
    Frame* f = s.frame_top > s.frame_bottom ? s.frame_top - 2 : s.frame_top - 1;
    for (; f >= s.frame_bottom; --f) {
        uint32_t k = frame_kind(*f);
        if (k == kind::loop) break;
        if (k == kind::try_all) break;
    }
    if (f < s.frame_bottom || frame_kind(*f) != kind::loop) {
        saved.restore();
        errors::fire(continue_ ? errors::id::throw_continue : errors::id::throw_break);
    }
    Cell value = has_value && !continue_ ? *saved.base : unset_cell();
    Cell* inside = base_inside(f);
    land_on(f);
    s.base = inside;
    s.top = inside + 1;
    *inside = value;
    return continue_ ? unwind::continue_ : unwind::break_;
}

Status throw_return(bool has_value, bool no_own_frame) {
    Saved saved{s.base, s.top, s.frame_top};
    Frame* f = s.frame_top - 1;
    if (!no_own_frame && f >= s.frame_bottom) --f;
    for (; f >= s.frame_bottom; --f) {
        if (f->header & bits::func_entry) break;
        if (frame_kind(*f) == kind::try_all) {
            f = s.frame_bottom - 1;
            break;
        }
    }
    if (f < s.frame_bottom) {
        saved.restore();
        errors::fire(errors::id::throw_return);
    }
    Cell value = has_value ? *saved.base : unset_cell();
    Cell* inside = base_inside(f);
    land_on(f);
    s.base = inside;
    s.top = inside + 1;
    *inside = value;
    return has_value ? unwind::return_ : unwind::exit;
}

Status throw_value(uint32_t code) {
    Saved saved{s.base, s.top, s.frame_top};
    Cell value = *saved.base;
    Cell name = saved.base + 1 < saved.top ? saved.base[1] : unset_cell();
    Frame* f = s.frame_top > s.frame_bottom ? s.frame_top - 2 : s.frame_top - 1;
    if (!throw_origin) throw_origin = uint32_t(s.frame_top - s.frame_bottom);
    for (; f >= s.frame_bottom; --f) {
        uint32_t k = frame_kind(*f);
        if (k == kind::catch_) break;
        if (k == kind::try_all) {
            f = s.frame_bottom - 1;
            break;
        }
    }
    if (f < s.frame_bottom) {
        saved.restore();
        errors::fire(errors::id::throw_throw, &value);
    }
    Cell* inside = base_inside(f);
    land_on(f);
    s.base = inside;
    s.top = inside;
    *s.top++ = value;
    *s.top++ = name;
    return code;
}

// --- names, errors and backtraces ------------------------------------------------------

namespace {
bool internal_name(uint32_t sym) { return sym == sym_body || sym == sym_anon; }
}  // namespace

void set_near_provider(NearProvider provider) { near_provider = provider; }

Cell get_call_word() {
    Frame* from = throw_origin ? s.frame_bottom + throw_origin : s.frame_top;
    throw_origin = 0;
    for (Frame* f = from - 1; f >= s.frame_bottom; --f) {
        if (internal_name(f->symbol)) continue;
        return make_cell(Type::word, f->word_context, f->symbol, uint32_t(-1));
    }
    return make_cell(Type::word, 0, sym_not_found, uint32_t(-1));
}

void record_error_position(const Cell& error) {
    Cell* field = error::field_at(error, error::stack_index());
    if (!is(*field, Type::block)) *field = integer_cell(int32_t(s.frame_top - s.frame_bottom));
}

namespace {

// The word of a frame: found in its context, else the global word.
// A frame without a word context (a call of a value no word named) names its
// word in the global context.
Cell frame_word(const Frame& f) {
    return word::find_in_context(f.word_context ? f.word_context : context::global(), f.symbol);
}

bool wanted(int level, const Frame& f) {
    if (level > 1) return true;
    Cell* v = context::get_by_symbol(f.symbol, f.word_context ? f.word_context : context::global());
    return v && is(*v, Type::function);
}

}  // namespace

void collect_calls(const Cell& block) {
    for (Frame* f = s.frame_top - 1; f > s.frame_bottom; --f) {
        if (internal_name(f->symbol)) continue;
        block::rs_append(block, frame_word(*f));
        block::rs_append(block, integer_cell(int32_t(f->prev_base)));
    }
}

void collect_call_words(int level, const Cell& block, uint32_t end) {
    Frame* stop = end ? s.frame_bottom + end : s.frame_top;
    if (stop > s.frame_top) stop = s.frame_top;
    for (Frame* f = s.frame_bottom; f < stop; ++f) {
        if (internal_name(f->symbol) || !wanted(level, *f)) continue;
        Cell w;
        word::make_at(f->symbol, w);
        block::rs_append(block, w);
    }
}

int32_t form_backtrace(int level, uint32_t end, Node buffer, int32_t budget) {
    Frame* stop = end ? s.frame_bottom + end : s.frame_top;
    if (stop > s.frame_top) stop = s.frame_top;
    Cell* scratch = push(none_cell());
    for (Frame* f = s.frame_bottom; f < stop; ++f) {
        if (internal_name(f->symbol) || !wanted(level, *f)) continue;
        *scratch = frame_word(*f);
        budget = word::form(*scratch, buffer, true, budget);
        budget = mold::append(buffer, " ", budget);
    }
    s.top = scratch;
    return budget;
}

}  // namespace zan::stack
