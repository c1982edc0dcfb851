// The runtime's own symbols and words, made once at start-up, and small
// services that compiled and interpreted code share (argument checks, finding
// a switch case).
//
// Other parts of the runtime compare symbols against these (parse keywords,
// event and date fields, object keywords) and report through these words
// (series-change names, trace and lexer events, callback frame names).
#pragma once

#include <cstdint>

#include "runtime/cell.h"

// X(identifier, spelling)
#define ZAN_RUNTIME_SYMBOLS(X) \
    X(spec, "spec") \
    X(body, "body") \
    X(words, "words") \
    X(class_, "class") \
    X(logic_t, "logic!") \
    X(integer_t, "integer!") \
    X(char_t, "char!") \
    X(float_t, "float!") \
    X(percent_t, "percent!") \
    X(any_type_t, "any-type!") \
    X(exit_, "exit") \
    X(return_, "return") \
    X(windows, "Windows") \
    X(syllable, "Syllable") \
    X(macOS, "macOS") \
    X(linux, "Linux") \
    X(netbsd, "NetBSD") \
    X(repeat, "repeat") \
    X(foreach, "foreach") \
    X(map_each, "map-each") \
    X(remove_each, "remove-each") \
    X(any, "any") \
    X(break_, "break") \
    X(copy, "copy") \
    X(end, "end") \
    X(fail, "fail") \
    X(into, "into") \
    X(opt, "opt") \
    X(not_, "not") \
    X(quote, "quote") \
    X(case_, "case") \
    X(reject, "reject") \
    X(set, "set") \
    X(skip, "skip") \
    X(some, "some") \
    X(thru, "thru") \
    X(to, "to") \
    X(none, "none") \
    X(bar, "|") \
    X(minus, "-") \
    X(if_, "if") \
    X(remove, "remove") \
    X(while_, "while") \
    X(insert, "insert") \
    X(only, "only") \
    X(collect, "collect") \
    X(keep, "keep") \
    X(pick, "pick") \
    X(ahead, "ahead") \
    X(after, "after") \
    X(x, "x") \
    X(y, "y") \
    X(z, "z") \
    X(self, "self") \
    X(values, "values") \
    X(owner, "owner") \
    X(owned, "owned") \
    X(events_q, "events?") \
    X(true_, "true") \
    X(false_, "false") \
    X(yes, "yes") \
    X(no, "no") \
    X(on, "on") \
    X(off, "off") \
    X(type, "type") \
    X(face, "face") \
    X(window, "window") \
    X(offset, "offset") \
    X(key, "key") \
    X(flag, "flag") \
    X(code, "code") \
    X(picked, "picked") \
    X(flags, "flags") \
    X(away_q, "away?") \
    X(ctrl_q, "ctrl?") \
    X(shift_q, "shift?") \
    X(down_q, "down?") \
    X(mid_down_q, "mid-down?") \
    X(alt_down_q, "alt-down?") \
    X(aux_down_q, "aux-down?") \
    X(orientation, "orientation") \
    X(get, "get") \
    X(put, "put") \
    X(post, "post") \
    X(head, "head") \
    X(size, "size") \
    X(rgb, "rgb") \
    X(alpha, "alpha") \
    X(argb, "argb") \
    X(date, "date") \
    X(year, "year") \
    X(month, "month") \
    X(day, "day") \
    X(zone, "zone") \
    X(isoweek, "isoweek") \
    X(week, "week") \
    X(weekday, "weekday") \
    X(yearday, "yearday") \
    X(julian, "julian") \
    X(time, "time") \
    X(hour, "hour") \
    X(minute, "minute") \
    X(second, "second") \
    X(timezone, "timezone") \
    X(amount, "amount") \
    X(user, "user") \
    X(host, "host") \
    X(system, "system") \
    X(system_global, "system-global") \
    X(stack, "stack") \
    X(trace, "trace") \
    X(no_trace, "no-trace")


