// CSV text to values and back: the routines behind load-csv and to-csv.
//
// Reading copies the text's code points once and splits it in one pass:
// fields, then lines, each stored as it completes into a rooted output, so
// nothing points into a buffer while strings are made. Writing builds UTF-8
// and makes the string! once at the end.
#include <string>
#include <unordered_set>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/map.h"
#include "datatypes/mold.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/routines.h"
#include "library/library.h"
#include "library/text_codec_util.h"
#include "runtime/collector.h"
#include "runtime/errors.h"

namespace zan::library {

namespace {

using text_codec::append_utf8_cp;
using text_codec::code_points;
using text_codec::make_string;

const char* const not_aligned = "Data are not aligned";

// An error! value (user message) to answer, not raise.
Cell user_error(const std::string& text) {
    Cell msg;
    string::load_at(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), msg, 0);
    collector::Root keep(msg);
    Cell args[2] = {datatype_cell(Type::error), msg};
    error::make(args, Type::error);
    return args[0];
}

std::u32string text_of(const Cell& v) {
    if (is(v, Type::char_)) return std::u32string(1, char32_t(v.w2));
    return code_points(v);
}

// The name after another: the last letter steps on, Z wraps to A and carries.
std::u32string next_column_name(std::u32string name) {
    for (size_t i = name.size(); i-- > 0;) {
        if (name[i] != 'Z') {
            ++name[i];
            return name;
        }
        name[i] = 'A';
        if (i == 0) name.insert(name.begin(), U'A');
    }
    if (name.empty()) name = U"A";
    return name;
}

std::vector<std::u32string> default_header(size_t n) {
    std::vector<std::u32string> h{U"A"};
    while (h.size() < n) h.push_back(next_column_name(h.back()));
    return h;
}

enum class Shape { rows, flat, records, columns };

struct Reader {
    std::u32string s;
    std::u32string delim;
    char32_t quote = '"';
    bool trim = false;
    size_t pos = 0;
    size_t line = 1, line_start = 0;

    bool at_end() const { return pos >= s.size(); }
    bool is_delim_char(char32_t c) const { return delim.find(c) != std::u32string::npos; }
    bool delim_here() const { return !delim.empty() && s.compare(pos, delim.size(), delim) == 0; }
    bool line_end_here() const { return !at_end() && (s[pos] == '\n' || s[pos] == '\r'); }
    void skip_line_end() {
        if (s[pos] == '\r' && pos + 1 < s.size() && s[pos + 1] == '\n') ++pos;
        ++pos;
        ++line;
        line_start = pos;
    }
    void skip_blanks() {
        while (!at_end() && (s[pos] == ' ' || s[pos] == '\t') && !is_delim_char(s[pos])) ++pos;
    }

    // A quoted field from the opening quote; false (position unchanged) when
    // it never closes, so that it reads as plain text.
    bool quoted(std::u32string& out) {
        size_t p = pos + 1, l = line, ls = line_start;
        std::u32string v;
        while (p < s.size()) {
            char32_t c = s[p];
            if (c == quote) {
                if (p + 1 < s.size() && s[p + 1] == quote) {
                    v.push_back(quote);
                    p += 2;
                    continue;
                }
                out = std::move(v);
                pos = p + 1;
                line = l;
                line_start = ls;
                return true;
            }
            if (c == '\n' || (c == '\r' && !(p + 1 < s.size() && s[p + 1] == '\n'))) {
                ++l;
                ls = p + 1;
            }
            v.push_back(c);
            ++p;
        }
        return false;
    }

    void plain(std::u32string& out) {
        size_t start = pos;
        while (!at_end() && s[pos] != '\n' && s[pos] != '\r' && !is_delim_char(s[pos])) ++pos;
        out = s.substr(start, pos - start);
        if (trim) {
            size_t a = 0, b = out.size();
            while (a < b && (out[a] == ' ' || out[a] == '\t')) ++a;
            while (b > a && (out[b - 1] == ' ' || out[b - 1] == '\t')) --b;
            out = out.substr(a, b - a);
        }
    }

    // One field; false when a quoted field is followed by stray text.
    bool field(std::u32string& out) {
        size_t save = pos;
        if (trim) skip_blanks();
        if (!at_end() && s[pos] == quote && quoted(out)) {
            if (trim) skip_blanks();
            return at_end() || line_end_here() || delim_here();
        }
        pos = save;
        plain(out);
        return at_end() || line_end_here() || delim_here();
    }

