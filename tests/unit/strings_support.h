// Helpers for the tests of string!, file!, url! and bitset! actions: values
// built from UTF-8 and cell lists, the registry rows set up, and errors caught.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "datatypes/bitset.h"
#include "datatypes/datatype.h"
#include "datatypes/file.h"
#include "datatypes/mold.h"
#include "datatypes/string.h"
#include "datatypes/string_actions.h"
#include "datatypes/symbol.h"
#include "datatypes/url.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"
#include "tests/unit/value_support.h"

namespace zan::test {

inline void setup_strings() {
    datatype::register_all();
    unicode::init_case_tables();
}

inline Cell str(std::string_view utf8, Type t = Type::string) {
    Node n = string::make_buffer(uint32_t(utf8.size()) + 1);
    string::append_utf8(n, utf8);
    return string::make_cell(n, 0, t);
}

// A string whose characters were poked, so Latin-1 stays in unit 1.
inline Cell latin1(std::u32string_view text) {
    Node n = string::make_buffer(uint32_t(text.size()) + 1);
    for (uint32_t i = 0; i < text.size(); ++i) string::poke_char_at(n, i, text[i]);
    return string::make_cell(n);
}

inline std::string text(const Cell& s) { return string::to_utf8(s); }

inline Cell word_value(const char* name, Type t = Type::word) {
    return make_cell(t, 0, symbol::make(name), uint32_t(-1));
}

inline Cell block(std::initializer_list<Cell> cells, Type t = Type::block) {
    Node n = memory::alloc_cells(uint32_t(cells.size()) + 1);
    memory::Series* s = memory::buffer(n);
    Cell* p = s->cells();
    for (const Cell& c : cells) *p++ = c;
    s->tail = s->head + uint32_t(cells.size()) * 16;
    return series_cell(t, n);
}

inline Cell binary(std::string_view bytes) {
    Node n = memory::alloc_bytes(uint32_t(bytes.size()) + 1);
    memory::Series* s = memory::buffer(n);
    std::memcpy(s->at_head(), bytes.data(), bytes.size());
    s->tail = s->head + uint32_t(bytes.size());
    return series_cell(Type::binary, n);
}

inline std::string mold_of(const Cell& v) { return mold::mold_text(v); }
inline std::string form_of(const Cell& v) { return mold::form_text(v); }

// The id's code raised by the body, or 0 when it raised nothing.
inline int code_of(const std::function<void()>& body) {
    try {
        body();
    } catch (const unwind::Thrown&) {
        return errors::pending_id().code();
    }
    return 0;
}

}  // namespace zan::test
