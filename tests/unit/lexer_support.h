// Test helpers for the lexer: load text and render the values as text, so
// cases read as source and expected shape.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/cell.h"
#include "tests/unit/context_fixture.h"
#include "datatypes/datatype.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "evaluator/lexer.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/unwind.h"


namespace lexer_test {

using namespace zan;

inline std::string text_of(const Cell& c) {
    memory::Series* s = memory::buffer(series_node(c));
    std::string out;
    uint32_t unit = s->unit();
    for (uint32_t i = series_index(c); i < s->length(); i++) {
        const std::byte* p = s->at_head() + i * unit;
        uint32_t cp = uint32_t(p[0]);
        if (unit >= 2) cp |= uint32_t(p[1]) << 8;
        if (unit == 4) cp |= uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        if (cp < 0x80) out.push_back(char(cp));
        else if (cp < 0x800) out += {char(0xC0 | cp >> 6), char(0x80 | (cp & 0x3F))};
        else if (cp < 0x10000)
            out += {char(0xE0 | cp >> 12), char(0x80 | (cp >> 6 & 0x3F)), char(0x80 | (cp & 0x3F))};
        else
            out += {char(0xF0 | cp >> 18), char(0x80 | (cp >> 12 & 0x3F)), char(0x80 | (cp >> 6 & 0x3F)),
                    char(0x80 | (cp & 0x3F))};
    }
    return out;
}

inline uint32_t unit_of(const Cell& c) { return memory::buffer(series_node(c))->unit(); }

std::string show(const Cell& c);

inline std::string show_each(const Cell& c, const char* open, const char* close, const char* sep) {
    memory::Series* s = memory::buffer(series_node(c));
    std::string out = open;
    Cell* cells = s->cells();
    uint32_t n = s->length();
    for (uint32_t i = 0; i < n; i++) {
        if (i) out += sep;
        out += show(cells[i]);
    }
    return out + close;
}

inline std::string show_double(double d) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", d);
    std::string s = buf;
    if (s.find_first_of(".eni") == std::string::npos) s += ".0";
    return s;
}

inline std::string show(const Cell& c) {
    auto sp = [](uint32_t id) { return std::string(symbol::name(id)); };
    switch (type_of(c)) {
        case Type::block: return show_each(c, "[", "]", " ");
        case Type::paren: return show_each(c, "(", ")", " ");
        case Type::path: return show_each(c, "", "", "/");
        case Type::set_path: return show_each(c, "", ":", "/");
        case Type::lit_path: return show_each(c, "'", "", "/");
        case Type::get_path: return show_each(c, ":", "", "/");
        case Type::word: return sp(word_symbol(c));
        case Type::set_word: return sp(word_symbol(c)) + ":";
        case Type::get_word: return ":" + sp(word_symbol(c));
        case Type::lit_word: return "'" + sp(word_symbol(c));
        case Type::refinement: return "/" + sp(word_symbol(c));
        case Type::issue: return "#" + sp(word_symbol(c));
        case Type::integer: return std::to_string(int_of(c));
        case Type::float_: return show_double(float_of(c));
        case Type::percent: return show_double(float_of(c) * 100) + "%";
        case Type::time: return "time:" + show_double(float_of(c));
        case Type::pair: return std::to_string(int32_t(c.w2)) + "x" + std::to_string(int32_t(c.w3));
        case Type::string: return "\"" + text_of(c) + "\"";
        case Type::file: return "%" + text_of(c);
        case Type::url: return "url:" + text_of(c);
        case Type::email: return "email:" + text_of(c);
        case Type::tag: return "<" + text_of(c) + ">";
        case Type::ref: return "@" + text_of(c);
        case Type::char_: return "char:" + std::to_string(int_of(c));
        case Type::logic: return logic_of(c) ? "true" : "false";
        case Type::none: return "none";
        case Type::unset: return "unset";
        case Type::datatype: return "datatype:" + std::to_string(c.w1);
        case Type::tuple: {
            uint8_t b[12];
            std::memcpy(b, &c.w1, 4), std::memcpy(b + 4, &c.w2, 4), std::memcpy(b + 8, &c.w3, 4);
            std::string s;
            for (uint32_t i = 0; i < (c.header >> 19 & 0xF); i++) s += (i ? "." : "") + std::to_string(b[i]);
            return s;
        }
        case Type::binary: {
            memory::Series* s = memory::buffer(series_node(c));
            std::string out = "#{";
            char h[3];
            for (uint32_t i = 0; i < s->length(); i++) {
                std::snprintf(h, sizeof h, "%02X", unsigned(uint8_t(s->at_head()[i])));
                out += h;
            }
            return out + "}";
        }
        default: return "type:" + std::to_string(type_id(c));
    }
}

// Loads text; answers the rendered block, or "error <category>.<index> <first argument>".
inline std::string load(const std::string& text) {
    testing_contexts::start_runtime();
    try {
        Cell b = lexer::load_utf8(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
        return show(b);
    } catch (const unwind::Thrown& t) {
        if (t.code != unwind::error) throw;
        errors::Id id = errors::pending_id();
        std::string s = "error " + std::to_string(int(id.category)) + "." + std::to_string(id.index);
        const Cell& a = errors::pending_arg(1);
        if (is(a, Type::string)) s += " " + text_of(a);
        else if (is(a, Type::datatype)) s += " datatype:" + std::to_string(a.w1);
        return s;
    }
}

// Loads text that must fail; answers "<category>.<index>" and the error's
// three arguments, each shown as show() does, separated by "|".
inline std::string load_error(const std::string& text) {
    testing_contexts::start_runtime();
    try {
        lexer::load_utf8(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
        return "no error";
    } catch (const unwind::Thrown& t) {
        if (t.code != unwind::error) throw;
        errors::Id id = errors::pending_id();
        std::string s = std::to_string(int(id.category)) + "." + std::to_string(id.index);
        for (int i = 1; i <= 3; i++) {
            const Cell& a = errors::pending_arg(i);
            if (!is(a, Type::unset)) s += "|" + show(a);
        }
        return s;
    }
}

inline int32_t scan_type(const std::string& text, bool prescan = false, bool one = false) {
    testing_contexts::start_runtime();
    lexer::ScanRequest r;
    r.load = !prescan;
    r.wrap = false;
    r.one = one;
    return lexer::scan(nullptr, reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), r, nullptr);
}

}  // namespace lexer_test