// X(identifier, spelling)
#define ZAN_RUNTIME_WORDS(X) \
    X(at, "at") \
    X(back, "back") \
    X(find, "find") \
    X(head, "head") \
    X(head_q, "head?") \
    X(index_q, "index?") \
    X(length_q, "length?") \
    X(next, "next") \
    X(pick, "pick") \
    X(skip, "skip") \
    X(select, "select") \
    X(tail, "tail") \
    X(tail_q, "tail?") \
    X(change, "change") \
    X(changed, "changed") \
    X(clear, "clear") \
    X(cleared, "cleared") \
    X(set_path, "set-path") \
    X(append, "append") \
    X(appended, "appended") \
    X(move, "move") \
    X(moved, "moved") \
    X(poke, "poke") \
    X(poked, "poked") \
    X(put, "put") \
    X(put_ed, "put-ed") \
    X(removed, "removed") \
    X(random, "random") \
    X(randomized, "randomized") \
    X(reverse, "reverse") \
    X(reversed, "reversed") \
    X(sort, "sort") \
    X(sorted, "sorted") \
    X(swap, "swap") \
    X(swaped, "swaped") \
    X(take, "take") \
    X(taken, "taken") \
    X(trim, "trim") \
    X(trimmed, "trimmed") \
    X(inserted, "inserted") \
    X(uppercase, "uppercase") \
    X(lowercase, "lowercase") \
    X(checksum, "checksum") \
    X(push, "push") \
    X(pop, "pop") \
    X(fetch, "fetch") \
    X(match, "match") \
    X(iterate, "iterate") \
    X(paren, "paren") \
    X(anon_frame, "<anon>") \
    X(body_frame, "<body>") \
    X(not_found_frame, "<not-found>") \
    X(add, "add") \
    X(subtract, "subtract") \
    X(divide, "divide") \
    X(on_parse_event, "on-parse-event") \
    X(on_change_star, "on-change*") \
    X(on_deep_change_star, "on-deep-change*") \
    X(type, "type") \
    X(id, "id") \
    X(try_, "try") \
    X(catch_, "catch") \
    X(name, "name") \
    X(multiply, "multiply") \
    X(browse, "browse") \
    X(open, "open") \
    X(create, "create") \
    X(close, "close") \
    X(delete_, "delete") \
    X(modify, "modify") \
    X(query, "query") \
    X(read, "read") \
    X(rename, "rename") \
    X(update, "update") \
    X(write, "write") \
    X(prescan, "prescan") \
    X(scan, "scan") \
    X(load, "load") \
    X(error, "error") \
    X(comment, "comment") \
    X(init, "init") \
    X(exec, "exec") \
    X(call, "call") \
    X(return_, "return") \
    X(enter, "enter") \
    X(exit_, "exit") \
    X(prolog, "prolog") \
    X(epilog, "epilog") \
    X(throw_, "throw") \
    X(expr, "expr") \
    X(interp_callback_frame, "<interp-callback>") \
    X(lexer_callback_frame, "<lexer-callback>") \
    X(parse_callback_frame, "<parse-callback>") \
    X(compare_callback_frame, "<compare-callback>") \
    X(note, "note") \
    X(syntax, "syntax") \
    X(script, "script") \
    X(math, "math") \
    X(access, "access") \
    X(user, "user") \
    X(internal, "internal") \
    X(invalid_error, "invalid-error") \
    X(local, "local") \
    X(applied_frame, "<applied>")

namespace zan::runtime_words {

enum class Sym : uint16_t {
#define ZAN_SYM_ENUM(id, text) id,
    ZAN_RUNTIME_SYMBOLS(ZAN_SYM_ENUM)
#undef ZAN_SYM_ENUM
    count_
};

enum class Word : uint16_t {
#define ZAN_WORD_ENUM(id, text) id,
    ZAN_RUNTIME_WORDS(ZAN_WORD_ENUM)
#undef ZAN_WORD_ENUM
    count_
};

// The refinements that errors about a bad /part, /skip or /compare name.
enum class Refinement : uint8_t { local, extern_, compare, part, skip, with, count_ };

// Start-up, right after the type-name words: interns the symbols and makes
// the global words, then the refinements, then the issue.
void init_words();
void init_refinement_words();
void init_issue_words();

// The id of a runtime symbol.
uint32_t symbol(Sym s);

// A runtime word (a global word!), refinement, or the issue #ooo.
const Cell& word(Word w);
const Cell& refinement(Refinement r);
const Cell& issue_ooo();

// The spelling of a runtime symbol or word.
const char* spelling(Sym s);
const char* spelling(Word w);

}  // namespace zan::runtime_words

namespace zan::interp {

// Checks of compiled functions' arguments (base: the argument cells; position:
// the argument's place in the spec, for the error). A value whose type is not
// in the typeset raises expect-arg naming the function, the type and the
// argument; the checked value is answered.
const Cell& check_arg_type(const Cell& typeset, int position, const Cell& value);
// A negative index is an absent refinement argument: not checked.
void check_arg_type_at(const Cell* base, int32_t index, const Cell& typeset, int position);
// Checks only when the refinement cell is true.
void check_arg_type_opt(const Cell& refinement, const Cell& typeset, int position,
                        const Cell& value);
void check_unset(int position, const Cell& value);
// A used refinement makes its logic cell at index true; an unused one makes
// its count arguments after it none.
void init_refinements(Cell* base, const Cell& refinement, int32_t index, int32_t count);

// Searches a cases block for a value: a case matches when it has the value's
// type and is equal to it (so 1 never matches 1.0); a block value matches
// nothing. Interpreted cases are read one cell at a time, compiled ones
// alternate value and branch marker. With to_block the answer is the first
// block after the match, else the cell after it (the match itself when it is
// the last). No match, or no block after it, answers none.
Cell switch_find(const Cell& value, const Cell& cases, bool interpreted, bool to_block);

}  // namespace zan::interp
