// url!: mold with percent escapes, percent coding, path steps, conversion
// from blocks, and reading and writing through outside services.
//
// Molding and encoding work on the UTF-8 bytes of the text, so a character
// beyond ASCII becomes the escapes of its UTF-8 sequence; decoding reads them
// back as one character.
#include "datatypes/url.h"

#include <cstring>
#include <string>

#include "datatypes/datatype.h"
#include "datatypes/mold.h"
#include "datatypes/string.h"
#include "datatypes/string_actions.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace zan::url {

namespace {

Services hooks;

// The path-safe and unreserved characters below 0x80, one bit table each.
struct Tables {
    bool safe[128] = {};
    bool unreserved[128] = {};
    constexpr Tables() {
        for (int c = 0; c < 128; ++c) {
            bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
            unreserved[c] = alnum || c == '-' || c == '.' || c == '_' || c == '~';
            safe[c] = alnum;
        }
        for (const char* p = "!#$&'()*+,-./:=?_~@"; *p; ++p) safe[int(*p)] = true;
    }
};
constexpr Tables tables;

std::string utf8_of(const Cell& s) { return string::to_utf8(s); }

[[noreturn]] void unavailable(const Cell& url) { errors::fire(errors::id::cannot_open, &url); }

// The lexer reads no escapes before a url's first ":", so characters it takes
// there are molded as they are: an escape would not read back as the same url.
bool raw_in_scheme_q(uint8_t lead) { return lead >= 0x80 || lead == '`' || lead == '|' || lead == '>'; }

bool http_q(const Cell& url) { return string::head_equal_literal_q(url, "http"); }

void append_bytes(Node target, const char* bytes, uint32_t n) {
    memory::Series* s = memory::buffer(target);
    if (s->tail + n > s->capacity)
        s = memory::expand_series_copy(target, uint64_t(s->tail - s->head + n) * 2);
    std::memcpy(s->at_tail(), bytes, n);
    s->tail += n;
}

Cell call_http(const Cell& method, const Cell& url, const Cell& headers, const Cell& body,
               bool binary, bool lines, bool info) {
    if (!hooks.http_request) unavailable(url);
    Cell result = hooks.http_request(method, url, headers, body, binary, lines, info);
    if (is(result, Type::none)) errors::fire(errors::id::no_connect, &url);
    return result;
}

}  // namespace

bool path_safe_q(uint32_t c) { return c < 128 && tables.safe[c]; }
bool unreserved_q(uint32_t c) { return c < 128 && tables.unreserved[c]; }

