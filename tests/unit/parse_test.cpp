// The parse engine over block, string and binary input.
//
// Rules and block inputs are written as source text and read by a small
// reader kept here; words get their values from a table of this file, and
// parens are run by a tiny evaluator that knows literals, words, set-words
// and a few test functions. Each case checks the result (shown as source),
// the words the rules set, and that both engine stacks are empty afterwards.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "evaluator/parse.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/unwind.h"

namespace {

using namespace zan;

// --- words, parens and the callback ----------------------------------------------------

std::unordered_map<uint32_t, Cell> g_words;
int g_bumps = 0;
std::vector<std::string> g_events;
int g_stop_after = -1;  // the callback answers false at this event (0-based)
bool g_clear_frames = false;  // the callback empties the frames it is given

void mark_words() {
    for (auto& [k, v] : g_words) collector::mark_cell(v);
}
uint32_t key_of(const Cell& w) { return symbol::resolve(word_symbol(w)); }
uint32_t key_of(const char* name) { return symbol::resolve(symbol::make(name)); }

Cell get_word(const Cell& w) {
    auto it = g_words.find(key_of(w));
    return it == g_words.end() ? unset_cell() : it->second;
}
void set_word(const Cell& w, const Cell& v) { g_words[key_of(w)] = v; }
Cell value_of(const char* name) {
    auto it = g_words.find(key_of(name));
    return it == g_words.end() ? unset_cell() : it->second;
}

Cell* cells_of(const Cell& b) { return memory::buffer(series_node(b))->cells(); }
uint32_t length_of(const Cell& b) { return memory::buffer(series_node(b))->length(); }

Cell resolve(const Cell& v) { return is(v, Type::word) ? get_word(v) : v; }

// A set-word assigns what follows it; a word naming a test function calls it
// with the values after it; otherwise the paren's last value (words resolved).
Cell eval_from(const Cell& paren, uint32_t i) {
    uint32_t n = length_of(paren);
    if (i >= n) return unset_cell();
    Cell v = cells_of(paren)[i];
    if (is(v, Type::set_word)) {
        Cell val = eval_from(paren, i + 1);
        set_word(v, val);
        return val;
    }
    if (is(v, Type::word)) {
        std::string name(symbol::name(word_symbol(v)));
        if (name == "bump") {
            g_bumps++;
            return unset_cell();
        }
        if (name == "boom") errors::fire(errors::id::invalid_data);
        if (name == "cut") {  // empties the input behind the engine's back
            Cell in = get_word(make_cell(Type::word, 0, symbol::make("input"), uint32_t(-1)));
            memory::Series* b = memory::buffer(series_node(in));
            b->tail = b->head;
            return unset_cell();
        }
        if (name == "nested-parse") {
            Cell input = resolve(cells_of(paren)[i + 1]);
            Cell rules = cells_of(paren)[i + 2];
            collector::Root r0(input), r1(rules);
            uint32_t before = parse::rule_depth();
            Cell result = parse::run(input, rules, false, nullptr, nullptr);
            EXPECT_EQ(parse::rule_depth(), before);
            return result;
        }
    }
    return i + 1 < n ? eval_from(paren, i + 1) : resolve(v);
}

void eval_paren(const Cell& paren, Cell& result) { result = eval_from(paren, series_index(paren)); }

// Stands in for the lexer's one-token scan: blanks, then digits (integer!),
// letters (word!) or anything else (malformed).
int32_t scan_token(const uint8_t* bytes, uint32_t length, uint32_t* consumed) {
    uint32_t i = 0;
    while (i < length && bytes[i] == ' ') i++;
    uint32_t start = i;
    if (i == length) return *consumed = i, 0;
    if (isdigit(bytes[i])) {
        while (i < length && isdigit(bytes[i])) i++;
        *consumed = i;
        return int32_t(Type::integer);
    }
    if (isalpha(bytes[i])) {
        while (i < length && isalpha(bytes[i])) i++;
        *consumed = i;
        return int32_t(Type::word);
    }
    *consumed = start + 1;
    return int32_t(Type::error);
}

std::string show(const Cell& c);

bool callback(const Cell&, const Cell* args) {
    std::string e(symbol::name(word_symbol(args[0])));
    EXPECT_TRUE(is(args[1], Type::logic));
    EXPECT_TRUE(is(args[2], Type::block) || is(args[2], Type::none));
    EXPECT_TRUE(is(args[4], Type::block));
    g_events.push_back(e + (logic_of(args[1]) ? "+" : "-"));
    if (g_clear_frames) {
        memory::Series* b = memory::buffer(series_node(args[4]));
        b->tail = b->head;
    }
    return g_stop_after < 0 || int(g_events.size()) <= g_stop_after;
}

// --- reading source text --------------------------------------------------------------------

Cell make_text(std::string_view text, Type t = Type::string) {
    Node n = string::make_buffer(uint32_t(text.size()) + 1);
    collector::NodeRoot keep(n);
    string::append_utf8(n, text);
    return string::make_cell(n, 0, t);
}

Cell make_binary(const std::vector<uint8_t>& bytes) {
    Node n = memory::alloc_series(uint32_t(bytes.size()) + 1, 1);
    memory::Series* s = memory::buffer(n);
    if (!bytes.empty()) std::memcpy(s->at_head(), bytes.data(), bytes.size());
    s->tail = s->head + uint32_t(bytes.size());
    return series_cell(Type::binary, n);
}

Cell make_bitset(std::string_view chars) {
    Node n = memory::alloc_series(32, 1);
    memory::Series* s = memory::buffer(n);
    std::memset(s->at_head(), 0, 32);
    s->tail = s->head + 32;
    for (unsigned char ch : chars) reinterpret_cast<uint8_t*>(s->at_head())[ch >> 3] |= uint8_t(0x80 >> (ch & 7));
    return bitset::make_cell(n);
}

const std::pair<const char*, Type> type_names[] = {
    {"integer!", Type::integer}, {"string!", Type::string}, {"word!", Type::word},
    {"block!", Type::block},     {"char!", Type::char_},    {"paren!", Type::paren},
    {"none!", Type::none},       {"logic!", Type::logic},   {"float!", Type::float_},
    {"set-word!", Type::set_word}, {"binary!", Type::binary}, {"tag!", Type::tag},
};

uint32_t utf8_next(const char*& p) {
    auto b = uint8_t(*p++);
    if (b < 0x80) return b;
    int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : 1;
    uint32_t cp = b & (0x3F >> extra);
    while (extra--) cp = cp << 6 | (uint8_t(*p++) & 0x3F);
    return cp;
}

struct Reader {
    const char* p;

