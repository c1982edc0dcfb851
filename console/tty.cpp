// The console on a terminal or a pipe: the routines under the terminal
// variant of the console (console/terminal.zan).
//
// Standard input is read through one buffer, by lines (piped input and a
// terminal without our editor) or by keys (the raw-mode line editor). Keys
// are decoded here into records of a key (a char! or a word such as `left`),
// a Ctrl flag and a Shift flag; everything they do to the input line is the
// terminal engine's script code. Drawing the input line is done here too,
// because it needs the display width of characters and cursor movement.
//
// Raw mode is on only while a line is edited, is set with TCSADRAIN so that
// type-ahead survives, and is put back on every exit, fatal error and signal.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtk/gtk.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "console/tty.h"

#include "datatypes/block.h"
#include "datatypes/string.h"
#include "datatypes/string_actions.h"
#include "datatypes/symbol.h"
#include "evaluator/routines.h"
#include "evaluator/stack.h"
#include "platform/gtk_start.h"
#include "platform/text.h"
#include "runtime/collector.h"
#include "runtime/fatal.h"
#include "runtime/output.h"
#include "runtime/unicode.h"

namespace zan::console {

namespace {

// --- standard input ------------------------------------------------------------

std::string in_buf;
size_t in_pos = 0;
bool in_eof = false;

// Waits at most timeout_ms (-1: for ever) for more bytes. False at end of
// input, on a timeout and when a signal cut the wait short.
volatile sig_atomic_t resized = 1;
volatile sig_atomic_t interrupted = 0;

bool fill(int timeout_ms) {
    if (in_eof) return false;
    if (in_pos > 0 && in_pos == in_buf.size()) {
        in_buf.clear();
        in_pos = 0;
    }
    if (timeout_ms >= 0) {
        pollfd p{0, POLLIN, 0};
        int r = ::poll(&p, 1, timeout_ms);
        if (r <= 0) return false;
    }
    char chunk[4096];
    ssize_t n = ::read(0, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) return false;
    if (n <= 0) {
        in_eof = true;
        return false;
    }
    in_buf.append(chunk, size_t(n));
    return true;
}

int next_byte(int timeout_ms) {
    while (in_pos == in_buf.size())
        if (!fill(timeout_ms)) return -1;
    return uint8_t(in_buf[in_pos++]);
}

// Bytes that are not UTF-8 become U+FFFD, so that a string holds only characters.
std::string repair_utf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        uint32_t n = *p < 0x80 ? 1 : unicode::utf8_char_size(*p);
        int32_t cp = -1;
        if (n >= 1 && n <= 4 && n <= uint32_t(end - p)) {
            const uint8_t* q = unicode::fast_decode_utf8_char(p, cp);
            if (cp >= 0 && q == p + n) {
                out.append(reinterpret_cast<const char*>(p), n);
                p = q;
                continue;
            }
        }
        out += "\xEF\xBF\xBD";
        ++p;
    }
    return out;
}

// --- terminal state ------------------------------------------------------------

termios saved_mode{};
bool raw_on = false;
bool handlers_installed = false;

void restore_mode() {
    if (!raw_on) return;
    static const char off[] = "\x1b[?2004l";
    (void)!::write(1, off, sizeof off - 1);
    ::tcsetattr(0, TCSADRAIN, &saved_mode);
    raw_on = false;
}