int32_t hex_digit(uint32_t c) {
    if (c >= '0' && c <= '9') return int32_t(c - '0');
    if (c >= 'A' && c <= 'F') return int32_t(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return int32_t(c - 'a' + 10);
    return -1;
}

void percent_decode(const Cell& source, Node target) {
    collector::NodeRoot keep(target);
    std::string bytes = utf8_of(source);
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    size_t n = bytes.size(), i = 0;
    auto escape_at = [&](size_t at) -> int32_t {
        if (at + 2 >= n || p[at] != '%') return -1;
        int32_t hi = hex_digit(p[at + 1]), lo = hex_digit(p[at + 2]);
        return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
    };
    while (i < n) {
        int32_t b = escape_at(i);
        if (b >= 0) {
            uint32_t size = unicode::utf8_char_size(uint8_t(b));
            if (size == 0) {
                string::append_char(target, uint32_t(b));
                i += 3;
                continue;
            }
            uint8_t seq[4] = {uint8_t(b)};
            bool whole = true;
            for (uint32_t k = 1; k < size && whole; ++k) {
                int32_t c = escape_at(i + 3 * k);
                if (c < 0)
                    whole = false;
                else
                    seq[k] = uint8_t(c);
            }
            if (whole) {
                int32_t count = int32_t(size);
                int32_t cp = unicode::decode_utf8_checked(seq, count);
                if (cp >= 0) {
                    string::append_char(target, uint32_t(cp));
                    i += 3 * size;
                    continue;
                }
            }
        }
        // Plain text, a "%" without two digits, or a lead escape without its followers.
        int32_t count = int32_t(n - i);
        int32_t cp = unicode::decode_utf8_checked(p + i, count);
        if (cp < 0) unicode::fire_invalid_utf8(p + i, uint32_t(n - i));
        string::append_char(target, uint32_t(cp));
        i += size_t(count);
    }
}

void percent_encode(const Cell& source, Node target, int32_t mode) {
    collector::NodeRoot keep(target);
    std::string bytes = utf8_of(source);
    for (unsigned char c : bytes) {
        bool keep_byte = mode == 254 ? unreserved_q(c) : path_safe_q(c);
        if (keep_byte) {
            char b = char(c);
            append_bytes(target, &b, 1);
        } else {
            char esc[3] = {'%', string::byte_to_hex(c)[0], string::byte_to_hex(c)[1]};
            append_bytes(target, esc, 3);
        }
    }
}

void set_services(const Services& s) { hooks = s; }
const Services& services() { return hooks; }

Cell open_port(const Cell& given, const actions::OpenRefs* open) {
    Cell url = given;
    collector::Root keep(url);
    if (!hooks.parse_url || !hooks.make_port) unavailable(url);
    Cell parts = hooks.parse_url(url);
    collector::Root keep_parts(parts);
    if (!is(parts, Type::object)) errors::fire(errors::id::invalid_arg, &url);
    Cell args[2] = {hooks.make_port(parts), none_cell()};
    collector::Root keep_port(args[0]);
    if (open) {
        auto fn = datatype::row(Type::port).open.fn;
        if (!fn) errors::fire(errors::id::no_port_action);
        fn(args, *open);
    }
    return args[0];
}

// --- actions ------------------------------------------------------------------------

void make(Args args, Type type) {
    Type t = type_of(args[1]);
    if (t == Type::block || t == Type::paren || t == Type::hash)
        to(args, type);
    else
        string::make(args, type);
}

void to(Args args, Type type) {
    Cell spec = args[1];
    Type t = type_of(spec);
    if (type == Type::file || (t != Type::block && t != Type::paren && t != Type::hash)) {
        string::to(args, type);
        return;
    }
    collector::Root keep(spec);
    Node n = series_node(spec);
    uint32_t from = series_index(spec), len = memory::buffer(n)->length();
    if (from >= len) {
        Cell target = datatype_cell(type);
        errors::fire(errors::id::bad_to_arg, &target, &spec);
    }
    Cell result = string::make_value(16, type);
    collector::Root keep_result(result);
    Node out = series_node(result);
    auto item = [&](uint32_t i) { return memory::buffer(n)->cells()[i]; };
    auto form = [&](uint32_t i) {
        Cell c = item(i);
        collector::Root keep_item(c);
        mold::form_value(c, out, false, mold::no_limit);
    };
    form(from);
    string::append_ascii(out, "://");
    uint32_t i = from + 1;
    if (i < len) form(i++);
    if (i < len && is(item(i), Type::integer)) {
        string::append_char(out, ':');
        form(i++);
    }
    for (; i < len; ++i) {
        string::append_char(out, is(item(i), Type::issue) ? '#' : '/');
        form(i);
    }
    args[0] = result;
}

int32_t mold(const Cell& value, Node buffer, actions::MoldFlags, bool part, int32_t budget,
             int32_t) {
    collector::NodeRoot keep(buffer);
    std::string bytes = utf8_of(value);
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    size_t n = bytes.size(), colon = bytes.find(':');
    int32_t written = 0;
    for (size_t i = 0; i < n;) {
        if (part && written >= budget) break;
        uint8_t c = p[i];
        if (colon != std::string::npos && i < colon && raw_in_scheme_q(c)) {
            int32_t count = int32_t(n - i);
            int32_t cp = unicode::decode_utf8_checked(p + i, count);
            if (cp >= 0) {
                string::append_char(buffer, uint32_t(cp));
                written += 1;
                i += size_t(count);
                continue;
            }
        }
        if (path_safe_q(c)) {
            string::append_char(buffer, c);
            written += 1;
        } else {
            string::append_char(buffer, '%');
            string::append_ascii(buffer, string::byte_to_hex(c));
            written += 3;
        }
        ++i;
    }
    return budget - written;
}

void eval_path(Cell& result, const Cell& parent, const actions::PathStep& s) {
    if (s.value_to_set) errors::fire(errors::id::bad_path_set, &parent, s.element);
    Cell selector = *s.element;
    collector::Root keep_sel(selector);
    if (is(selector, Type::get_word)) selector = word::get(selector);
    Cell joined = string::make_value(string::length(parent) + 16, type_of(parent));
    collector::Root keep(joined);
    Node out = series_node(joined);
    string::concatenate(joined, parent, -1, 0, true, string::Mode::append);
    Cell text = string::make_value(16);
    collector::Root keep_text(text);
    mold::form_value(selector, series_node(text), false, mold::no_limit);
    bool ends = string::last_char(out) == '/';
    bool begins = string::length(text) > 0 && string::char_at(series_node(text), 0) == '/';
    if (ends && begins)
        text.w1 = 1;
    else if (!ends && !begins)
        string::append_char(out, '/');
    string::concatenate(joined, text, -1, 0, true, string::Mode::append);
    result = joined;
}

void open(Args args, const actions::OpenRefs& r) { args[0] = open_port(args[0], &r); }

void read(Args args, const actions::ReadRefs& r) {
    Cell url = args[0];
    collector::Root keep(url);
    if (http_q(url)) {
        if (r.part || r.seek || r.as) errors::fire(errors::id::not_done);
        Cell method = string::word_of("get");
        Cell none = none_cell();
        args[0] = call_http(method, url, none, none, r.binary, r.lines, r.info);
        return;
    }
    args[0] = open_port(url, nullptr);
    auto fn = datatype::row(Type::port).read.fn;
    if (!fn) errors::fire(errors::id::no_port_action);
    fn(args, r);
}

void write(Args args, const actions::WriteRefs& r) {
    Cell url = args[0];
    collector::Root keep(url);
    if (!http_q(url)) {
        args[0] = open_port(url, nullptr);
        auto fn = datatype::row(Type::port).write.fn;
        if (!fn) errors::fire(errors::id::no_port_action);
        fn(args, r);
        return;
    }
    if (r.seek || r.allow || r.as) errors::fire(errors::id::not_done);
    Cell data = args[1];
    collector::Root keep_data(data);
    Cell method = string::word_of("post"), headers = none_cell(), body = data;
    collector::Root k1(method), k2(headers), k3(body);
    if (is(data, Type::block)) {
        Node n = series_node(data);
        uint32_t from = series_index(data), len = memory::buffer(n)->length();
        auto item = [&](uint32_t i) { return memory::buffer(n)->cells()[i]; };
        method = string::word_of("get");
        body = none_cell();
        if (from < len) {
            Cell m = item(from);
            if (!is(m, Type::word)) errors::fire(errors::id::invalid_arg, &m);
            method = zan::make_cell(Type::word, 0, symbol::resolve(word_symbol(m)), uint32_t(-1));
        }
        if (from + 1 < len) {
            headers = item(from + 1);
            if (!is(headers, Type::block)) errors::fire(errors::id::invalid_arg, &headers);
        }
        if (from + 2 < len) body = item(from + 2);
    }
    if (!is(body, Type::none) && !is(body, Type::block) && !is(body, Type::string) &&
        !is(body, Type::binary))
        errors::fire(errors::id::invalid_arg, &body);
    args[0] = call_http(method, url, headers, body, r.binary, r.lines, r.info);
}

void inherit_series(actions::Row& row) {
    actions::inherit_series_slots(row);
    using S = actions::Slot;
    actions::inherit(row, {S::form, S::compare, S::append, S::change, S::copy, S::find, S::insert,
                           S::select, S::swap});
}

void init() {
    actions::Row row;
    row.make = &make;
    row.to = &to;
    row.mold = &mold;
    row.eval_path = &eval_path;
    inherit_series(row);
    row.open = &open;
    row.read = &read;
    row.write = &write;
    datatype::register_type(Type::url, Type::string, "url!", row);
}


}  // namespace zan::url
