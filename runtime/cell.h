// The value cell: every value of the language is one 16-byte Cell.
//
// A 32-bit header (type id in bits 0-7, flags above) and three 32-bit payload
// words whose meaning belongs to each datatype. Nothing pointer-sized lives in a
// cell: series and contexts are 32-bit node handles, code is an index into a
// registry, doubles span w2 (low half) and w3 (high half).
//
// This header owns the representation: no other file reads or writes the raw
// words with magic offsets. Datatypes add their named accessors here.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace zan {

using Node = uint32_t;  // index into the node table; 0 is the null handle

enum class Type : uint8_t {
    any = 0,  // stands for any value; never registered
    datatype = 1,
    unset,
    none,
    logic,
    block,
    paren,
    string,
    file,
    url,
    char_,
    integer,
    float_,
    symbol,
    context,
    word,
    set_word,
    lit_word,
    get_word,
    refinement,
    issue,
    native,
    action,
    op,
    function,
    path,
    lit_path,
    set_path,
    get_path,
    routine,
    bitset,
    triple,
    object,
    typeset,
    error,
    vector,
    hash,
    pair,
    percent,
    tuple,
    map,
    binary,
    series,
    time,
    tag,
    email,
    handle,
    date,
    port,
    money,
    ref,
    point2d,
    point3d,
    image,
    event,  // 54
};

constexpr int type_count_max = 57;  // rows of the action and type-name tables

namespace header {
constexpr uint32_t type_mask = 0xFF;
constexpr uint32_t newline = 0x40000000;        // value preceded by a line break
constexpr uint32_t context_kind_mask = 0x1800;  // context cell: 0 plain, 1 locals, 2 object
constexpr uint32_t context_kind_shift = 11;
constexpr uint32_t context_on_stack = 0x400000;   // context cell: values on the value stack
constexpr uint32_t context_has_self = 0x1000000;  // context cell: the context has a self
constexpr uint32_t field_assigned = 0x2000;       // word record of an object: assigned
}  // namespace header

struct Cell {
    uint32_t header = 0;
    uint32_t w1 = 0;
    uint32_t w2 = 0;
    uint32_t w3 = 0;
};
static_assert(sizeof(Cell) == 16);

// --- header ---------------------------------------------------------------

inline Type type_of(const Cell& c) { return Type(c.header & header::type_mask); }
inline uint8_t type_id(const Cell& c) { return uint8_t(c.header & header::type_mask); }
inline bool is(const Cell& c, Type t) { return type_of(c) == t; }

// Changing the type keeps every flag.
inline Cell& set_type(Cell& c, Type t) {
    c.header = (c.header & ~header::type_mask) | uint32_t(t);
    return c;
}
inline bool has_flag(const Cell& c, uint32_t f) { return (c.header & f) != 0; }
inline void set_flag(Cell& c, uint32_t f) { c.header |= f; }
inline void clear_flag(Cell& c, uint32_t f) { c.header &= ~f; }
inline bool newline_before(const Cell& c) { return has_flag(c, header::newline); }
inline void clear_newline(Cell& c) { clear_flag(c, header::newline); }

// Copying a value copies all 16 bytes, flags included.
inline Cell& copy_cell(const Cell& from, Cell& to) {
    if (&from != &to) to = from;
    return to;
}

// --- constructors of payload-free and scalar values -------------------------

inline Cell make_cell(Type t, uint32_t w1 = 0, uint32_t w2 = 0, uint32_t w3 = 0) {
    return Cell{uint32_t(t), w1, w2, w3};
}
inline Cell unset_cell() { return make_cell(Type::unset); }
inline Cell none_cell() { return make_cell(Type::none); }
inline Cell logic_cell(bool b) { return make_cell(Type::logic, b ? 1u : 0u); }
inline Cell integer_cell(int32_t i) { return make_cell(Type::integer, 0, uint32_t(i)); }
inline Cell char_cell(uint32_t cp) { return make_cell(Type::char_, 0, cp); }
inline Cell datatype_cell(Type t) { return make_cell(Type::datatype, uint32_t(t)); }

// --- payload accessors --------------------------------------------------------

// integer!, char!: the value in w2.
inline int32_t int_of(const Cell& c) { return int32_t(c.w2); }
inline void set_int(Cell& c, int32_t i) { c.w2 = uint32_t(i); }

// float!, percent!, time!: the double in w2 (low) and w3 (high).
inline double float_of(const Cell& c) {
    return std::bit_cast<double>(uint64_t(c.w2) | (uint64_t(c.w3) << 32));
}
inline void set_float(Cell& c, double d) {
    auto bits = std::bit_cast<uint64_t>(d);
    c.w2 = uint32_t(bits);
    c.w3 = uint32_t(bits >> 32);
}
inline Cell float_cell(double d, Type t = Type::float_) {
    Cell c = make_cell(t);
    set_float(c, d);
    return c;
}

// logic!: true only when w1 is exactly 1.
inline bool logic_of(const Cell& c) { return c.w1 == 1; }

// Series values: w1 head index, w2 buffer node, w3 type-specific.
inline uint32_t series_index(const Cell& c) { return c.w1; }
inline Node series_node(const Cell& c) { return c.w2; }
inline Cell series_cell(Type t, Node n, uint32_t index = 0, uint32_t extra = 0) {
    return make_cell(t, index, n, extra);
}
// series!
inline void set_series_index(Cell& c, uint32_t index) { c.w1 = index; }
inline uint32_t series_extra(const Cell& c) { return c.w3; }
inline void set_series_extra(Cell& c, uint32_t extra) { c.w3 = extra; }

