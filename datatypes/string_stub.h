// Throwaway stand-in for the string buffer interface until strings land; only
// the names mold and form need. Delete with string_stub.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "datatypes/cell.h"

namespace zan::string {

Node make_buffer(uint32_t capacity, uint32_t unit);
void append_char(Node buffer, uint32_t cp);
void append_ascii(Node buffer, std::string_view text);
void append_utf8(Node buffer, std::string_view text);
std::string to_utf8(const Cell& value);
Cell make_cell(Node buffer, uint32_t index, Type t);
// The last character of the buffer, -1 when it is empty.
int32_t last_char(Node buffer);
// The escaped form of one character inside a quoted text.
void mold_char(Node buffer, uint32_t cp, bool all);

}  // namespace zan::string
