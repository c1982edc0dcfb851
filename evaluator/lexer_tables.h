// The lexer automaton's tables, generated from tools/lexer_rows.txt.
//
// A byte's class entry holds the class in its low byte and flag bits above;
// the transition table gives the next state for (state, class); states from
// final_base on are final, each naming one token kind.
#pragma once

#include <cstdint>

namespace zan::lexer::tables {

constexpr int state_count = 65;
constexpr int class_count = 40;
constexpr int final_base = 66;
constexpr int kind_count = 36;
constexpr int type_rows = 104;

// Character classes.
enum Class : uint8_t {
    c_blank, c_newline, c_digit, c_zero, c_lbracket, c_rbracket, c_lparen, c_rparen,
    c_lbrace, c_rbrace, c_dquote, c_hash, c_quote, c_colon, c_x, c_T, c_h, c_e, c_E,
    c_hex_lower, c_hex_upper, c_slash, c_backslash, c_less, c_greater, c_equal, c_percent,
    c_comma, c_semicolon, c_at, c_dot, c_dollar, c_plus, c_minus, c_caret, c_control,
    c_continuation, c_letter, c_invalid, c_end,
};

// Flag bits ORed over the bytes of a token.
namespace flag {
constexpr uint32_t percent = 0x40000;
constexpr uint32_t greater = 0x80000;
constexpr uint32_t less = 0x100000;
constexpr uint32_t sign = 0x200000;
constexpr uint32_t nul = 0x400000;
constexpr uint32_t hash = 0x800000;
constexpr uint32_t exponent = 0x1000000;
constexpr uint32_t quote = 0x2000000;
constexpr uint32_t colon = 0x4000000;
constexpr uint32_t comma = 0x8000000;
constexpr uint32_t dot = 0x10000000;
constexpr uint32_t caret = 0x20000000;
constexpr uint32_t lead23 = 0x40000000;
constexpr uint32_t lead4 = 0x80000000;
}  // namespace flag

extern const uint32_t char_classes[256];
extern const uint8_t transitions[state_count * class_count];
// Datatype id a state stands for (0: none), final states included.
extern const uint8_t state_types[type_rows];

inline uint8_t class_of(uint8_t byte) { return uint8_t(char_classes[byte]); }
inline uint8_t next_state(int state, int cls) { return transitions[state * class_count + cls]; }

// Classes after which a path ends.
inline bool path_end(int cls) {
    switch (cls) {
        case c_blank: case c_newline: case c_lbracket: case c_rbracket: case c_lparen:
        case c_rparen: case c_lbrace: case c_dquote: case c_colon: case c_less:
        case c_semicolon: case c_letter: case c_invalid: case c_end:
            return true;
        default:
            return false;
    }
}

}  // namespace zan::lexer::tables
