// Bytes from the outside world as values, and values as bytes for it: the
// conversions shared by files, HTTP, processes and the clipboard.
//
// Text arriving from the OS is UTF-8: a leading byte-order mark is skipped,
// CR LF and a lone CR become LF, and an invalid or cut sequence raises access
// invalid-utf8 (a cut would silently lose bytes). Text leaving is UTF-8 with
// LF line ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <initializer_list>

#include "runtime/cell.h"
#include "runtime/errors.h"

namespace zan::platform {

// Catalogue ids the OS services raise beside the common ones.
namespace id {
inline constexpr errors::Id no_create{errors::Category::access, 13};
inline constexpr errors::Id limit_hit{errors::Category::internal, 7};
}  // namespace id

namespace text {

// A new string! of the UTF-8 bytes. With fold, CR LF and lone CR become LF.
// More than a series can hold raises internal limit-hit with what.
Cell decode(std::string_view bytes, bool fold, const Cell* what = nullptr);
// Appends the decoded bytes to a string!.
void append_decoded(const Cell& target, std::string_view bytes, bool fold);
// A new binary! holding a copy of the bytes.
Cell make_binary(std::string_view bytes, const Cell* what = nullptr);
// Appends bytes to a binary!.
void append_bytes(const Cell& target, std::string_view bytes);
// The bytes from a binary!'s head.
std::string_view binary_bytes(const Cell& bin);
// A block of line strings: lines end at LF, one CR before it dropped; bytes
// after the last LF make the last line as they stand; no bytes give [].
Cell lines_to_block(std::string_view bytes);

// The UTF-8 of a string-like value from its head; part >= 0 takes at most
// that many characters.
std::string encode(const Cell& str, int64_t part = -1);
// What a value writes as: a string its text, a binary its bytes (part cuts
// both), anything else its molded text.
std::string value_bytes(const Cell& value, int64_t part = -1);

// A tuple! of 3 to 12 bytes.
Cell make_tuple(std::initializer_list<uint8_t> bytes);

}  // namespace text
}  // namespace zan::platform