    static bool delimiter(char c) { return !c || strchr(" \t\n[]()\"", c); }

    Cell block(char close, Type t) {
        Cell b;
        collector::Root keep(b);
        block::make_at(b, 4);
        for (;;) {
            while (*p == ' ' || *p == '\n' || *p == '\t') p++;
            if (!*p || *p == close) {
                if (*p) p++;
                set_type(b, t);
                return b;
            }
            Cell v = value();
            collector::Root kv(v);
            block::rs_append(b, v);
        }
    }

    Cell value() {
        if (*p == '[') return p++, block(']', Type::block);
        if (*p == '(') return p++, block(')', Type::paren);
        if (*p == '"') {
            const char* s = ++p;
            while (*p && *p != '"') p++;
            std::string text(s, p);
            if (*p) p++;
            return make_text(text);
        }
        if (*p == '<' && p[1] != ' ' && p[1] != '=') {
            const char* s = ++p;
            while (*p && *p != '>') p++;
            std::string text(s, p);
            if (*p) p++;
            return make_text(text, Type::tag);
        }
        if (p[0] == '#' && p[1] == '"') {
            p += 2;
            uint32_t cp = utf8_next(p);
            if (*p == '"') p++;
            return char_cell(cp);
        }
        if (p[0] == '#' && p[1] == '{') {
            p += 2;
            std::vector<uint8_t> bytes;
            while (*p && *p != '}') {
                bytes.push_back(uint8_t(std::stoi(std::string(p, 2), nullptr, 16)));
                p += 2;
            }
            if (*p) p++;
            return make_binary(bytes);
        }
        const char* s = p;
        while (!delimiter(*p)) p++;
        std::string tok(s, p);
        if ((isdigit(uint8_t(tok[0])) || (tok[0] == '-' && tok.size() > 1)) &&
            tok.find_first_not_of("-0123456789") == std::string::npos)
            return integer_cell(std::stoi(tok));
        for (auto& [name, t] : type_names)
            if (tok == name) return datatype_cell(t);
        Type t = Type::word;
        if (tok[0] == '\'') t = Type::lit_word, tok.erase(0, 1);
        else if (tok[0] == ':') t = Type::get_word, tok.erase(0, 1);
        else if (tok.size() > 1 && tok.back() == ':') t = Type::set_word, tok.pop_back();
        return make_cell(t, 0, symbol::make(tok), uint32_t(-1));
    }
};

Cell read(const char* text) {
    Reader r{text};
    return r.block('\0', Type::block);
}

// --- showing values as source -------------------------------------------------------------

std::string utf8(uint32_t cp) {
    std::string out;
    if (cp < 0x80) out.push_back(char(cp));
    else if (cp < 0x800) out += {char(0xC0 | cp >> 6), char(0x80 | (cp & 0x3F))};
    else out += {char(0xE0 | cp >> 12), char(0x80 | (cp >> 6 & 0x3F)), char(0x80 | (cp & 0x3F))};
    return out;
}

std::string show(const Cell& c) {
    Type t = type_of(c);
    switch (t) {
        case Type::integer: return std::to_string(int_of(c));
        case Type::char_: return "#\"" + utf8(c.w2) + "\"";
        case Type::none: return "none";
        case Type::unset: return "unset";
        case Type::logic: return logic_of(c) ? "true" : "false";
        case Type::word: return std::string(symbol::name(word_symbol(c)));
        case Type::lit_word: return "'" + std::string(symbol::name(word_symbol(c)));
        case Type::set_word: return std::string(symbol::name(word_symbol(c))) + ":";
        case Type::get_word: return ":" + std::string(symbol::name(word_symbol(c)));
        case Type::datatype:
            for (auto& [name, ty] : type_names)
                if (ty == Type(c.w1)) return name;
            return "datatype?";
        case Type::binary: {
            std::string out = "#{";
            memory::Series* s = memory::buffer(series_node(c));
            static const char hex[] = "0123456789ABCDEF";
            for (uint32_t i = series_index(c); i < s->length(); i++) {
                auto b = uint8_t(s->at_head()[i]);
                out += {hex[b >> 4], hex[b & 15]};
            }
            return out + "}";
        }
        case Type::block:
        case Type::paren: {
            std::string out = t == Type::block ? "[" : "(";
            for (uint32_t i = series_index(c); i < length_of(c); i++) {
                if (i > series_index(c)) out += " ";
                out += show(cells_of(c)[i]);
            }
            return out + (t == Type::block ? "]" : ")");
        }
        default:
            if (series::is_string_like(t)) {
                std::string out;
                for (uint32_t i = series_index(c); i < string::buffer_length(series_node(c)); i++)
                    out += utf8(string::char_at(series_node(c), i));
                return t == Type::tag ? "<" + out + ">" : "\"" + out + "\"";
            }
            return "?";
    }
}

const std::pair<const char*, errors::Id> error_names[] = {
    {"parse-rule", parse::id::rule},         {"parse-end", parse::id::end},
    {"parse-invalid-ref", parse::id::invalid_ref}, {"parse-block", parse::id::block},
    {"parse-unsupported", parse::id::unsupported}, {"parse-infinite", parse::id::infinite},
    {"parse-stack", parse::id::stack},       {"parse-keep", parse::id::keep},
    {"parse-into-bad", parse::id::into_bad}, {"parse-into-type", parse::id::into_type},
    {"no-value", errors::id::no_value},      {"invalid-data", errors::id::invalid_data},
    {"invalid-refine-arg", errors::id::invalid_refine_arg}, {"expect-arg", errors::id::expect_arg},
};
std::string error_name(errors::Id id) {
    for (auto& [name, e] : error_names)
        if (e == id) return name;
    return "error " + std::to_string(id.code());
}

// --- the fixture ------------------------------------------------------------------------------

class Parse : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        memory::init();
        datatype::register_all();
        if (!is(block::root(), Type::block)) block::init_root();
        symbol::make_table();
        stack::init();
        collector::set_enabled(true);
        static bool registered = false;
        if (!registered) {
            collector::register_marker(mark_words);
            registered = true;
        }
        parse::init();
    }
    void SetUp() override {
        parse::Hooks h;
        h.get_word = get_word;
        h.set_word = set_word;
        h.eval_paren = eval_paren;
        h.call_callback = callback;
        h.scan_token = scan_token;
        parse::set_hooks(h);
        g_words.clear();
        g_bumps = 0;
        g_events.clear();
        g_stop_after = -1;
        g_clear_frames = false;
        preset("true", logic_cell(true));
        preset("false", logic_cell(false));
        preset("digit", make_bitset("0123456789"));
        preset("alpha", make_bitset("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"));
        preset("space", make_bitset(" \t\n"));
    }
    void TearDown() override { memory::set_gc_stress(0); }

    static void preset(const char* name, const Cell& v) {
        Cell c = v;
        collector::Root keep(c);  // interning the name may collect
        uint32_t k = key_of(name);
        g_words[k] = c;
    }

    // Input text: a block when it starts with "[", a binary with "#{", else a string.
    static Cell input_of(const char* text) {
        if (text[0] == '[') return cells_of(read(text))[0];
        if (text[0] == '#' && text[1] == '{') return cells_of(read(text))[0];
        return make_text(text);
    }

    // The result shown as source, or "error:<id>".
    static std::string run(const char* input, const char* rules, bool case_ = false,
                           const Cell* part = nullptr, bool trace = false) {
        Cell in = input_of(input);
        collector::Root r0(in);
        preset("input", in);
        Cell r = cells_of(read((std::string("[") + rules + "]").c_str()))[0];
        collector::Root r1(r);
        Cell cb = integer_cell(1);
        std::string out;
        try {
            Cell res = parse::run(in, r, case_, part, trace ? &cb : nullptr);
            out = show(res);
        } catch (const unwind::Thrown& t) {
            EXPECT_EQ(t.code, uint32_t(unwind::error));
            out = "error:" + error_name(errors::pending_id());
        }
        EXPECT_EQ(parse::rule_depth(), 0u) << rules;
        EXPECT_EQ(parse::input_depth(), 0u) << rules;
        return out;
    }

    // "x=value; y=value" against the words' values.
    static void check_words(const char* spec, const char* rules) {
        std::string s = spec;
        size_t at = 0;
        while (at < s.size()) {
            size_t end = s.find("; ", at);
            if (end == std::string::npos) end = s.size();
            std::string item = s.substr(at, end - at);
            size_t eq = item.find('=');
            std::string name = item.substr(0, eq), want = item.substr(eq + 1);
            EXPECT_EQ(show(value_of(name.c_str())), want) << rules << " word " << name;
            at = end + 2;
        }
    }
};

