// JSON text to values and back: the routines behind load-json and to-json.
//
// Decoding reads the input where it lies, in its own unit width, in one pass;
// the input's buffer is pinned meanwhile, so values built on the way cannot
// move it. Open containers sit on
// a rooted block used as an explicit stack, never on the native stack, so any
// depth that fits in memory loads. Objects are gathered as key/value blocks
// and turned into maps when they close: a repeated name keeps its first place
// and takes the last value, as `put` does.
//
// Encoding walks the value with an explicit stack too; the containers being
// written are kept on a rooted block, and one that contains itself raises
// no-cycle instead of looping.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/map.h"
#include "datatypes/mold.h"
#include "datatypes/object.h"
#include "datatypes/context.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/lexer.h"
#include "evaluator/routines.h"
#include "library/library.h"
#include "library/text_codec_util.h"
#include "runtime/collector.h"
#include "runtime/unicode.h"
#include "runtime/errors.h"

namespace zan::library {

namespace {

using text_codec::append_utf8_cp;
using text_codec::code_points;
using text_codec::make_string;

// --- decoding ----------------------------------------------------------------------

// Characters that end a word; a name is a word key only when it avoids them
// (and starts with no digit or apostrophe) and the lexer reads it back as
// exactly that word.
bool not_word_char(char32_t c) {
    switch (c) {
        case '/': case '\\': case '^': case ',': case '[': case ']': case '(': case ')':
        case '{': case '}': case '"': case '#': case '%': case '$': case '@': case ':':
        case ';': case '\n': case 0xA0: case ' ': case '\t': case '\r': case '<': case '>':
            return true;
        default:
            return false;
    }
}

int hex_value(char32_t c) {
    if (c >= '0' && c <= '9') return int(c - '0');
    if (c >= 'a' && c <= 'f') return int(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return int(c - 'A' + 10);
    return -1;
}

struct Failed {};

// The input's characters, one unit each.
template <typename Unit>
struct View {
    const Unit* p;
    size_t n;
    size_t size() const { return n; }
    char32_t operator[](size_t i) const { return char32_t(p[i]); }
    const Unit* begin() const { return p; }
    std::u32string substr(size_t at, size_t length) const {
        return std::u32string(p + at, p + at + std::min(length, n - at));
    }
};

template <typename Unit>
class Decoder {
public:
    explicit Decoder(View<Unit> text) : s_(text) {}

    // The value, or an error! value describing where the text stops fitting.
    Cell run() {
        Cell out;
        block::make_at(out, 1);
        collector::Root keep_out(out);
        Cell stack;
        block::make_at(stack, 16);
        collector::Root keep_stack(stack);
        out_ = &out;
        stack_ = &stack;
        try {
            parse();
            return *block::rs_abs_at(out, 0);
        } catch (const Failed&) {
            return report();
        }
    }

private:
    View<Unit> s_;
    size_t pos_ = 0, mark_ = 0, last_lf_ = 0;
    int32_t lines_ = 1;
    Cell* out_ = nullptr;
    Cell* stack_ = nullptr;
    // One entry a stacked container: true for an object.
    std::vector<bool> kinds_;
    std::unordered_map<std::u32string, Cell> names_;

    bool at_end() const { return pos_ >= s_.size(); }

    void ws() {
        while (pos_ < s_.size()) {
            char32_t c = s_[pos_];
            if (c == ' ' || c == '\t' || c == '\r') {
                ++pos_;
            } else if (c == '\n') {
                ++pos_;
                mark_ = last_lf_ = pos_;
                ++lines_;
            } else {
                break;
            }
        }
    }

    bool literal(const char* word) {
        size_t n = std::strlen(word);
        if (s_.size() - pos_ < n) return false;
        for (size_t i = 0; i < n; ++i)
            if (s_[pos_ + i] != char32_t(uint8_t(word[i]))) return false;
        pos_ += n;
        return true;
    }

    // The container values go into: the top of the stack, else the output.
    Cell target() const {
        int32_t n = block::rs_length(*stack_);
        return n ? *block::rs_abs_at(*stack_, n - 1) : *out_;
    }

    void emit(const Cell& v) {
        Cell t = target();
        block::rs_append(t, v);
    }

    void open(bool object) {
        Cell b;
        block::make_at(b, 4);
        collector::Root keep(b);
        emit(b);
        block::rs_append(*stack_, b);
        kinds_.push_back(object);
    }

    // Closes the top container; an object's pairs become a map in its place.
    void close() {
        int32_t depth = block::rs_length(*stack_);
        Cell b = *block::rs_abs_at(*stack_, depth - 1);
        collector::Root keep(b);
        bool object = kinds_.back();
        kinds_.pop_back();
        block::rs_truncate(*stack_, depth - 1);
        if (!object) return;
        int32_t n = block::rs_length(b);
        Cell m;
        map::make_at(m, nullptr, uint32_t(n / 2));
        collector::Root keep_m(m);
        for (int32_t i = 0; i + 1 < n; i += 2) {
            Cell k = *block::rs_abs_at(b, i);
            Cell v = *block::rs_abs_at(b, i + 1);
            map::put(m, k, v, false);
        }
        Cell t = target();
        *block::rs_abs_at(t, block::rs_length(t) - 1) = m;
    }

    // The text between the quotes with its escapes decoded.
    std::u32string string_literal() {
        size_t start = 0;
        bool escaped = scan_string(&start);
        std::u32string raw = s_.substr(start, pos_ - 1 - start);
        return escaped ? unescape(raw) : raw;
    }

    // The same as a new string!, made from the input when nothing is escaped.
    Cell string_value() {
        size_t start = 0;
        if (scan_string(&start)) return make_string(unescape(s_.substr(start, pos_ - 1 - start)));
        return make_string(s_.begin() + start, pos_ - 1 - start);
    }

    // Steps over a quoted string, checking it; sets where its text starts and
    // answers whether it holds escapes.
    bool scan_string(size_t* text_start) {
        if (at_end() || s_[pos_] != '"') throw Failed{};
        size_t start = ++pos_;
        bool escaped = false;
        while (true) {
            if (at_end()) throw Failed{};
            char32_t c = s_[pos_];
            if (c == '"') break;
            if (c < 0x20) throw Failed{};
            if (c == '\\') {
                escaped = true;
                if (pos_ + 1 >= s_.size()) throw Failed{};
                char32_t e = s_[pos_ + 1];
                if (e == 'u') {
                    for (size_t i = 2; i < 6; ++i)
                        if (pos_ + i >= s_.size() || hex_value(s_[pos_ + i]) < 0) throw Failed{};
                    pos_ += 6;
                    continue;
                }
                if (e >= 0x80 || e == 0 || !std::strchr("\"t\\/nrbf", int(e))) throw Failed{};
                pos_ += 2;
                continue;
            }
            ++pos_;
        }
        *text_start = start;
        ++pos_;
        return escaped;
    }

    static uint32_t hex4(const std::u32string& r, size_t i) {
        uint32_t v = 0;
        for (size_t k = 0; k < 4; ++k) v = v * 16 + uint32_t(hex_value(r[i + k]));
        return v;
    }

    static std::u32string unescape(const std::u32string& r) {
        std::u32string o;
        o.reserve(r.size());
        for (size_t i = 0; i < r.size(); ++i) {
            if (r[i] != '\\') {
                o.push_back(r[i]);
                continue;
            }
            char32_t e = r[++i];
            switch (e) {
                case 'b': o.push_back(8); break;
                case 'f': o.push_back(12); break;
                case 'n': o.push_back(10); break;
                case 'r': o.push_back(13); break;
                case 't': o.push_back(9); break;
                case 'u': {
                    uint32_t cp = hex4(r, i + 1);
                    i += 4;
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        bool paired = i + 6 < r.size() + 0 && r[i + 1] == '\\' && r[i + 2] == 'u';
                        uint32_t low = paired ? hex4(r, i + 3) : 0;
                        if (!paired || low < 0xDC00 || low > 0xDFFF) {
                            Cell str = make_string(r);
                            errors::fire(errors::id::invalid_data, &str);
                        }
                        cp = 65536 + (cp - 0xD800) * 1024 + (low - 0xDC00);
                        i += 6;
                    }
                    o.push_back(char32_t(cp));
                    break;
                }
                default: o.push_back(e); break;
            }
        }
        return o;
    }

    // A name as a word key when it reads back as that very word.
    Cell name_key(const std::u32string& name) {
        auto found = names_.find(name);
        if (found != names_.end()) return found->second;
        Cell key = make_string(name);
        bool wordlike = !name.empty() && !(name[0] >= '0' && name[0] <= '9') && name[0] != '\'';
        for (char32_t c : name)
            if (not_word_char(c) || c < 0x20 || (c >= 0xD800 && c <= 0xDFFF)) wordlike = false;
        if (wordlike) {
            std::string utf8;
            for (char32_t c : name) append_utf8_cp(utf8, c);
            Cell scanned = none_cell();
            collector::Root keep(scanned);
            lexer::ScanRequest req;
            req.one = true;
            req.wrap = false;
            uint32_t consumed = 0;
            int32_t t = lexer::scan(&scanned, reinterpret_cast<const uint8_t*>(utf8.data()),
                                    uint32_t(utf8.size()), req, &consumed);
            if (t == int32_t(Type::word) && consumed == utf8.size())
                key = word::load_symbol(symbol::make(std::string_view(utf8)));
            else
                wordlike = false;
        }
        if (wordlike) names_.emplace(name, key);
        return key;
    }

    // A number as the lexer would load it, at any length and correctly rounded:
    // integers that fit 32 bits stay integers, the rest become floats.
    bool number() {
        size_t start = pos_;
        if (pos_ < s_.size() && s_[pos_] == '-') ++pos_;
        auto digit = [&](size_t p) { return p < s_.size() && s_[p] >= '0' && s_[p] <= '9'; };
        if (!digit(pos_)) {
            pos_ = start;
            return false;
        }
        if (s_[pos_] == '0') ++pos_;
        else
            while (digit(pos_)) ++pos_;
        bool is_float = false;
        if (pos_ < s_.size() && s_[pos_] == '.' && digit(pos_ + 1)) {
            is_float = true;
            ++pos_;
            while (digit(pos_)) ++pos_;
        }
        if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
            size_t p = pos_ + 1;
            if (p < s_.size() && (s_[p] == '+' || s_[p] == '-')) ++p;
            if (digit(p)) {
                is_float = true;
                pos_ = p;
                while (digit(pos_)) ++pos_;
            }
        }
        std::string text(s_.begin() + long(start), s_.begin() + long(pos_));
        if (!is_float) {
            errno = 0;
            long long v = std::strtoll(text.c_str(), nullptr, 10);
            if (errno == 0 && v >= INT32_MIN && v <= INT32_MAX) {
                emit(integer_cell(int32_t(v)));
                return true;
            }
        }
        emit(float_cell(std::strtod(text.c_str(), nullptr)));
        return true;
    }

