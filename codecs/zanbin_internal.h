// What the Zanbin reader and writers share: byte helpers, the fixed flavour's
// header-word bits, the depth guard, and the types a buffer may hold.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/cell.h"
#include "runtime/errors.h"

namespace zan::zanbin::detail {

// Compact head bytes above the type range.
namespace head {
constexpr uint8_t small_int = 0x80;  // 0x80-0xBF: integers 0 to 63
constexpr uint8_t newline = 0xC0;
constexpr uint8_t reference = 0xC1;
constexpr uint8_t true_ = 0xC2;
constexpr uint8_t false_ = 0xC3;
constexpr uint8_t definition = 0xC4;
// Boot mode only, before a word: with a plain head the word is unbound; with
// a variant head the owner of its context follows inline, as in codec mode.
constexpr uint8_t boot_word = 0xC5;
constexpr uint8_t copy = 0xFF;
constexpr uint8_t variant = 0x40;
constexpr uint8_t long_type = 63;
}  // namespace head

// Fixed records: bits of the header word.
namespace fixed {
constexpr uint32_t unit_shift = 8;       // string family, binary!, vector!: bytes a unit
constexpr uint32_t unit_mask = 0x1F;
constexpr uint32_t tuple_shift = 8;      // tuple!: its length
constexpr uint32_t op_shift = 16;        // op!: the type it runs
constexpr uint32_t reference = 1u << 19;
constexpr uint32_t negative = 1u << 22;  // money!
constexpr uint32_t complement = 1u << 23;  // bitset!
constexpr uint32_t hooks = 1u << 24;     // object! with a change-hook record
constexpr uint32_t global = 1u << 25;    // word bound to the global context; boot: definition
constexpr uint32_t newline = 1u << 31;
constexpr uint32_t reference_type = 255;
// Context records: kind, self, values on the stack, values follow.
constexpr uint32_t ctx_kind_shift = 26;
constexpr uint32_t ctx_self = 1u << 28;
constexpr uint32_t ctx_stack = 1u << 29;
constexpr uint32_t ctx_values = 1u << 30;
}  // namespace fixed

// date!: the time-present bit of the packed date word.
constexpr uint32_t date_time_flag = 0x10000;

// Flags byte of a compact context record.
namespace ctx_flag {
constexpr uint8_t kind_mask = 3;
constexpr uint8_t stack = 4;
constexpr uint8_t self = 8;
constexpr uint8_t values = 16;
}  // namespace ctx_flag

inline uint32_t zigzag(int32_t v) { return (uint32_t(v) << 1) ^ uint32_t(v >> 31); }
inline int32_t unzigzag(uint32_t n) { return int32_t((n >> 1) ^ (0u - (n & 1))); }

// Types that can never be written or read.
inline bool unserialisable(Type t) {
    return t == Type::routine || t == Type::triple || t == Type::handle || t == Type::port ||
           t == Type::event;
}

inline bool block_family(Type t) {
    return t == Type::block || t == Type::paren || t == Type::path || t == Type::lit_path ||
           t == Type::set_path || t == Type::get_path;
}
inline bool string_family(Type t) {
    return t == Type::string || t == Type::file || t == Type::url || t == Type::tag ||
           t == Type::email || t == Type::ref;
}
inline bool word_family(Type t) { return t >= Type::word && t <= Type::refinement; }

// Catalogue ids by name, looked up once.
errors::Id catalog_id(errors::Category category, const char* name);
inline errors::Id zb_invalid_record() {
    static const errors::Id id = catalog_id(errors::Category::script, "zb-invalid-record");
    return id;
}
inline errors::Id no_codec() {
    static const errors::Id id = catalog_id(errors::Category::access, "no-codec");
    return id;
}

// The longest reference path a buffer may hold.
constexpr uint32_t max_reference_path = 65536;

// Guards native recursion: counts levels and watches the native stack, so that
// any depth of input ends in too-deep rather than a stack overflow.
class Depth {
public:
    Depth();
    ~Depth() { --level_; }
    Depth(const Depth&) = delete;
    Depth& operator=(const Depth&) = delete;
    // Starts a new walk: the current frame is the base of the stack measure.
    static void start();

private:
    static uint32_t level_;
};

}  // namespace zan::zanbin::detail