struct Case {
    const char* input;
    const char* rules;
    const char* expect;
    const char* words = "";
};

void run_table(const std::vector<Case>& cases, bool case_ = false) {
    for (const Case& c : cases) {
        g_words.erase(key_of("x"));
        g_words.erase(key_of("y"));
        std::string got = [&] {
            struct Access : Parse {
                using Parse::check_words;
                using Parse::run;
            };
            std::string r = Access::run(c.input, c.rules, case_);
            if (*c.words) Access::check_words(c.words, c.rules);
            return r;
        }();
        EXPECT_EQ(got, c.expect) << "parse " << c.input << " [" << c.rules << "]";
    }
}

// --- cases ----------------------------------------------------------------------------------------

const std::vector<Case> sequences_and_alternatives = {
    {"abc", R"("a" "b" "c")", "true"},
    {"abc", R"("abc")", "true"},
    {"abc", R"("ab")", "false"},
    {"abc", R"("a" "c" | "ab" "c")", "true"},
    {"abc", R"(["x" | "a"] ["b" "c" | "q"])", "true"},
    {"abc", R"("x" | "y")", "false"},
    {"ABC", R"("abc")", "true"},
    {"abc", R"(#"a" #"B" #"c")", "true"},
    {"", R"()", "true"},
    {"", R"("")", "true"},
    {"a", R"("" "a" "")", "true"},
    {"a", R"()", "false"},
    {"<b>x", R"(<b> "x")", "true"},
    {"<b>x", R"("b" "x")", "false"},
    {"a1", R"(alpha digit)", "true"},
    {"1a", R"(alpha digit)", "false"},
    {"abc", R"("a" | )", "error:parse-end"},
    {"ab", R"("x" | "y" | )", "error:parse-end"},
    {"ab", R"("a" "b" | "x")", "true"},
    {"xb", R"(["a" | "x"] "b")", "true"},
    {"abc", R"(skip skip skip end)", "true"},
    {"ab", R"(skip skip skip)", "false"},
    {"ab", R"(none "ab" none end)", "true"},
    {"ab", R"("a" fail | "ab")", "true"},
    {"ab", R"(["a" fail | "a"] "b")", "true"},
    {"ab", R"(word)", "error:no-value"},
    {"ab", R"(after)", "error:parse-rule"},
};