    // One scalar value or the opening of a container; answers the kind of
    // container opened (0 none, 1 array, 2 object).
    int value_start() {
        if (at_end()) throw Failed{};
        char32_t c = s_[pos_];
        if (c == '[') {
            ++pos_;
            open(false);
            return 1;
        }
        if (c == '{') {
            ++pos_;
            open(true);
            return 2;
        }
        if (c == '"') {
            Cell str = string_value();
            collector::Root keep(str);
            emit(str);
        } else if (literal("true")) {
            emit(logic_cell(true));
        } else if (literal("false")) {
            emit(logic_cell(false));
        } else if (literal("null")) {
            emit(none_cell());
        } else if (!number()) {
            throw Failed{};
        }
        mark_ = pos_;
        return 0;
    }

    // A member name, its colon, and the white space before the value.
    void member_name() {
        ws();
        std::u32string name = string_literal();
        ws();
        if (at_end() || s_[pos_] != ':') throw Failed{};
        ++pos_;
        mark_ = pos_;
        Cell key = name_key(name);
        collector::Root keep(key);
        emit(key);
        ws();
    }

    void parse() {
        ws();
        int opened = value_start();
        // After opening a container: its first member or its end.
        while (true) {
            if (opened) {
                ws();
                char32_t closer = opened == 2 ? '}' : ']';
                if (!at_end() && s_[pos_] == closer) {
                    ++pos_;
                    close();
                    mark_ = pos_;
                } else {
                    if (opened == 2) member_name();
                    opened = value_start();
                    continue;
                }
            }
            // A value is complete: its container goes on or closes.
            ws();
            if (kinds_.empty()) break;
            bool object = kinds_.back();
            if (at_end()) throw Failed{};
            char32_t c = s_[pos_];
            if (c == ',') {
                ++pos_;
                ws();
                if (object) member_name();
                else ws();
                opened = value_start();
                continue;
            }
            if (c != (object ? '}' : ']')) throw Failed{};
            ++pos_;
            close();
            mark_ = pos_;
            opened = 0;
        }
        if (!at_end()) throw Failed{};
    }

