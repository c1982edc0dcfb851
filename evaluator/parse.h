// The parse dialect engine: matches an input series against a rule block.
//
// One loop driven by a state variable walks the rules; nothing recurses in
// C++. Two engine-wide block! series carry the work: the input stack (one
// series value per `into` level) and the rule stack (a frame per sub-rule
// block being walked and per keyword waiting for the rule it governs). A
// parse started from a paren inside another parse works above the entries
// of the outer one and cuts both stacks back to where it found them when it
// ends, also when an error or a throw passes through it.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/errors.h"

namespace zan::parse {

// Error ids of the engine (script category).
namespace id {
constexpr errors::Id rule{errors::Category::script, 67};
constexpr errors::Id end{errors::Category::script, 68};
constexpr errors::Id invalid_ref{errors::Category::script, 69};
constexpr errors::Id block{errors::Category::script, 70};
constexpr errors::Id unsupported{errors::Category::script, 71};
constexpr errors::Id infinite{errors::Category::script, 72};
constexpr errors::Id stack{errors::Category::script, 73};
constexpr errors::Id keep{errors::Category::script, 74};
constexpr errors::Id into_bad{errors::Category::script, 75};
constexpr errors::Id into_type{errors::Category::script, 76};
}  // namespace id

// Cells each stack may hold.
constexpr uint32_t stack_limit = 10000;

// What the engine asks of the rest of the runtime: contexts, interpreter and
// lexer (parse_hooks.cpp, installed by init); tests set their own.
struct Hooks {
    // The value of a word (unset when it has none; the engine reports that).
    Cell (*get_word)(const Cell& word) = nullptr;
    void (*set_word)(const Cell& word, const Cell& value) = nullptr;
    // Evaluates a paren and writes its value into result. Errors and
    // non-local exits leave as exceptions (stack::raise_status).
    void (*eval_paren)(const Cell& paren, Cell& result) = nullptr;
    // Calls the trace callback under a frame named <parse-callback> with the
    // five arguments (event word, match logic!, rules, input, rule stack)
    // (a copy of this parse's frames) and answers its result as a condition.
    bool (*call_callback)(const Cell& callback, const Cell* args) = nullptr;
    // The word for a symbol handed to the trace callback (the event names);
    // without it the word is left unbound.
    Cell (*word_of)(uint32_t symbol) = nullptr;
    // Scans the next token of UTF-8 bytes (one value, scan mode) and answers
    // its type id (0 for none, 34 when malformed) and the bytes consumed.
    int32_t (*scan_token)(const uint8_t* bytes, uint32_t length, uint32_t* consumed) = nullptr;
};
void set_hooks(const Hooks& hooks);
const Hooks& hooks();

// Makes the two stacks and interns the keywords. Safe to call again.
void init();

// The engine: true when the rules matched and the input stands at its tail
// (or at the part limit, an absolute index; below 0 for none). A top-level
// `collect` without a target makes the collected block the result instead.
Cell engine(const Cell& input, const Cell& rules, bool case_, int32_t limit, const Cell* callback);

// The parse native's work after its type checks: /case, /part (an integer
// length or a position in the same series) and /trace (null when absent).
Cell run(const Cell& input, const Cell& rules, bool case_, const Cell* part, const Cell* callback);

// The hooks of the running system (contexts, interpreter, lexer); init
// installs them when no hooks were set before.
void install_runtime_hooks();

// The entry routine of the parse native (natives-table convention: the
// operands from the argument base, one integer per refinement, -1 when
// absent; the result in the result slot; a status answered).
uint32_t native(int32_t check, const int32_t* refinements);

// Cells in use on the two stacks (for tests: both are back to 0 after a parse).
uint32_t rule_depth();
uint32_t input_depth();

}  // namespace zan::parse