const std::vector<Case> repetitions = {
    {"aaa", R"(any "a")", "true"},
    {"", R"(any "a")", "true"},
    {"", R"(opt #"a")", "true"},
    {"", R"(0 2 "a")", "true"},
    {"", R"(some "a")", "false"},
    {"aaa", R"(some "a")", "true"},
    {"aab", R"(some "a" "b")", "true"},
    {"aaa", R"(3 "a")", "true"},
    {"aa", R"(3 "a")", "false"},
    {"aaaa", R"(3 "a")", "false"},
    {"aaaa", R"(2 4 "a")", "true"},
    {"a", R"(2 4 "a")", "false"},
    {"aaaaa", R"(2 4 "a")", "false"},
    {"aaaa", R"(2 4 "a" end)", "true"},
    {"ab", R"(opt "a" opt "x" "b")", "true"},
    {"abab", R"(some ["a" "b"])", "true"},
    {"abab", R"(2 ["a" "b"])", "true"},
    {"ababa", R"(some ["a" "b"] "a")", "true"},
    {"aba", R"(2 ["a" "b"] "a")", "false"},
    {"aaa", R"(some [#"a"])", "true"},
    {"a1b2", R"(some [alpha digit])", "true"},
    {"12ab", R"(some digit some alpha)", "true"},
    {"AaA", R"(some #"a")", "true"},
    {"xyxy", R"(any "xy")", "true"},
    {"xyx", R"(any "xy")", "false"},
    {"", R"(any [opt "a"])", "true"},
    {"aaa", R"(any [opt "a"])", "true"},
    {"ab", R"(some [opt "a" opt "b"])", "true"},
    {"aaa", R"(while "a")", "true"},
    {"aaab", R"(while [not "b" skip] "b")", "true"},
    {"aaab", R"(while "a" "b")", "true"},
    {"aa", R"(any)", "error:parse-end"},
    {"aa", R"(some)", "error:parse-end"},
    {"aa", R"(opt)", "error:parse-end"},
    {"aa", R"("a" any | "b")", "error:parse-end"},
    {"aa", R"(2)", "error:parse-end"},
    {"aa", R"(3 1 "a")", "error:parse-rule"},
    {"aaa", R"(any ["a" break] "aa")", "true"},
    {"aab", R"(some ["a" | break] "b")", "true"},
    {"aaa", R"(any ["a" reject] "aaa")", "false"},
    {"aa", R"(any [reject] "aa")", "false"},
    {"ab", R"(["a" break "x"] "b")", "true"},
};

const std::vector<Case> searching = {
    {"abc", R"(copy x to "c" skip)", "true", R"(x="ab")"},
    {"abcabc", R"(thru "ca" copy x to end)", "true", R"(x="bc")"},
    {"abc", R"(to #"c" "c")", "true"},
    {"aBc", R"(thru #"b" "c")", "true"},
    {"aBc", R"(to "x")", "false"},
    {"abc", R"(to end)", "true"},
    {"abc", R"(thru end)", "true"},
    {"a1b", R"(to digit x: skip "b")", "true", R"(x="1b")"},
    {"a1b", R"(thru digit "b")", "true"},
    {"abcd", R"(to ["c" | "b"] "bcd")", "true"},
    {"abcd", R"(thru ["x" | "c"] "d")", "true"},
    {"abcd", R"(to ["x" | "y"])", "false"},
    {"abcd", R"(to [end])", "true"},
    {"abcd", R"(to <x>)", "false"},
    {"a<x>b", R"(thru <x> "b")", "true"},
    {"abc", R"(to)", "error:parse-end"},
};

