// The parse engine's ties to the rest of the runtime: word values through
// the contexts, parens through the interpreter, the trace callback under a
// frame named <parse-callback>, and the lexer's one-token scan for datatype
// rules on binary input. parse::init installs them unless hooks were set
// before (the unit tests set their own).
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/symbol.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/parse.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"

namespace zan::parse {

namespace {

uint32_t g_callback_symbol = 0;

Cell get_word(const Cell& word) {
    if (!word_context(word)) return unset_cell();
    return *context::get(word);
}

void set_word(const Cell& word, const Cell& value) {
    Cell w = word;
    context::set(w, value);
}

// Exits other than errors come back as statuses; they cross the engine as
// the exception they stand for, and the parse native turns them back.
void eval_paren(const Cell& paren, Cell& result) {
    stack::mark_body(stack::kind_bits(stack::kind::native) | stack::bits::interp);
    stack::Status st = interp::eval_block(paren, true);
    stack::raise_status(st);
    stack::unwind();
    result = stack::s.top[-1];
    stack::pop(1);
}

bool call_callback(const Cell& callback, const Cell* args) {
    stack::mark(g_callback_symbol, 0, stack::kind_bits(stack::kind::native));
    stack::Status st = interp::call(callback, args, 5);
    stack::raise_status(st);
    bool go_on = is_truthy(stack::s.top[-1]);
    stack::unwind_drop();
    return go_on;
}

Cell word_of(uint32_t symbol) { return context::add_global(symbol, false, false); }

int32_t scan_token(const uint8_t* bytes, uint32_t length, uint32_t* consumed) {
    lexer::ScanRequest req;
    req.one = true;
    req.wrap = false;  // check the token, build nothing
    Cell result = none_cell();
    collector::Root keep(result);
    return lexer::scan(&result, bytes, length, req, consumed);
}

}  // namespace

void install_runtime_hooks() {
    g_callback_symbol = symbol::make("<parse-callback>");
    Hooks h;
    h.get_word = get_word;
    h.set_word = set_word;
    h.eval_paren = eval_paren;
    h.call_callback = call_callback;
    h.scan_token = scan_token;
    h.word_of = word_of;
    set_hooks(h);
}

}  // namespace zan::parse
