// The generated lexer tables against the transcribed rows and the class rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "evaluator/lexer_tables.h"

using namespace zan::lexer::tables;

namespace {

std::filesystem::path rows_file() {
    return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "tools" / "lexer_rows.txt";
}

const std::map<std::string, int>& class_names() {
    static const std::map<std::string, int> m = {
        {"blank", 0}, {"newline", 1}, {"digit", 2}, {"zero", 3}, {"[", 4}, {"]", 5}, {"(", 6},
        {")", 7}, {"{", 8}, {"}", 9}, {"\"", 10}, {"#", 11}, {"'", 12}, {":", 13}, {"x", 14},
        {"T", 15}, {"h", 16}, {"e", 17}, {"E", 18}, {"hex-lower", 19}, {"hex-upper", 20},
        {"/", 21}, {"\\", 22}, {"<", 23}, {">", 24}, {"=", 25}, {"%", 26}, {",", 27}, {";", 28},
        {"@", 29}, {".", 30}, {"$", 31}, {"+", 32}, {"-", 33}, {"^", 34}, {"control", 35},
        {"continuation", 36}, {"letter", 37}, {"invalid", 38}, {"end", 39},
    };
    return m;
}

int target(std::string t) {
    if (!t.empty() && t.back() == ';') t.pop_back();
    int n = std::stoi(t.substr(1));
    return t[0] == 'S' ? n : final_base + n;
}

// An independent reading of the rows: every (state, class) the rows give.
TEST(LexerTables, TransitionsMatchTheRows) {
    std::ifstream in(rows_file());
    ASSERT_TRUE(in) << rows_file();
    std::string line;
    int rows = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') break;
        std::vector<std::string> f;
        std::stringstream ss(line);
        std::string part;
        while (std::getline(ss, part, '|')) f.push_back(part);
        ASSERT_EQ(f.size(), 4u) << line;
        auto trim = [](std::string s) {
            s.erase(0, s.find_first_not_of(' '));
            s.erase(s.find_last_not_of(' ') + 1);
            return s;
        };
        int state = std::stoi(trim(f[0]).substr(1));
        int def = target(trim(f[2]));
        std::vector<int> expect(class_count, def);
        std::stringstream ex(f[3]);
        std::vector<std::string> pending;
        std::string tok;
        while (ex >> tok) {
            if (tok == "→") {
                ex >> tok;
                for (auto& c : pending) expect[class_names().at(c)] = target(tok);
                pending.clear();
            } else {
                pending.push_back(tok);
            }
        }
        for (int c = 0; c < class_count; c++)
            EXPECT_EQ(int(next_state(state, c)), expect[c]) << "S" << state << " class " << c;
        rows++;
    }
    EXPECT_EQ(rows, state_count);
}

TEST(LexerTables, ByteClasses) {
    struct R { int from, to, cls; } ranges[] = {
        {0, 0, c_end},        {1, 8, c_control},       {9, 9, c_blank},   {10, 10, c_newline},
        {11, 12, c_control},  {13, 13, c_blank},       {14, 31, c_control}, {32, 32, c_blank},
        {'1', '9', c_digit},  {'0', '0', c_zero},      {'a', 'd', c_hex_lower}, {'f', 'f', c_hex_lower},
        {'A', 'D', c_hex_upper}, {'F', 'F', c_hex_upper}, {'x', 'x', c_x}, {'X', 'X', c_x},
        {'T', 'T', c_T},      {'h', 'h', c_h},         {'e', 'e', c_e},   {'E', 'E', c_E},
        {'G', 'S', c_letter}, {'U', 'W', c_letter},    {'g', 'g', c_letter}, {'i', 'w', c_letter},
        {'!', '!', c_letter}, {'|', '|', c_letter},    {'~', '~', c_letter}, {127, 191, c_continuation},
        {192, 193, c_invalid}, {194, 247, c_letter},   {248, 255, c_invalid},
    };
    for (auto& r : ranges)
        for (int b = r.from; b <= r.to; b++) EXPECT_EQ(int(class_of(uint8_t(b))), r.cls) << "byte " << b;
    const char* singles = "[](){}\"#':/\\<>=%,;@.$+-^";
    int classes[] = {c_lbracket, c_rbracket, c_lparen, c_rparen, c_lbrace, c_rbrace, c_dquote, c_hash,
                     c_quote, c_colon, c_slash, c_backslash, c_less, c_greater, c_equal, c_percent,
                     c_comma, c_semicolon, c_at, c_dot, c_dollar, c_plus, c_minus, c_caret};
    for (int i = 0; singles[i]; i++) EXPECT_EQ(int(class_of(uint8_t(singles[i]))), classes[i]) << singles[i];
}

TEST(LexerTables, Flags) {
    struct F { uint8_t byte; uint32_t flag; } flags[] = {
        {'%', flag::percent}, {'>', flag::greater}, {'<', flag::less}, {'+', flag::sign},
        {'-', flag::sign},    {0, flag::nul},       {'#', flag::hash},  {'e', flag::exponent},
        {'E', flag::exponent}, {'\'', flag::quote}, {':', flag::colon}, {',', flag::comma},
        {'.', flag::dot},     {'^', flag::caret},   {194, flag::lead23}, {239, flag::lead23},
        {240, flag::lead4},   {247, flag::lead4},
    };
    for (auto& f : flags) EXPECT_EQ(char_classes[f.byte] & 0xFFFFFF00u, f.flag) << int(f.byte);
    for (int b : {97, 90, 49, 32, 10, 128, 193, 248})
        EXPECT_EQ(char_classes[b] & 0xFFFFFF00u, 0u) << int(b);
}

TEST(LexerTables, StateTypes) {
    EXPECT_EQ(state_types[0], 0);
    EXPECT_EQ(state_types[2], 7);           // string!
    EXPECT_EQ(state_types[23], 11);         // integer!
    EXPECT_EQ(state_types[59], 25);         // path!
    EXPECT_EQ(state_types[final_base + 1], 34);   // error!
    EXPECT_EQ(state_types[final_base + 14], 15);  // word!
    EXPECT_EQ(state_types[final_base + 27], 51);  // point2D!
    EXPECT_EQ(state_types[final_base + 35], 50);  // ref!
    EXPECT_EQ(state_types[final_base + 2], 0);
}

TEST(LexerTables, PathEndClasses) {
    std::vector<int> ends = {c_blank, c_newline, c_lbracket, c_rbracket, c_lparen, c_rparen, c_lbrace,
                             c_dquote, c_colon, c_less, c_semicolon, c_letter, c_invalid, c_end};
    for (int c = 0; c < class_count; c++) {
        bool expect = std::find(ends.begin(), ends.end(), c) != ends.end();
        EXPECT_EQ(path_end(c), expect) << c;
    }
}

}  // namespace