const std::vector<Case> captures = {
    {"abc", R"(copy x 2 skip copy y skip)", "true", R"(x="ab"; y="c")"},
    {"abc", R"(copy x "" "abc")", "true", R"(x="")"},
    {"abc", R"(set x skip set y to end)", "true", R"(x=#"a"; y=#"b")"},
    {"abc", R"("abc" set x [none])", "true", R"(x=none)"},
    {"abc", R"(copy x [skip "q"] | "abc")", "true", R"(x=unset)"},
    {"abc", R"(copy "x" skip)", "error:parse-rule"},
    {"abc", R"(copy x)", "error:parse-end"},
    {"abc", R"(set 1 skip)", "error:parse-rule"},
    {"abc", R"(skip x: skip :x y: "bc")", "true", R"(x="bc"; y="bc")"},
    {"abc", R"(:input skip)", "false"},
    {"abc", R"((x: "q") :x)", "error:parse-invalid-ref"},
};

const std::vector<Case> lookahead_and_logic = {
    {"ab", R"(not "b" "ab")", "true"},
    {"ab", R"(not "a" "ab")", "false"},
    {"ab", R"(ahead "ab" "a" "b")", "true"},
    {"ab", R"(ahead "b")", "false"},
    {"ab", R"(if (true) "ab")", "true"},
    {"ab", R"(if (false) "ab" | "a" "b")", "true"},
    {"ab", R"(if "ab")", "error:parse-rule"},
    {"ab", R"(quote "ab")", "true"},
    {"ab", R"(x: "ab" (x: 1))", "true", R"(x=1)"},
    {"ab", R"(case true "AB")", "false"},
    {"ab", R"(case false "AB")", "true"},
    {"ab", R"(case true "ab" "")", "true"},
    {"ab", R"(case "x" "ab")", "error:parse-rule"},
};

const std::vector<Case> blocks = {
    {"[1 2 3]", R"(1 1 2 3)", "error:parse-end"},
    {"[1 2 3]", R"(quote 1 quote 2 quote 3)", "true"},
    {"[1 2 3]", R"(some integer!)", "true"},
    {"[1 x 3]", R"(some integer!)", "false"},
    {"[a b]", R"('a 'b)", "true"},
    {"[a b]", R"('a 'c)", "false"},
    {"[a: b]", R"('a 'b)", "false"},
    {"[a \"s\" #\"c\"]", R"(word! string! char!)", "true"},
    {"[a \"s\" #\"c\"]", R"('a "S" #"c")", "true"},
    {"[[1 2] 3]", R"(into [some integer!] integer!)", "true"},
    {"[[1 x] 3]", R"(into [some integer!] integer!)", "false"},
    {"[[1 2 x] 3]", R"(into [some integer!] integer!)", "false"},
    {"[\"ab\" 3]", R"(into ["a" "b"] integer!)", "true"},
    {"[1 3]", R"(into [integer!])", "false"},
    {"[]", R"(into [])", "false"},
    {"[[1]]", R"(into 1)", "error:parse-rule"},
    {"[1 2 3]", R"(to quote 3 skip)", "true"},
    {"[1 2 3]", R"(thru quote 2 x: skip)", "true", "x=[3]"},
    {"[a b c]", R"(thru 'b copy x to end)", "true", "x=[c]"},
    {"[a b c]", R"(copy x 2 word! set y word!)", "true", "x=[a b]; y=c"},
    {"[a b c]", R"(to string!)", "false"},
    {"[1 \"x\" 3]", R"(thru string! integer!)", "true"},
    {"[1]", R"(any)", "error:parse-end"},
    {"[1 2]", R"(skip x: skip :x integer!)", "true"},
    {"[(1) [2]]", R"(paren! block!)", "true"},
    {"[1]", R"(any)", "error:parse-end"},
    {"[1 2]", R"(set x [none] 2 skip)", "true", "x=none"},
    {"[1 2]", R"(set x 2 skip)", "true", "x=1"},
    {"[1 2]", R"(to end)", "true"},
    {"[a [b c] d]", R"(skip into ['b x: 'c] 'd)", "true", "x=[c]"},
    {"[a [b [c]]]", R"(skip into ['b into ['c]])", "true"},
    {"[a [b [c]]]", R"(skip into ['b into ['x]] | 'a block!)", "true"},
};