    std::string where() const {
        return "Invalid CSV data. Line: " + std::to_string(line) +
               " Column: " + std::to_string(pos - line_start);
    }
};

class Loader {
public:
    Loader(Reader& r, Shape shape, bool header) : r_(r), shape_(shape), header_(header) {}

    // The rows read, or an error! value; a string is a message to raise.
    Cell run() {
        Cell out;
        block::make_at(out, 16);
        collector::Root keep_out(out);
        out_ = &out;
        Cell row;
        block::make_at(row, 8);
        collector::Root keep_row(row);
        row_ = &row;
        if (header_) {
            std::vector<std::u32string> fields;
            bool complete = false;
            if (!r_.at_end()) {
                while (true) {
                    std::u32string f;
                    if (!r_.field(f)) return user_error(r_.where());
                    fields.push_back(std::move(f));
                    if (r_.delim_here()) {
                        r_.pos += r_.delim.size();
                        continue;
                    }
                    if (r_.line_end_here()) {
                        r_.skip_line_end();
                        complete = true;
                    }
                    break;
                }
            }
            if (!complete || r_.at_end()) {
                Cell msg = make_string(U"CSV data are too small to use /HEADER refinement");
                return msg;
            }
            names_ = std::move(fields);
        } else {
            names_ = {U"A"};
        }
        while (!r_.at_end()) {
            while (true) {
                std::u32string f;
                if (!r_.field(f)) return user_error(r_.where());
                Cell str = make_string(f);
                collector::Root keep(str);
                block::rs_append(*row_, str);
                if (r_.delim_here()) {
                    r_.pos += r_.delim.size();
                    continue;
                }
                break;
            }
            if (r_.line_end_here()) r_.skip_line_end();
            if (!store_line()) return user_error(not_aligned);
        }
        if (shape_ == Shape::columns) return columns();
        return out;
    }

private:
    Reader& r_;
    Shape shape_;
    bool header_;
    std::vector<std::u32string> names_;
    int32_t reference_ = -1;
    Cell* out_ = nullptr;
    Cell* row_ = nullptr;

    bool store_line() {
        int32_t n = block::rs_length(*row_);
        if (reference_ < 0) reference_ = n;
        if (n != reference_) return false;
        switch (shape_) {
            case Shape::records: {
                while (int32_t(names_.size()) < reference_) names_.push_back(next_column_name(names_.back()));
                Cell m;
                map::make_at(m, nullptr, uint32_t(n));
                collector::Root keep(m);
                for (int32_t i = 0; i < n; ++i) {
                    Cell k = make_string(names_[size_t(i)]);
                    collector::Root keep_k(k);
                    Cell v = *block::rs_abs_at(*row_, i);
                    map::put(m, k, v, false);
                }
                block::rs_append(*out_, m);
                block::rs_clear(*row_);
                return true;
            }
            case Shape::flat:
                block::rs_append_block(*out_, *row_);
                block::rs_clear(*row_);
                return true;
            default: {
                block::rs_append(*out_, *row_);
                Cell fresh;
                block::make_at(fresh, n > 0 ? n : 1);
                *row_ = fresh;
                return true;
            }
        }
    }

    Cell columns() {
        if (reference_ > int32_t(names_.size())) names_ = default_header(size_t(reference_));
        Cell m;
        map::make_at(m, nullptr, uint32_t(names_.size()));
        collector::Root keep(m);
        int32_t rows = block::rs_length(*out_);
        for (size_t c = 0; c < names_.size(); ++c) {
            Cell col;
            block::make_at(col, rows > 0 ? rows : 1);
            collector::Root keep_col(col);
            for (int32_t i = 0; i < rows; ++i) {
                Cell row = *block::rs_abs_at(*out_, i);
                Cell v = int32_t(c) < block::rs_length(row) ? *block::rs_abs_at(row, int32_t(c)) : none_cell();
                block::rs_append(col, v);
            }
            Cell k = make_string(names_[c]);
            collector::Root keep_k(k);
            map::put(m, k, col, false);
        }
        return m;
    }
};

// csv-decode data delimiter quote shape header? trim?
void decode(Cell* args) {
    Reader r;
    r.s = code_points(args[0]);
    r.delim = text_of(args[1]);
    r.quote = char32_t(args[2].w2);
    static const Shape shapes[] = {Shape::rows, Shape::flat, Shape::records, Shape::columns};
    int32_t shape = int_of(args[3]);
    r.trim = logic_of(args[5]);
    Loader l(r, shapes[shape & 3], logic_of(args[4]));
    args[0] = l.run();
}

// --- writing -----------------------------------------------------------------------

class Writer {
public:
    Writer(std::u32string delim, char32_t quote) : delim_(std::move(delim)), quote_(quote) {}