    Cell report() {
        std::string text = "Invalid JSON string. Line: " + std::to_string(lines_) +
                           " Index: " + std::to_string(mark_ + 1) +
                           " Column: " + std::to_string(mark_ - last_lf_) + " Near: ";
        if (mark_ >= s_.size()) {
            text += "<end of input>";
        } else {
            Cell near = make_string(s_.substr(mark_, 40));
            collector::Root keep(near);
            text += mold::mold_text(near);
        }
        Cell msg;
        string::load_at(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), msg, 0);
        collector::Root keep(msg);
        Cell args[2] = {datatype_cell(Type::error), msg};
        error::make(args, Type::error);
        return args[0];
    }
};

// json-decode input: the value, or an error! value for text that is no JSON.
void decode(Cell* args) {
    Node node = series_node(args[0]);  // the argument keeps it alive
    memory::Pin pin(node);
    memory::Series* b = memory::buffer(node);
    uint32_t unit = b->unit();
    uint32_t length = b->length();
    uint32_t at = std::min(series_index(args[0]), length);
    const std::byte* p = b->at_head() + size_t(at) * unit;
    size_t n = length - at;
    Cell result;
    if (unit == 1) {
        result = Decoder<uint8_t>({reinterpret_cast<const uint8_t*>(p), n}).run();
    } else if (unit == 2) {
        result = Decoder<uint16_t>({reinterpret_cast<const uint16_t*>(p), n}).run();
    } else {
        result = Decoder<uint32_t>({reinterpret_cast<const uint32_t*>(p), n}).run();
    }
    args[0] = result;
}