const std::vector<Case> collecting = {
    {"a1b2", R"(collect [some [keep alpha | skip]])", "[#\"a\" #\"b\"]"},
    {"ab12", R"(collect [keep some alpha keep some digit])", "[\"ab\" \"12\"]"},
    {"ab12", R"(collect [keep pick some alpha skip skip])", "[#\"a\" #\"b\"]"},
    {"ab", R"(collect [keep (1) keep ([x y]) keep pick ([p q]) skip skip])", "[1 [x y] p q]"},
    {"ab", R"(collect set x [keep skip keep skip])", "true", "x=[#\"a\" #\"b\"]"},
    {"ab", R"(collect [keep skip collect [keep skip]])", "[#\"a\" [#\"b\"]]"},
    {"[1 a 2]", R"(collect [any [keep integer! | skip]])", "[1 2]"},
    {"ab", R"(keep skip)", "error:parse-keep"},
    {"ab", R"(collect into input [skip])", "error:parse-into-type"},
    {"ab", R"(collect into bad [skip])", "error:parse-into-bad"},
    {"ab", R"(collect into true [skip])", "error:parse-into-bad"},
    {"ab", R"(collect)", "error:parse-end"},
    {"[1 [2 3]]", R"(collect [keep skip keep skip])", "[1 [2 3]]"},
    {"[1 2 3]", R"(collect [keep 2 skip keep pick skip])", "[[1 2] 3]"},
    {"[[1 2] [3]]", R"(collect [keep pick block! keep block!])", "[1 2 [3]]"},
    {"[1 2 3]", R"(collect into x [keep 2 skip] skip)", "error:parse-into-bad"},
};

const std::vector<Case> changes = {
    {"[1 2 3]", R"(remove 1 skip 2 skip end)", "true", "input=[2 3]"},
    {"[1 2 3]", R"(remove skip 2 skip end)", "true", "input=[2 3]"},
    {"[1 2 3]", R"(skip remove [integer! integer!] end)", "true", "input=[1]"},
    {"[1 2 3]", R"(skip insert 9 2 skip end)", "true", "input=[1 9 2 3]"},
    {"[1 2 3]", R"(insert only [8 9] 3 skip end)", "true", "input=[[8 9] 1 2 3]"},
    {"[1 2 3]", R"(insert [8 9] 3 skip end)", "true", "input=[8 9 1 2 3]"},
    {"[1 2 3]", R"(change skip 7 2 skip end)", "true", "input=[7 2 3]"},
    {"[1 2 3]", R"(change 2 skip (x: 5) skip end)", "true", "input=[5 3]; x=5"},
    {"[1 2 3]", R"(change only 2 skip [a b] skip end)", "true", "input=[[a b] 3]"},
    {"[1 2 3]", R"(x: 2 skip change x 0 skip end)", "true", "input=[0 3]"},
    {"[1 2 3]", R"(x: 2 skip remove x skip end)", "true", "input=[3]"},
    {"[1 2 3]", R"(skip x: skip insert x 0 skip end)", "true", "input=[1 0 2 3]"},
    {"[1 2 3]", R"(change skip)", "error:parse-end"},
    {"[1 2 3]", R"(change skip undefined-word 2 skip)", "error:parse-rule"},
    {"[1 2 3]", R"(insert)", "error:parse-end"},
    {"abc", R"(remove "a" "bc")", "true", "input=\"bc\""},
    {"abc", R"(remove opt "x" "abc")", "true", "input=\"abc\""},
};

const std::vector<Case> binaries = {
    {"#{010203}", R"(#{01} #{0203})", "true"},
    {"#{616263}", R"("abc")", "true"},
    {"#{616263}", R"("ABC")", "true"},
    {"#{616263}", R"(#"a" some #"b" "c")", "true"},
    {"#{616263}", R"(copy x 2 skip set y skip)", "true", "x=#{6162}; y=99"},
    {"#{616263}", R"(thru #"b" copy x to end)", "true", "x=#{63}"},
    {"#{0000FF}", R"(2 #{00} skip)", "true"},
    {"#{31323334}", R"(some digit)", "true"},
    {"#{}", R"(any #"a")", "true"},
    {"#{3132206162}", R"(integer! word!)", "true"},
    {"#{3132206162}", R"(integer! copy x integer!)", "false"},
    {"#{3132206162}", R"(copy x integer! copy y word!)", "true", "x=#{3132}; y=#{206162}"},
    {"#{3132}", R"(word!)", "false"},
    {"#{2B}", R"(integer!)", "false"},
    {"#{}", R"(integer!)", "false"},
};

TEST_F(Parse, SequencesAndAlternatives) { run_table(sequences_and_alternatives); }
TEST_F(Parse, Repetitions) { run_table(repetitions); }
TEST_F(Parse, ToAndThru) { run_table(searching); }
TEST_F(Parse, CopySetAndPositionWords) { run_table(captures); }
TEST_F(Parse, LookaheadConditionsAndCase) { run_table(lookahead_and_logic); }
TEST_F(Parse, BlockInput) { run_table(blocks); }
TEST_F(Parse, Collect) { run_table(collecting); }
TEST_F(Parse, InsertRemoveChange) { run_table(changes); }
TEST_F(Parse, BinaryInput) { run_table(binaries); }

TEST_F(Parse, CaseRefinement) {
    run_table({
                  {"ABC", R"("abc")", "false"},
                  {"abc", R"("abc")", "true"},
                  {"aA", R"(some #"a")", "false"},
                  {"aA", R"(#"a" #"A")", "true"},
                  {"aBc", R"(thru #"b")", "false"},
                  {"[\"A\"]", R"("a")", "false"},
                  {"abc", R"(case false "ABC")", "true"},
              },
              true);
}

