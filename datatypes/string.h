// string! storage: the value cell, the buffer and the primitives every
// string-like type (file!, url!, tag!, email!, ref!) builds on.
//
// Cell: w1 head index in characters from the buffer's offset, w2 buffer node,
// w3 node of the conversion cache or 0. The buffer's unit is 1, 2 or 4 bytes a
// character; it widens in place when a character does not fit and never
// narrows. A head index past the tail reads as the tail.
//
// Buffers move: every routine here takes nodes or cells, and answers nothing
// that points into a buffer across an allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "datatypes/actions.h"
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zan::string {

using memory::Series;

// --- cells and buffers -------------------------------------------------------------

// An empty buffer with room for capacity characters (0 becomes 1).
Node make_buffer(uint32_t capacity, uint32_t unit = 1);
Cell make_cell(Node n, uint32_t index = 0, Type t = Type::string);
// rs-make-at / make-at: the cell becomes an empty string! with a new buffer.
Cell& rs_make_at(Cell& c, uint32_t capacity);
Cell& make_at(Cell& c, uint32_t capacity, uint32_t unit);
// Empties the buffer, back to unit 1, head 0.
void rs_reset(Cell& str);
// Moves the tail back to offset + n units when it lies beyond.
void truncate(Node s, uint32_t n);

// --- reading ---------------------------------------------------------------------

// A code point read by the unit: 1 byte, 2 or 4 bytes little-endian.
inline uint32_t get_char(const std::byte* p, uint32_t unit) {
    switch (unit) {
        case 1: return uint32_t(p[0]);
        case 2: return uint32_t(p[0]) | uint32_t(p[1]) << 8;
        default:
            return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                   uint32_t(p[3]) << 24;
    }
}
// Stores a code point that fits the unit.
inline void put_char(std::byte* p, uint32_t unit, uint32_t cp) {
    p[0] = std::byte(cp);
    if (unit >= 2) p[1] = std::byte(cp >> 8);
    if (unit == 4) {
        p[2] = std::byte(cp >> 16);
        p[3] = std::byte(cp >> 24);
    }
}

// Characters from the buffer's offset to its tail.
uint32_t buffer_length(Node s);
// The character at index (from the buffer's offset).
uint32_t char_at(Node s, uint32_t index);
inline uint32_t rs_abs_at(const Cell& str, uint32_t index) { return char_at(series_node(str), index); }
// The last character of the buffer, -1 when it is empty.
int32_t last_char(Node s);
// Characters from the value's position; 0 when the position is past the tail.
uint32_t length(const Cell& str);
inline uint32_t rs_length_q(const Cell& str) { return length(str); }
// The value's position clamped to the tail (written back into the cell).
uint32_t rs_head_index(Cell& str);
// Address of the head unit (clamping first) and of the tail. Re-read after any allocation.
std::byte* rs_head(Cell& str);
std::byte* rs_tail(const Cell& str);
bool rs_tail_q(const Cell& str);
// Index from the head of the first occurrence, or -1.
int32_t find_char(const Cell& str, uint32_t cp);
// Whether cp occurs at the head or every skip-th character after it; with a
// case flag other than 1 both sides are upper-cased first.
bool has_char_q(const Cell& str, uint32_t cp, uint32_t skip, int32_t case_flag);
// Whether the string begins with the 8-bit text, byte for character.
bool head_equal_literal_q(const Cell& str, const char* text);
// UTF-8 of the text from the value's position (for tests and the OS).
std::string to_utf8(const Cell& str);

// --- writing ---------------------------------------------------------------------
// Each may widen or move the buffer.

// Appends at the tail; unit 1 keeps only 0-0x7F, so appended text is never
// Latin-1 above 0x7F.
void append_char(Node s, uint32_t cp);
void append_ascii(Node s, std::string_view text);
void append_utf8(Node s, std::string_view text);
// Stores at a unit index inside the used part (0 <= index < length), widening
// first when cp does not fit (unit 1 keeps 0-0xFF).
void poke_char(Node s, uint32_t index, uint32_t cp);
// Stores at index, growing as needed; at or past the tail the tail moves to
// just behind it, so index == length appends.
void poke_char_at(Node s, uint32_t index, uint32_t cp);
// Inserts at index (at most the length), moving the rest up one unit.
void insert_char_at(Node s, uint32_t index, uint32_t cp);
// Removes n characters at an absolute index; nothing at or past the tail.
void remove_chars(const Cell& str, uint32_t index, uint32_t n);
// Moves n characters at the source's head to the target's head.
void move_chars(Cell& source, Cell& target, uint32_t n);
// Exchanges the neighbouring regions [first, first+len1) and
// [first+len1, first+len1+len2) of one buffer (in bytes).
void swap_regions(std::byte* first, uint32_t first_len, uint32_t second_len);
// Widens the buffer from unit `current` to `wanted` (no-op when not wider).
Series* widen_to(Node s, uint32_t current, uint32_t wanted);

enum class Mode : uint8_t { append = 0, insert = 1, overwrite = 2 };
// Copies the source's characters from its head (count < 0 or too large: all)
// into the target: appended (append), inserted or written over at the
// target's head + offset. With keep_source unset a narrower source buffer may
// be widened in place to the target's unit. Answers the target's node.
Node concatenate(const Cell& target, const Cell& source, int32_t count, int32_t offset,
                 bool keep_source, Mode mode);
// Appends the bytes of 8-bit text, each as a character.
void concatenate_literal(const Cell& target, const char* text);
void concatenate_literal_part(const Cell& target, const char* text, uint32_t n);

// Decodes text into cell as a new string!: encoding 0 UTF-8, -1 UTF-16LE
// (count in 16-bit units). Another encoding raises script/invalid-arg.
Cell& load_at(const uint8_t* src, uint32_t count, Cell& cell, int32_t encoding);

// --- comparing --------------------------------------------------------------------

// -1, 0 or 1 by the comparison codes (0 equal?, 1 not-equal?, 2 strict-equal?,
// 3-6 ordering, 7 sort, 8 case-sensitive sort, 9 same?, 12 search equality);
// prefix: whether b matches at a's head.
int32_t compare_text(const Cell& a, const Cell& b, int32_t op, bool prefix);
bool tag_at_q(const Cell& input, const Cell& tag);
bool match_at_q(const Cell& input, const Cell& pattern, int32_t op);
// Whether the character at the head is in the bitset; a code point beyond the
// stored bits counts as in exactly when the bitset is complemented.
bool char_in_bitset_q(const Cell& str, const Cell& bitset);

// --- numbers as text ----------------------------------------------------------------

const char* byte_to_hex(uint8_t byte);
// Eight digits (leading 0, or F when negative), or only the significant ones
// when short_form ("00" for 0).
const char* int_to_hex(int32_t value, bool short_form);

// --- form and mold -------------------------------------------------------------------

int32_t form(const Cell& value, Node buffer, bool part, int32_t budget);
int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent);
// One character with its caret escape where it needs one.
void mold_char(Node buffer, uint32_t cp, bool all);
void count_quotes_lines(const std::byte* start, const std::byte* end, uint32_t unit,
                        uint32_t& quotes, uint32_t& lines);
// Whether the "{" at p is closed before end (nesting counted).
bool braces_balanced_q(const std::byte* p, const std::byte* end, uint32_t unit);

}  // namespace zan::string