    std::string out;

    void field(const std::u32string& text) {
        bool quote = false;
        for (char32_t c : text)
            if (c == ' ' || c == '\n' || c == '\r' || c == quote_ || delim_.find(c) != std::u32string::npos)
                quote = true;
        if (quote) append(quote_);
        for (char32_t c : text) {
            if (c == quote_) append(quote_);
            append(c);
        }
        if (quote) append(quote_);
    }

    void value(const Cell& v) {
        if (is(v, Type::string)) {
            field(code_points(v));
            return;
        }
        Cell s = mold::form_string(v);
        collector::Root keep(s);
        field(code_points(s));
    }

    void separator() {
        for (char32_t c : delim_) append(c);
    }
    void end_line() { out += '\n'; }

    // One line of the values of a block from its position.
    void line(const Cell& record) {
        int32_t n = block::rs_length(record);
        int32_t base = int32_t(series_index(record));
        for (int32_t i = 0; i < n; ++i) {
            if (i) separator();
            Cell v = *block::rs_abs_at(record, base + i);
            value(v);
        }
        end_line();
    }

private:
    std::u32string delim_;
    char32_t quote_;
    void append(char32_t c) { append_utf8_cp(out, c); }
};

bool any_block_type(const Cell& v) {
    switch (type_of(v)) {
        case Type::block: case Type::paren: case Type::path: case Type::lit_path:
        case Type::set_path: case Type::get_path: case Type::hash:
            return true;
        default:
            return false;
    }
}

bool is_record(const Cell& v) { return is(v, Type::map) || is(v, Type::object); }

// Keys and values of a map or object, live pairs only, as one block.
Cell pairs_of(const Cell& v) {
    Cell pairs;
    if (is(v, Type::map)) {
        Cell storage = series_cell(Type::block, v.w2);
        collector::Root keep(storage);
        block::make_at(pairs, int32_t(map::count(v) * 2 + 1));
        collector::Root keep_pairs(pairs);
        int32_t n = block::rs_length(storage);
        for (int32_t i = 0; i + 1 < n; i += 2) {
            Cell val = *block::rs_abs_at(storage, i + 1);
            if (val.header == 0) continue;
            Cell k = *block::rs_abs_at(storage, i);
            if (word::is_word_family(type_of(k))) set_type(k, Type::word);
            block::rs_append(pairs, k);
            block::rs_append(pairs, val);
        }
        return pairs;
    }
    Node ctx = object::context_node(v);
    uint32_t n = context::length(ctx);
    block::make_at(pairs, int32_t(n * 2 + 1));
    collector::Root keep(pairs);
    for (uint32_t i = 0; i < n; ++i) {
        Cell w = context::word_at(ctx, int32_t(i));
        set_type(w, Type::word);
        block::rs_append(pairs, w);
        Cell val = *context::value_at(ctx, int32_t(i));
        block::rs_append(pairs, val);
    }
    return pairs;
}

// What makes two column names the same: words by their spelling in any
// letter case, other keys by their molded text.
std::string key_identity(const Cell& k) {
    if (word::is_word_family(type_of(k))) {
        std::string name(symbol::name(word_symbol(k)));
        for (char& c : name)
            if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        return "w" + name;
    }
    return "v" + mold::mold_text(k);
}

Cell encode_map(Writer& w, const Cell& data) {
    Cell pairs = pairs_of(data);
    collector::Root keep(pairs);
    int32_t n = block::rs_length(pairs) / 2;
    int32_t rows = -1;
    for (int32_t i = 0; i < n; ++i) {
        Cell col = *block::rs_abs_at(pairs, 2 * i + 1);
        if (!any_block_type(col)) errors::fire(errors::id::invalid_arg, &col);
        int32_t len = block::rs_length(col);
        if (rows < 0) rows = len;
        if (len != rows) return user_error(not_aligned);
    }
    for (int32_t i = 0; i < n; ++i) {
        if (i) w.separator();
        Cell k = *block::rs_abs_at(pairs, 2 * i);
        w.value(k);
    }
    w.end_line();
    for (int32_t r = 0; r < rows; ++r) {
        for (int32_t i = 0; i < n; ++i) {
            if (i) w.separator();
            Cell col = *block::rs_abs_at(pairs, 2 * i + 1);
            Cell v = *block::rs_abs_at(col, int32_t(series_index(col)) + r);
            w.value(v);
        }
        w.end_line();
    }
    return none_cell();
}

Cell encode_maps(Writer& w, const Cell& data) {
    int32_t n = block::rs_length(data);
    int32_t base = int32_t(series_index(data));
    Cell columns;
    block::make_at(columns, 8);
    collector::Root keep(columns);
    std::unordered_set<std::string> seen;
    for (int32_t i = 0; i < n; ++i) {
        Cell rec = *block::rs_abs_at(data, base + i);
        Cell pairs = pairs_of(rec);
        collector::Root keep_pairs(pairs);
        for (int32_t k = 0; k + 1 < block::rs_length(pairs); k += 2) {
            Cell key = *block::rs_abs_at(pairs, k);
            if (seen.insert(key_identity(key)).second) block::rs_append(columns, key);
        }
    }
    int32_t nc = block::rs_length(columns);
    for (int32_t c = 0; c < nc; ++c) {
        if (c) w.separator();
        Cell k = *block::rs_abs_at(columns, c);
        w.value(k);
    }
    w.end_line();
    for (int32_t i = 0; i < n; ++i) {
        Cell rec = *block::rs_abs_at(data, base + i);
        collector::Root keep_rec(rec);
        for (int32_t c = 0; c < nc; ++c) {
            if (c) w.separator();
            Cell k = *block::rs_abs_at(columns, c);
            Cell v = none_cell();
            if (is(rec, Type::map)) {
                v = map::get(rec, k, false);
            } else {
                Node ctx = object::context_node(rec);
                int32_t at = word::is_word_family(type_of(k))
                                 ? context::find_word(ctx, word_symbol(k), true)
                                 : -1;
                if (at >= 0) v = *context::value_at(ctx, at);
            }
            if (is(v, Type::none) || (is(v, Type::logic) && !logic_of(v))) continue;
            w.value(v);
        }
        w.end_line();
    }
    return none_cell();
}

Cell encode_flat(Writer& w, const Cell& data, int32_t size) {
    int32_t n = block::rs_length(data);
    if (size <= 0 || n % size) return user_error(not_aligned);
    int32_t base = int32_t(series_index(data));
    for (int32_t i = 0; i < n; ++i) {
        if (i % size) w.separator();
        Cell v = *block::rs_abs_at(data, base + i);
        w.value(v);
        if (i % size == size - 1) w.end_line();
    }
    return none_cell();
}

Cell encode_blocks(Writer& w, const Cell& data) {
    int32_t n = block::rs_length(data);
    int32_t base = int32_t(series_index(data));
    int32_t width = -1;
    for (int32_t i = 0; i < n; ++i) {
        Cell rec = *block::rs_abs_at(data, base + i);
        int32_t len = any_block_type(rec) ? block::rs_length(rec) : 1;
        if (width < 0) width = len;
        if (len != width) return user_error(not_aligned);
    }
    for (int32_t i = 0; i < n; ++i) {
        Cell rec = *block::rs_abs_at(data, base + i);
        collector::Root keep(rec);
        if (any_block_type(rec)) {
            w.line(rec);
        } else {
            w.value(rec);
            w.end_line();
        }
    }
    return none_cell();
}

// csv-encode data delimiter quote size: the text, or an error! value.
void encode(Cell* args) {
    Writer w(text_of(args[1]), char32_t(args[2].w2));
    Cell data = args[0];
    collector::Root keep(data);
    Cell result = none_cell();
    collector::Root keep_result(result);
    if (is_record(data)) {
        result = encode_map(w, data);
    } else if (is(args[3], Type::integer)) {
        result = encode_flat(w, data, int_of(args[3]));
    } else if (block::rs_length(data) > 0) {
        int32_t base = int32_t(series_index(data));
        Cell first = *block::rs_abs_at(data, base);
        if (!any_block_type(first) && !is_record(first)) {
            w.line(data);
        } else {
            bool maps = true;
            for (int32_t i = 0; i < block::rs_length(data); ++i)
                if (type_of(*block::rs_abs_at(data, base + i)) != type_of(first)) maps = false;
            result = maps && is_record(first) ? encode_maps(w, data) : encode_blocks(w, data);
        }
    }
    if (is(result, Type::error)) {
        args[0] = result;
        return;
    }
    string::load_at(reinterpret_cast<const uint8_t*>(w.out.data()), uint32_t(w.out.size()), args[0], 0);
}

}  // namespace

void register_csv_routines() {
    routines::add("csv-decode", decode);
    routines::add("csv-encode", encode);
}

}  // namespace zan::library