// --- encoding ----------------------------------------------------------------------

class Encoder {
public:
    Encoder(std::u32string indent, bool pretty, bool ascii)
        : indent_(std::move(indent)), pretty_(pretty), ascii_(ascii) {}

    std::string run(const Cell& data) {
        Cell stack;
        block::make_at(stack, 16);
        collector::Root keep(stack);
        stack_ = &stack;
        out_.reserve(4000);
        value(data);
        while (!frames_.empty()) step();
        return std::move(out_);
    }

private:
    struct Frame {
        bool object;  // keys and values alternate in the held block
        bool map;     // a map's own pairs: removed ones are passed over
        int32_t index;
        int32_t length;
        bool first;
    };
    std::u32string indent_;
    bool pretty_, ascii_;
    std::string out_;
    std::u32string scratch_;
    std::vector<Frame> frames_;
    std::vector<Node> nodes_;  // identity of each open container, for cycles
    Cell* stack_ = nullptr;

    void newline_indent() {
        out_ += '\n';
        for (size_t i = 0; i < frames_.size(); ++i)
            for (char32_t c : indent_) append_utf8_cp(out_, c);
    }

    static const char* escape_of(uint32_t c) {
        switch (c) {
            case '"': return "\\\"";
            case '\\': return "\\\\";
            case 8: return "\\b";
            case 12: return "\\f";
            case 10: return "\\n";
            case 13: return "\\r";
            case 9: return "\\t";
            default: return nullptr;
        }
    }

    void hex_escape(uint32_t v) {
        static const char digits[] = "0123456789ABCDEF";
        out_ += "\\u";
        for (int s = 12; s >= 0; s -= 4) out_ += digits[(v >> s) & 15];
    }

    void quoted(const std::u32string& text) {
        out_ += '"';
        for (char32_t c : text) {
            // A lone surrogate has no UTF-8 form: it is always escaped.
            bool normal = c >= 0x20 && c != '"' && c != '\\' && (!ascii_ || c <= 127) &&
                          !(c >= 0xD800 && c <= 0xDFFF);
            if (normal) {
                append_utf8_cp(out_, c);
            } else if (const char* e = escape_of(c)) {
                out_ += e;
            } else if (c <= 0xFFFF) {
                hex_escape(c);
            } else {
                uint32_t n = uint32_t(c) - 65536;
                hex_escape((n >> 10) + 0xD800);
                hex_escape((n & 1023) + 0xDC00);
            }
        }
        out_ += '"';
    }

    // A string's characters, through one buffer kept for all of them.
    void quoted_string(const Cell& s) {
        text_codec::code_points_into(s, scratch_);
        quoted(scratch_);
    }

    // Text already in UTF-8 (word names, formed values), all of it whole.
    void quoted_utf8(std::string_view utf8) {
        scratch_.clear();
        auto* p = reinterpret_cast<const uint8_t*>(utf8.data());
        auto* end = p + utf8.size();
        while (p < end) {
            int32_t count = int32_t(end - p);
            int32_t cp = unicode::decode_utf8_checked(p, count);
            if (cp < 0) break;
            scratch_ += char32_t(cp);
            p += count;
        }
        quoted(scratch_);
    }

    // Floats in their shortest round-tripping text; infinities and NaN have
    // no JSON form and are written as their molded text in a string.
    void number(double d) {
        std::string m = mold::mold_text(float_cell(d));
        if (!std::isfinite(d)) {
            quoted_utf8(m);
            return;
        }
        out_ += m;
    }