void on_fatal_signal(int sig) {
    restore_mode();
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

void on_winch(int) { resized = 1; }

void install_handlers() {
    if (handlers_installed) return;
    handlers_installed = true;
    std::atexit(restore_mode);
    for (int sig : {SIGTERM, SIGHUP, SIGQUIT, SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL}) {
        struct sigaction old {};
        ::sigaction(sig, nullptr, &old);
        // A handler already there (the runtime's fault handlers) stays: it
        // ends the process through exit paths of its own.
        if (old.sa_handler == SIG_DFL) ::signal(sig, on_fatal_signal);
    }
    struct sigaction sa {};
    sa.sa_handler = on_winch;
    ::sigemptyset(&sa.sa_mask);
    ::sigaction(SIGWINCH, &sa, nullptr);
}

void set_raw(bool on) {
    if (on == raw_on) return;
    if (on) {
        if (::tcgetattr(0, &saved_mode) != 0) return;
        install_handlers();
        termios raw = saved_mode;
        raw.c_iflag &= ~tcflag_t(IXON | ICRNL | INLCR | IGNCR | ISTRIP);
        raw.c_lflag &= ~tcflag_t(ICANON | ECHO | ISIG | IEXTEN);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        if (::tcsetattr(0, TCSADRAIN, &raw) != 0) return;
        raw_on = true;
        static const char bracketed[] = "\x1b[?2004h";
        output::flush();
        (void)!::write(1, bracketed, sizeof bracketed - 1);
    } else {
        output::flush();
        restore_mode();
    }
}

int columns = 80, rows = 24;

int positive_env(const char* name) {
    const char* v = std::getenv(name);
    if (!v || !*v) return 0;
    char* end = nullptr;
    long n = std::strtol(v, &end, 10);
    return (*end == 0 && n > 0 && n < 100000) ? int(n) : 0;
}

void measure() {
    if (!resized) return;
    resized = 0;
    int c = positive_env("COLUMNS"), r = positive_env("LINES");
    winsize ws{};
    if ((!c || !r) && ::ioctl(1, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0) {
        if (!c) c = ws.ws_col;
        if (!r) r = ws.ws_row;
    }
    columns = c ? c : 80;
    rows = r ? r : 24;
}

void out(const std::string& s) {
    output::flush();
    runtime::write_all(1, s.data(), s.size());
}

// --- keys ----------------------------------------------------------------------

Cell key_record(const Cell& key, bool ctrl, bool shift) {
    Cell b = none_cell();
    collector::Root keep(b);
    block::make_at(b, 3);
    block::rs_append(b, key);
    block::rs_append(b, logic_cell(ctrl));
    block::rs_append(b, logic_cell(shift));
    return b;
}

Cell word_key(const char* name, int modifier) {
    // xterm modifier parameter: 1 + (1 shift, 2 alt, 4 ctrl)
    int m = modifier > 1 ? modifier - 1 : 0;
    return key_record(string::word_of(name), (m & 4) != 0, (m & 1) != 0);
}

// The text of a bracketed paste, up to ESC [ 201 ~.
Cell read_paste() {
    static const std::string end = "\x1b[201~";
    std::string text;
    for (;;) {
        int b = next_byte(-1);
        if (b < 0) break;
        text += char(b);
        if (text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0) {
            text.resize(text.size() - end.size());
            break;
        }
    }
    return platform::text::decode(repair_utf8(text), false);
}

const char* tilde_key(int n) {
    switch (n) {
        case 1: case 7: return "home";
        case 4: case 8: return "end";
        case 2: return "insert";
        case 3: return "delete";
        case 5: return "page-up";
        case 6: return "page-down";
        case 11: return "F1";
        case 12: return "F2";
        case 13: return "F3";
        case 14: return "F4";
        case 15: return "F5";
        case 17: return "F6";
        case 18: return "F7";
        case 19: return "F8";
        case 20: return "F9";
        case 21: return "F10";
        case 23: return "F11";
        case 24: return "F12";
        default: return nullptr;
    }
}

const char* final_key(int c) {
    switch (c) {
        case 'A': return "up";
        case 'B': return "down";
        case 'C': return "right";
        case 'D': return "left";
        case 'H': return "home";
        case 'F': return "end";
        case 'P': return "F1";
        case 'Q': return "F2";
        case 'R': return "F3";
        case 'S': return "F4";
        default: return nullptr;
    }
}

// After ESC: a CSI or SS3 sequence, Alt with a key (taken as the key), or a
// lone Escape when nothing follows within 50 ms.
Cell escape_sequence() {
    int b = next_byte(50);
    if (b < 0) return key_record(char_cell(27), false, false);
    if (b == '[' || b == 'O') {
        int params[4] = {0, 0, 0, 0};
        int np = 0;
        int c;
        for (;;) {
            c = next_byte(50);
            if (c < 0) return key_record(char_cell(27), false, false);
            if (c >= '0' && c <= '9') {
                if (np == 0) np = 1;
                params[np - 1] = params[np - 1] * 10 + (c - '0');
            } else if (c == ';') {
                if (np == 0) np = 1;
                if (np < 4) ++np;
            } else {
                break;
            }
        }
        if (c == '~') {
            if (params[0] == 200) return read_paste();
            if (const char* k = tilde_key(params[0])) return word_key(k, params[1]);
            return none_cell();
        }
        if (const char* k = final_key(c)) return word_key(k, np >= 2 ? params[1] : params[0]);
        return none_cell();
    }
    if (b == 27) return key_record(char_cell(27), false, false);
    in_pos--;  // Alt with a key: the key alone
    return none_cell();
}

Cell utf8_key(int first) {
    std::string bytes(1, char(first));
    uint32_t n = unicode::utf8_char_size(uint8_t(first));
    for (uint32_t i = 1; i < n && n <= 4; ++i) {
        int b = next_byte(50);
        if (b < 0) break;
        bytes += char(b);
    }
    std::string ok = repair_utf8(bytes);
    int32_t cp = 0xFFFD;
    unicode::fast_decode_utf8_char(reinterpret_cast<const uint8_t*>(ok.data()), cp);
    return key_record(char_cell(uint32_t(cp < 0 ? 0xFFFD : cp)), false, false);
}

// --- display width -------------------------------------------------------------

int char_width(uint32_t c) {
    if (c < 32 || c == 127) return 2;  // shown as ^X
    if ((c >= 0x300 && c <= 0x36F) || (c >= 0x200B && c <= 0x200F)) return 0;
    if ((c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
        (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
        (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
        (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD))
        return 2;
    return 1;
}

void put_utf8(std::string& s, uint32_t c) {
    uint8_t b[4];
    uint32_t n = unicode::cp_to_utf8(c, b);
    s.append(reinterpret_cast<const char*>(b), n);
}

// The rows the last drawing took and the row of its caret, counted from its
// first row: the next drawing starts by going back there.
int drawn_caret_row = 0;
int drawn_end_row = 0;

// Per-character style: SGR text, empty for plain.
struct Style {
    std::string sgr;
};

void erase_drawing() {
    std::string s = "\r";
    if (drawn_caret_row > 0) s += "\x1b[" + std::to_string(drawn_caret_row) + "A";
    s += "\x1b[J";
    out(s);
    drawn_caret_row = drawn_end_row = 0;
}

std::string sgr_of(const Cell* values, int32_t count) {
    std::string s;
    for (int32_t i = 0; i < count; ++i) {
        const Cell& v = values[i];
        if (is(v, Type::tuple) && tuple_length(v) >= 3) {
            uint8_t b[12];
            tuple_bytes(v, b);
            if (i > 0 && is(values[i - 1], Type::word) &&
                symbol::resolve(word_symbol(values[i - 1])) == symbol::resolve(symbol::make("backdrop")))
                continue;
            s += ";38;2;" + std::to_string(b[0]) + ";" + std::to_string(b[1]) + ";" + std::to_string(b[2]);
        } else if (is(v, Type::word)) {
            uint32_t w = symbol::resolve(word_symbol(v));
            if (w == symbol::resolve(symbol::make("bold"))) s += ";1";
            else if (w == symbol::resolve(symbol::make("underline"))) s += ";4";
            else if (w == symbol::resolve(symbol::make("backdrop"))) s += ";7";
        }
    }
    return s;
}

// console-draw line flag caret styles: draws the open output text, then the
// whole input line (characters after `flag` of them as "*" when flag is not
// 0), over the rows they need, and puts the cursor at character `caret` of
// the line (0-based). Styles are rich-text ranges (start x length, then
// colours and words); a backdrop shows reversed.
void draw(Cell* args) {
    measure();
    std::u32string open = output::open_line();
    Cell line = args[0];
    uint32_t flag = uint32_t(std::max(0, int_of(args[1])));
    int32_t caret = int_of(args[2]);
    std::string full_text = platform::text::encode(line);  // from the head
    std::u32string chars;
    {
        const auto* p = reinterpret_cast<const uint8_t*>(full_text.data());
        const auto* end = p + full_text.size();
        while (p < end) {
            int32_t cp = 0;
            const uint8_t* q = unicode::fast_decode_utf8_char(p, cp);
            chars.push_back(char32_t(cp < 0 ? 0xFFFD : cp));
            p = q > p ? q : p + 1;
        }
    }
    std::vector<std::string> styles(chars.size());
    if (is(args[3], Type::block)) {
        Cell b = args[3];
        int32_t n = block::rs_length(b);
        int32_t start = int32_t(series_index(b));
        for (int32_t i = 0; i < n;) {
            const Cell* c = block::rs_abs_at(b, start + i);
            if (!is(*c, Type::pair)) {
                ++i;
                continue;
            }
            int32_t j = i + 1;
            while (j < n && !is(*block::rs_abs_at(b, start + j), Type::pair)) ++j;
            std::string sgr = sgr_of(block::rs_abs_at(b, start + i + 1), j - i - 1);
            int32_t from = pair_x(*c) - 1, len = pair_y(*c);
            for (int32_t k = std::max(0, from); k < from + len && k < int32_t(chars.size()); ++k)
                styles[size_t(k)] += sgr;
            i = j;
        }
    }
    std::string s = "\r";
    if (drawn_caret_row > 0) s += "\x1b[" + std::to_string(drawn_caret_row) + "A";
    s += "\x1b[J";
    int col = 0, row = 0;
    auto advance = [&](int w) {
        if (col + w > columns) {
            ++row;
            col = 0;
        }
        col += w;
    };
    for (char32_t c : open) {
        if (c == '\r' || c == '\t' || c < 32) continue;
        put_utf8(s, c);
        advance(char_width(c));
    }
    int caret_row = row, caret_col = col;
    std::string current;
    for (size_t i = 0; i < chars.size(); ++i) {
        if (int32_t(i) == caret) {
            caret_row = row;
            caret_col = col;
            if (caret_col >= columns) {
                caret_row++;
                caret_col = 0;
            }
        }
        uint32_t c = chars[i];
        if (flag && i >= flag) c = '*';
        if (styles[i] != current) {
            s += "\x1b[0m";
            if (!styles[i].empty()) s += "\x1b[" + styles[i].substr(1) + "m";
            current = styles[i];
        }
        if (c < 32 || c == 127) {
            s += '^';
            s += char(c == 127 ? '?' : c + 64);
        } else {
            put_utf8(s, c);
        }
        advance(char_width(c));
    }
    if (!current.empty()) s += "\x1b[0m";
    if (caret >= int32_t(chars.size())) {
        caret_row = row;
        caret_col = col;
        if (caret_col >= columns) {
            caret_row++;
            caret_col = 0;
        }
    }
    int end_row = row;
    if (caret_row > end_row) {
        s += "\r\n";
        end_row = caret_row;
        row = caret_row;
    }
    // From the end of the text back to the caret.
    if (row > caret_row) s += "\x1b[" + std::to_string(row - caret_row) + "A";
    s += "\r";
    if (caret_col > 0) s += "\x1b[" + std::to_string(caret_col) + "C";
    out(s);
    drawn_caret_row = caret_row;
    drawn_end_row = end_row;
    args[0] = unset_cell();
}

// --- routines ------------------------------------------------------------------

// console-mode: `piped` (standard input is no terminal), `cooked` (a terminal
// read a line at a time: standard output is no terminal, or TERM is dumb or
// unset) or `raw` (our line editor).
void mode(Cell* args) {
    const char* m = "piped";
    if (::isatty(0)) {
        const char* term = std::getenv("TERM");
        bool dumb = !term || !*term || std::strcmp(term, "dumb") == 0;
        m = (::isatty(1) && !dumb) ? "raw" : "cooked";
    }
    args[0] = string::word_of(m);
}

// console-read-line: the next line of standard input without its LF (or
// CR LF), none at its end; a last line without LF counts.
void read_line(Cell* args) {
    output::flush();
    bool tty = ::isatty(0);
    std::string line;
    for (;;) {
        size_t lf = in_buf.find('\n', in_pos);
        if (lf != std::string::npos) {
            line.assign(in_buf, in_pos, lf - in_pos);
            in_pos = lf + 1;
            break;
        }
        if (!fill(-1)) {
            if (interrupted || (!in_eof && errno == EINTR)) {
                interrupted = 0;
                // Ctrl+C while a line is typed: the line is given up.
                line.assign(in_buf, in_pos, std::string::npos);
                in_pos = in_buf.size();
                line += '\x1b';
                if (tty) output::end_line();
                args[0] = platform::text::decode(repair_utf8(line), false);
                return;
            }
            if (in_pos == in_buf.size()) {
                args[0] = none_cell();
                return;
            }
            line.assign(in_buf, in_pos, std::string::npos);
            in_pos = in_buf.size();
            break;
        }
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (tty) output::end_line();  // the terminal echoed the line end
    args[0] = platform::text::decode(repair_utf8(line), false);
}

// console-read-key: the next key as a block [key ctrl? shift?], a string for
// a bracketed paste, the word `resize` when the window changed size, none at
// the end of input.
void read_key(Cell* args) {
    output::flush();
    for (;;) {
        if (resized) {
            args[0] = string::word_of("resize");
            measure();
            return;
        }
        int b = next_byte(-1);
        if (b < 0) {
            if (in_eof) {
                args[0] = none_cell();
                return;
            }
            continue;
        }
        Cell k = none_cell();
        switch (b) {
            case 27: k = escape_sequence(); break;
            case 127: k = key_record(char_cell(8), false, false); break;
            case 8: k = key_record(char_cell(8), true, false); break;
            case 3: k = key_record(char_cell(27), false, false); break;  // Ctrl+C acts as Esc
            case 13: case 10: k = key_record(char_cell(13), false, false); break;
            case 9: k = key_record(char_cell(9), false, false); break;
            default:
                if (b < 32) k = key_record(char_cell(uint32_t(b)), true, false);
                else if (b < 128) k = key_record(char_cell(uint32_t(b)), false, false);
                else k = utf8_key(b);
        }
        if (!is(k, Type::none)) {
            args[0] = k;
            return;
        }
    }
}

void raw(Cell* args) {
    set_raw(is_truthy(args[0]));
    args[0] = unset_cell();
}

void erase(Cell* args) {
    erase_drawing();
    args[0] = unset_cell();
}

// console-end-line: leaves the drawn input line below its last row and
// starts a new line; what was printed before it on its row is closed too.
void end_line(Cell* args) {
    std::string s;
    int down = drawn_end_row - drawn_caret_row;
    if (down > 0) s += "\x1b[" + std::to_string(down) + "B";
    s += "\r\n";
    out(s);
    drawn_caret_row = drawn_end_row = 0;
    output::end_line();
    args[0] = unset_cell();
}

void clear_screen(Cell* args) {
    out("\x1b[H\x1b[2J");
    drawn_caret_row = drawn_end_row = 0;
    output::end_line();
    args[0] = unset_cell();
}

void size(Cell* args) {
    measure();
    args[0] = pair_cell(columns, rows);
}

// system/console/init: the terminal's title (OSC 0), only when standard
// output is a terminal. A terminal that ignores it changes nothing.
void set_title(Cell* args) {
    if (::isatty(1) && is(args[0], Type::string)) {
        std::string t = platform::text::encode(args[0]);
        for (char& c : t)
            if (uint8_t(c) < 32 || c == 127) c = ' ';
        out("\x1b]0;" + t + "\x07");
    }
    args[0] = unset_cell();
}

// get-caret-blink-time: half of GTK's cursor blink cycle in milliseconds, -1
// when the cursor does not blink or there is no display.
void caret_blink_time(Cell* args) {
    int32_t ms = -1;
    if (platform::gtk::start()) {
        if (GtkSettings* s = gtk_settings_get_default()) {
            gboolean blink = TRUE;
            gint time = 1200;
            g_object_get(s, "gtk-cursor-blink", &blink, "gtk-cursor-blink-time", &time, nullptr);
            if (blink) ms = time / 2;
        }
    }
    args[0] = integer_cell(ms);
}

}  // namespace

void install() {
    routines::add("console-mode", mode);
    routines::add("console-read-line", read_line);
    routines::add("console-read-key", read_key);
    routines::add("console-raw", raw);
    routines::add("console-draw", draw);
    routines::add("console-erase", erase);
    routines::add("console-end-line", end_line);
    routines::add("console-clear-screen", clear_screen);
    routines::add("console-size", size);
    routines::add("console-set-title", set_title);
    routines::add("get-caret-blink-time", caret_blink_time);
}

}  // namespace zan::console