TEST_F(Parse, CollectIntoAndAfterASeries) {
    Cell target = cells_of(read("[a b]"))[0];
    collector::Root r(target);
    target.w1 = 1;
    preset("x", target);
    EXPECT_EQ(run("[1 2 3]", "collect into x [keep skip keep skip] skip"), "true");
    // into leaves the word where it was, after moves it past the new values
    EXPECT_EQ(show(value_of("x")), "[1 2 b]");
    Cell head = value_of("x");
    head.w1 = 0;
    EXPECT_EQ(show(head), "[a 1 2 b]");
    EXPECT_EQ(run("[1 2 3]", "collect after x [keep skip keep skip] skip"), "true");
    EXPECT_EQ(show(value_of("x")), "[1 2 b]");
    head = value_of("x");
    head.w1 = 0;
    EXPECT_EQ(show(head), "[a 1 2 1 2 b]");
}

TEST_F(Parse, StringInputRefusesDatatypes) {
    EXPECT_EQ(run("abc", "string!"), "error:parse-unsupported");
}

TEST_F(Parse, InfiniteRecursionIsCaught) {
    preset("r", cells_of(read("[r]"))[0]);
    EXPECT_EQ(run("a", "r"), "error:parse-infinite");
    preset("r", cells_of(read("[opt \"a\" r]"))[0]);
    EXPECT_EQ(run("aa", "r"), "error:parse-infinite");
    // recursion that consumes input, or shortens it, is fine
    preset("r", cells_of(read("[\"a\" r | \"b\"]"))[0]);
    EXPECT_EQ(run("aaab", "r"), "true");
    preset("r", cells_of(read("[remove \"a\" r | end]"))[0]);
    EXPECT_EQ(run("aaa", "r"), "true");
    EXPECT_EQ(show(value_of("input")), "\"\"");
}

TEST_F(Parse, StackLimit) {
    preset("r", cells_of(read("[\"a\" r | end]"))[0]);
    EXPECT_EQ(run(std::string(2000, 'a').c_str(), "r"), "true");
    EXPECT_EQ(run(std::string(5000, 'a').c_str(), "r"), "error:parse-stack");
}

TEST_F(Parse, ParensRunAndNestedParseLeavesTheStacks) {
    EXPECT_EQ(run("ab", "some [skip (bump)]"), "true");
    EXPECT_EQ(g_bumps, 2);
    EXPECT_EQ(run("ab", R"("a" (x: nested-parse "xyx" [some ["x" | "y"]]) "b")"), "true");
    EXPECT_EQ(show(value_of("x")), "true");
    EXPECT_EQ(run("ab", R"(["a" (x: nested-parse "q" [some "x"])] "b")"), "true");
    EXPECT_EQ(show(value_of("x")), "false");
}

TEST_F(Parse, ErrorsInParensCutTheStacksBack) {
    EXPECT_EQ(run("ab", R"(some ["a" [skip (boom)]])"), "error:invalid-data");
    // the nested parse raises; the outer one goes on to raise too, and both
    // leave the stacks as they found them (checked by run)
    EXPECT_EQ(run("ab", R"(skip (nested-parse "q" [any]) skip)"), "error:parse-end");
    EXPECT_EQ(run("ab", R"(2 skip)"), "true");
}

TEST_F(Parse, Part) {
    Cell two = integer_cell(2);
    EXPECT_EQ(run("abc", R"("ab")", false, &two), "true");
    EXPECT_EQ(run("abc", R"("abc")", false, &two), "false");
    EXPECT_EQ(run("abc", R"(some skip end)", false, &two), "true");
    EXPECT_EQ(run("abc", R"(to end)", false, &two), "true");
    EXPECT_EQ(run("abc", R"(thru "c")", false, &two), "false");
    Cell zero = integer_cell(0);
    EXPECT_EQ(run("abc", R"(to end)", false, &zero), "false");
    EXPECT_EQ(run("", R"()", false, &zero), "true");
    Cell minus = integer_cell(-1);
    EXPECT_EQ(run("abc", R"()", false, &minus), "false");
    // a position in the same series, and one in another
    Cell in = make_text("abcd");
    collector::Root r(in);
    Cell at = in;
    at.w1 = 3;
    Cell rules = cells_of(read("[\"abc\"]"))[0];
    collector::Root rr(rules);
    EXPECT_TRUE(logic_of(parse::run(in, rules, false, &at, nullptr)));
    // past the start, a length of 0 leaves an empty range to match
    Cell from = in;
    from.w1 = 2;
    Cell none_rules = cells_of(read("[[]]"))[0];
    collector::Root rn(none_rules);
    EXPECT_TRUE(logic_of(parse::run(from, none_rules, false, &zero, nullptr)));
    Cell skip_rules = cells_of(read("[[skip]]"))[0];
    collector::Root rs(skip_rules);
    EXPECT_FALSE(logic_of(parse::run(from, skip_rules, false, &zero, nullptr)));
    Cell other = make_text("abcd");
    other.w1 = 3;
    try {
        parse::run(in, rules, false, &other, nullptr);
        ADD_FAILURE() << "no error";
    } catch (const unwind::Thrown&) {
        EXPECT_EQ(errors::pending_id(), errors::id::invalid_refine_arg);
    }
}

