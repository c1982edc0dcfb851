// Unicode conversion: decoding UTF-8 and UTF-16LE into strings, widening
// string buffers, encoding back to UTF-8 and UTF-16, and case mapping.
//
// A string buffer stores fixed-width little-endian units chosen per buffer:
// 1 byte (Latin-1, 0-0xFF), 2 bytes (UCS-2, 0-0xFFFF) or 4 bytes (any code
// point). A buffer never holds surrogate pairs. Loading picks the narrowest
// unit while it decodes; a buffer widens in place when a wider character
// arrives and never narrows.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zan::unicode {

// Series flag set on a buffer loaded from UTF-16LE text.
constexpr uint32_t utf16_loaded_flag = 1u << 18;

// --- decoding UTF-8 -----------------------------------------------------------

// Table-driven decoder for hot loops: no end check, nothing raised. Answers the
// position after the character; cp is -1 for an invalid sequence (the position
// is then after the bytes consumed so far).
const uint8_t* fast_decode_utf8_char(const uint8_t* p, int32_t& cp);
uint32_t count_utf8_chars(const uint8_t* start, const uint8_t* end);
const uint8_t* skip_utf8_chars(const uint8_t* p, const uint8_t* end, uint32_t n);
// 2, 3 or 4 for a lead byte of that length; 0 for ASCII and continuation bytes.
uint32_t utf8_char_size(uint8_t lead);

// Decodes one character. On entry count is the number of bytes left; on
// success it becomes the sequence's length. Answers -1 for a sequence cut by
// the end of input; raises access/invalid-utf8 for an invalid one.
int32_t decode_utf8_checked(const uint8_t* p, int32_t& count);
// Raises access/invalid-utf8 with the bytes at p (at most 4 of the left ones).
[[noreturn]] void fire_invalid_utf8(const uint8_t* p, uint32_t left);

// Loads UTF-8 text (a leading byte-order mark skipped) into the target buffer
// (0: a new one), replacing its content from its offset. A sequence cut by the
// end stops the load; its byte count goes to remainder when one is given. With
// fold_crlf, CR LF becomes LF and a lone CR becomes LF. Answers the node.
// The source must stay put while loading allocates: pin a buffer that holds it.
Node load_utf8(const uint8_t* src, uint32_t bytes, Node target, uint32_t* remainder,
               bool fold_crlf);
Node load_utf8_into(const uint8_t* src, uint32_t bytes, const Cell& str, uint32_t* remainder);
Node load_utf8_new(const uint8_t* src, uint32_t bytes);

// Loads UTF-16LE text of `units` 16-bit units. With src null the text is read
// from the target's conversion cache. With drop_cr every CR is left out.
// An unpaired high surrogate raises access/invalid-utf8.
Node load_utf16le(const uint8_t* src, uint32_t units, Cell* target, bool drop_cr);
// The unit a UTF-16LE text needs: 4 when any surrogate occurs, else 2 when any
// unit is above 0xFF, else 1.
uint32_t utf16_unit_size(const uint8_t* src, uint32_t units);

// --- encoding to UTF-8 --------------------------------------------------------

// Above 0x10FFFF these raise script/invalid-char and write nothing.
uint32_t cp_utf8_size(uint32_t cp);
uint32_t utf8_length(const std::byte* start, const std::byte* end, uint32_t unit);
uint32_t cp_to_utf8(uint32_t cp, uint8_t* dest);
// Writes byte k of the sequence only when room >= k.
uint32_t cp_to_utf8_bounded(uint32_t cp, uint8_t* dest, int32_t room);

// The string's conversion cache (its w3), made or grown to at least size bytes.
memory::Series* get_cache(Cell& str, uint32_t size);

// Text from the value's position (count -1: all, else at most count
// characters) as NUL-terminated UTF-8 in the conversion cache; count becomes
// the bytes written. Valid until the next conversion through the same cache.
const char* to_utf8(Cell& str, int32_t& count);
const char* to_utf8_crlf(Cell& str, int32_t& count, bool cr);
const char* to_utf8_cache(Cell& str, int32_t& count, bool cr);
// Into a caller's buffer; NUL appended (not counted) when terminate is set.
uint32_t to_utf8_buffer(const Cell& str, uint8_t* dest, int32_t count, bool terminate);
// As to_utf8_buffer, stopping at room bytes (a last character may be cut).
uint32_t to_utf8_bounded(const Cell& str, uint8_t* dest, int32_t room, int32_t count,
                         bool terminate);

// --- encoding to UTF-16 -------------------------------------------------------

const char16_t* to_utf16(Cell& str);
// count -1 (or not below the length): all. Null when a character is above 0x10FFFF.
const char16_t* to_utf16_part(Cell& str, int32_t& count, bool cr);
// Extra bytes beyond 2 a character: 2 for every LF (when cr) and every
// character above 0xFFFF.
uint32_t utf16_extra_size(const std::byte* start, const std::byte* end, uint32_t unit, bool cr);
char16_t* latin1_to_utf16(const char* text, char16_t* dest);

// --- widening in place ----------------------------------------------------------
// The whole content from the buffer's offset is widened; the answer is the
// buffer, which may have moved: callers re-read positions.

memory::Series* latin1_to_ucs2(Node n);
memory::Series* latin1_to_ucs4(Node n);
memory::Series* ucs2_to_ucs4(Node n);

// The narrowest unit that holds the code point: 1 (to 0xFF), 2 (to 0xFFFF) or 4.
inline uint32_t char_width(uint32_t cp) { return cp <= 0xFF ? 1 : cp <= 0xFFFF ? 2 : 4; }

// --- case -------------------------------------------------------------------------

void init_case_tables();
uint32_t case_fold(uint32_t cp, bool upper);
inline uint32_t to_upper(uint32_t cp) { return case_fold(cp, true); }
inline uint32_t to_lower(uint32_t cp) { return case_fold(cp, false); }
// Compares two code points ignoring case (by their upper-case mappings):
// below, equal to or above 0.
inline int32_t compare_ci(uint32_t a, uint32_t b) {
    uint32_t ua = to_upper(a), ub = to_upper(b);
    return ua < ub ? -1 : ua > ub ? 1 : 0;
}

// uppercase/lowercase on a char! (in place) or a string from its position, at
// most `part` characters when part is given (an integer!, or a position in
// the same series). Reporting the change to an owner is the caller's.
void change_case(Cell& value, const Cell* part, bool upper);

}  // namespace zan::unicode