    void open(const Cell& held, Node identity, bool object, char opener, bool map = false) {
        for (Node n : nodes_)
            if (n == identity) errors::fire(errors::id::no_cycle);
        int32_t length = block::rs_length(held);
        if (length == 0) {
            out_ += opener;
            out_ += object ? '}' : ']';
            return;
        }
        out_ += opener;
        block::rs_append(*stack_, held);
        nodes_.push_back(identity);
        frames_.push_back(Frame{object, map, int32_t(series_index(held)), length, true});
    }

    static Cell object_pairs(const Cell& o) {
        Node ctx = object::context_node(o);
        uint32_t n = context::length(ctx);
        Cell pairs;
        block::make_at(pairs, int32_t(n * 2));
        collector::Root keep(pairs);
        for (uint32_t i = 0; i < n; ++i) {
            Cell w = context::word_at(ctx, int32_t(i));
            block::rs_append(pairs, w);
            Cell v = *context::value_at(ctx, int32_t(i));
            block::rs_append(pairs, v);
        }
        return pairs;
    }

    void key(const Cell& k) {
        if (word::is_word_family(type_of(k))) quoted_utf8(symbol::name(word_symbol(k)));
        else if (is(k, Type::string)) quoted_string(k);
        else quoted_utf8(mold::mold_text(k));
        out_ += pretty_ ? ": " : ":";
    }

    void value(const Cell& v) {
        switch (type_of(v)) {
            case Type::none: out_ += "null"; return;
            case Type::logic: out_ += logic_of(v) ? "true" : "false"; return;
            case Type::integer: out_ += std::to_string(int_of(v)); return;
            case Type::float_: number(float_of(v)); return;
            case Type::percent: number(float_of(v)); return;
            case Type::string: quoted_string(v); return;
            case Type::file: case Type::url: case Type::tag: case Type::email: case Type::ref:
                quoted_utf8(mold::form_text(v));
                return;
            case Type::block: case Type::paren: case Type::path: case Type::lit_path:
            case Type::set_path: case Type::get_path: case Type::hash:
                open(v, series_node(v), false, '[');
                return;
            case Type::map:
                if (map::count(v) == 0) {
                    out_ += "{}";
                    return;
                }
                open(series_cell(Type::block, v.w2), v.w2, true, '{', true);
                return;
            case Type::object: {
                Cell pairs = object_pairs(v);
                collector::Root keep(pairs);
                open(pairs, object::context_node(v), true, '{');
                return;
            }
            default: quoted_utf8(mold::mold_text(v)); return;
        }
    }

    // Writes the next member of the top container, or closes it.
    void step() {
        Frame& f = frames_.back();
        int32_t depth = block::rs_length(*stack_);
        Cell held = *block::rs_abs_at(*stack_, depth - 1);
        collector::Root keep(held);
        int32_t end = int32_t(series_index(held)) + f.length;
        if (f.map)
            while (f.index + 1 < end && block::rs_abs_at(held, f.index + 1)->header == 0) f.index += 2;
        if (f.index >= end) {
            bool object = f.object;
            frames_.pop_back();
            nodes_.pop_back();
            block::rs_truncate(*stack_, depth - 1);
            if (pretty_) newline_indent();
            out_ += object ? '}' : ']';
            return;
        }
        if (!f.first) out_ += ',';
        f.first = false;
        if (pretty_) newline_indent();
        int32_t at = f.index;
        f.index += f.object ? 2 : 1;
        if (frames_.back().object) {
            Cell k = *block::rs_abs_at(held, at);
            key(k);
            Cell v = at + 1 < block::rs_length(held) + int32_t(series_index(held))
                         ? *block::rs_abs_at(held, at + 1)
                         : none_cell();
            value(v);
        } else {
            Cell v = *block::rs_abs_at(held, at);
            value(v);
        }
    }
};

// json-encode data indent ascii?: the JSON text; indent is none for compact.
void encode(Cell* args) {
    bool pretty = is(args[1], Type::string);
    std::u32string indent = pretty ? code_points(args[1]) : std::u32string();
    bool ascii = is(args[2], Type::logic) && logic_of(args[2]);
    Encoder e(std::move(indent), pretty, ascii);
    std::string text = e.run(args[0]);
    string::load_at(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), args[0], 0);
}

}  // namespace

void register_json_routines() {
    routines::add("json-decode", decode);
    routines::add("json-encode", encode);
}

}  // namespace zan::library