// datatype!: the type it names, in w1.
inline Type datatype_of(const Cell& c) { return Type(c.w1); }

// pair!: x in w2, y in w3.
inline int32_t pair_x(const Cell& c) { return int32_t(c.w2); }
inline int32_t pair_y(const Cell& c) { return int32_t(c.w3); }
inline void set_pair(Cell& c, int32_t x, int32_t y) {
    c.w2 = uint32_t(x);
    c.w3 = uint32_t(y);
}
inline Cell pair_cell(int32_t x, int32_t y) { return make_cell(Type::pair, 0, uint32_t(x), uint32_t(y)); }

// tuple!: the length (3-12) in header bits 19-22, the bytes in w1, w2, w3
// (byte 1 lowest in w1); bytes past the length are 0.
namespace header {
constexpr uint32_t tuple_length_mask = 0x780000;
constexpr uint32_t tuple_length_shift = 19;
}  // namespace header
inline int tuple_length(const Cell& c) {
    return int((c.header & header::tuple_length_mask) >> header::tuple_length_shift);
}
inline void tuple_bytes(const Cell& c, uint8_t out[12]) {
    std::memcpy(out, &c.w1, 4);
    std::memcpy(out + 4, &c.w2, 4);
    std::memcpy(out + 8, &c.w3, 4);
}
// Stores the length and the bytes, clearing those past the length.
inline void set_tuple(Cell& c, const uint8_t in[12], int length) {
    uint8_t all[12] = {};
    std::memcpy(all, in, size_t(length));
    std::memcpy(&c.w1, all, 4);
    std::memcpy(&c.w2, all + 4, 4);
    std::memcpy(&c.w3, all + 8, 4);
    c.header = (c.header & ~header::tuple_length_mask) |
               (uint32_t(length) << header::tuple_length_shift);
}
inline Cell tuple_cell(const uint8_t in[12], int length) {
    Cell c = make_cell(Type::tuple);
    set_tuple(c, in, length);
    return c;
}

// point2D!, point3D!: binary32 coordinates x, y, z in w1, w2, w3.
inline float point_coord(const Cell& c, int axis) {
    return std::bit_cast<float>(axis == 0 ? c.w1 : axis == 1 ? c.w2 : c.w3);
}
inline void set_point_coord(Cell& c, int axis, float v) {
    (axis == 0 ? c.w1 : axis == 1 ? c.w2 : c.w3) = std::bit_cast<uint32_t>(v);
}
inline Cell point_cell(Type t, float x, float y, float z = 0.0f) {
    return make_cell(t, std::bit_cast<uint32_t>(x), std::bit_cast<uint32_t>(y),
                     t == Type::point3d ? std::bit_cast<uint32_t>(z) : 0u);
}

// triple!: three int32 in w1, w2, w3.
inline int32_t triple_at(const Cell& c, int i) { return int32_t(i == 0 ? c.w1 : i == 1 ? c.w2 : c.w3); }

// handle!: w1 the class, w2 the value (an index), w3 -1.
inline uint32_t handle_class(const Cell& c) { return c.w1; }
inline uint32_t handle_value(const Cell& c) { return c.w2; }

// Word family: w1 context node, w2 symbol id, w3 index in the context (-1 unresolved).
inline Node word_context(const Cell& c) { return c.w1; }
inline uint32_t word_symbol(const Cell& c) { return c.w2; }
inline int32_t word_index(const Cell& c) { return int32_t(c.w3); }

// Truth: only none and false are false.
inline bool is_truthy(const Cell& c) {
    Type t = type_of(c);
    return !(t == Type::none || (t == Type::logic && !logic_of(c)));
}


// native!, action!, op!, function!, routine!: w1 the code (natives-table or
// action slot index; a function's locals context), w2 the spec block's node,
// w3 the cache of a native, action or op, the more block of a function or
// routine. An op! keeps the type of its source in header bits 16-23.
inline uint32_t callable_code(const Cell& c) { return c.w1; }
inline Node callable_spec(const Cell& c) { return c.w2; }
inline Node callable_more(const Cell& c) { return c.w3; }
inline Type op_source(const Cell& c) { return Type((c.header >> 16) & 0xFF); }

// money!: the sign in header bit 14, the currency index (0 none) in the low
// byte of w1, then 22 decimal digits packed two a byte, most significant
// first, in cell bytes 5-15 (w1's upper three bytes, then w2 and w3).
namespace header {
constexpr uint32_t money_negative = 0x4000;
}
inline uint8_t money_currency(const Cell& c) { return uint8_t(c.w1); }
inline void set_money_currency(Cell& c, uint8_t index) { c.w1 = (c.w1 & ~0xFFu) | index; }
inline void money_packed(const Cell& c, uint8_t out[11]) {
    uint8_t bytes[16];
    std::memcpy(bytes, &c, 16);
    std::memcpy(out, bytes + 5, 11);
}
inline void set_money_packed(Cell& c, const uint8_t in[11]) {
    uint8_t bytes[16];
    std::memcpy(bytes, &c, 16);
    std::memcpy(bytes + 5, in, 11);
    std::memcpy(&c, bytes, 16);
}

// date!: the packed date word in w1 (year, time flag, month, day, zone), the
// UTC time of the stored day in seconds as a double in w2 and w3.
inline uint32_t date_word(const Cell& c) { return c.w1; }
inline void set_date_word(Cell& c, uint32_t word) { c.w1 = word; }
inline double date_time(const Cell& c) { return float_of(c); }
inline void set_date_time(Cell& c, double t) { set_float(c, t); }

}  // namespace zan