TEST_F(Parse, TraceEvents) {
    EXPECT_EQ(run("ab", R"(some "a" "b")", false, nullptr, true), "true");
    std::string all;
    for (auto& e : g_events) all += e + " ";
    EXPECT_EQ(all, "push+ fetch+ match+ fetch+ match+ pop+ end+ ");
    g_events.clear();
    EXPECT_EQ(run("ab", R"(any [skip] ["x" | "b"])", false, nullptr, true), "false");
    all.clear();
    for (auto& e : g_events) all += e + " ";
    EXPECT_EQ(all,
              "push+ fetch+ push+ fetch+ push+ fetch+ match+ pop+ iterate+ fetch+ push+ fetch+ "
              "match+ pop+ iterate+ fetch+ push+ fetch+ match- pop- pop+ fetch+ push+ fetch+ "
              "match- fetch+ match- pop- pop- end- ");
}

TEST_F(Parse, CallbackCanStopTheParse) {
    g_stop_after = 2;
    EXPECT_EQ(run("ab", R"("a" (bump) "b")", false, nullptr, true), "false");
    EXPECT_EQ(g_events.size(), 3u);
    EXPECT_EQ(g_bumps, 0);
}

TEST_F(Parse, CallbackChangingTheFramesItSeesChangesNothing) {
    g_clear_frames = true;
    EXPECT_EQ(run("aab", R"(some ["a" | "x"] copy x "b")", false, nullptr, true), "true");
    EXPECT_EQ(show(value_of("x")), "\"b\"");
}

TEST_F(Parse, InputCutByAParen) {
    run_table({
        {"abc", R"("a" copy x [skip (cut)] "x")", "false", "x=\"\""},
        {"[1 2 3]", R"(skip set x [skip (cut)] end)", "true", "x=none"},
        {"[1 2 3]", R"(skip remove [skip (cut)] end)", "true"},
        {"[1 2 3]", R"(skip change [skip (cut)] 9 end)", "true", "input=[9]"},
        {"abc", R"(some [skip (cut)])", "true"},
        {"[[1 2] 3]", R"(into [skip (cut)] end)", "false"},
        {"[[1 2] 3]", R"(into [2 skip (cut)] end)", "true"},
    });
}

TEST_F(Parse, ParenEventsAndIf) {
    EXPECT_EQ(run("a", R"((bump) if (true) "a")", false, nullptr, true), "true");
    std::string all;
    for (auto& e : g_events) all += e + " ";
    EXPECT_EQ(all, "push+ fetch+ paren+ fetch+ paren+ fetch+ match+ pop+ end+ ");
}

// Everything again with a collection at every third allocation: values the
// engine holds across allocations must stay rooted and current.
TEST_F(Parse, UnderCollectionStress) {
    memory::set_gc_stress(3);
    run_table(sequences_and_alternatives);
    run_table(repetitions);
    run_table(searching);
    run_table(captures);
    run_table(blocks);
    run_table(collecting);
    run_table(changes);
    run_table(binaries);
    memory::set_gc_stress(0);
}

}  // namespace

namespace {

// Random rules over random inputs, from a fixed seed: whatever they say, the
// engine answers a result or a parse error and leaves both stacks empty.
// (`while`, `insert` and `change` are left out: `while` repeats a rule that
// matches without moving on for ever, and `any insert` or `any change` can
// grow the input for ever, all as they should.)
TEST_F(Parse, RandomRulesEndCleanly) {
    const char* tokens[] = {
        "\"a\"", "\"ab\"", "#\"b\"", "\"\"", "skip", "end", "none", "fail", "break", "reject",
        "any", "some", "opt", "not", "ahead", "to", "thru", "copy x", "set x", "|",
        "2", "0 2", "digit", "alpha", "x:", ":x", "(bump)", "if (true)", "quote \"a\"", "[", "]",
        "into", "remove", "keep", "collect", "case true", "word!",
    };
    const char* inputs[] = {"", "a", "ab", "aab", "ba1", "abab1", "[a [b] 1]", "#{6162}"};
    uint32_t seed = 12345;
    auto next = [&](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    for (int round = 0; round < 3000; round++) {
        std::string rules;
        int depth = 0;
        uint32_t count = 1 + next(8);
        for (uint32_t i = 0; i < count; i++) {
            std::string t = tokens[next(sizeof tokens / sizeof *tokens)];
            if (t == "]") {
                if (!depth) continue;
                depth--;
            }
            if (t == "[") depth++;
            rules += t + " ";
        }
        while (depth--) rules += "] ";
        const char* input = inputs[next(sizeof inputs / sizeof *inputs)];
        g_words.erase(key_of("x"));
        std::string got = run(input, rules.c_str());
        bool fine = got == "true" || got == "false" || got[0] == '[' || got.rfind("error:parse", 0) == 0 ||
                    got == "error:no-value";
        EXPECT_TRUE(fine) << "parse " << input << " [" << rules << "] gave " << got;
    }
}

}  // namespace
