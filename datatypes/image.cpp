// image! actions over the back end's records: make and to, mold, paths,
// compare, walking, pick and poke, change and copy in rectangles.
#include "datatypes/image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "datatypes/binary.h"
#include "datatypes/datatype.h"
#include "datatypes/image_backend.h"
#include "gui/backend/backend.h"
#include "datatypes/mold.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/ownership.h"

namespace zan::image {

namespace {

using actions::Args;

uint32_t head_of(const Cell& img) { return series_index(img); }

void notify(const Cell& img, const char* action, int32_t index, int32_t count, const Cell* value = nullptr) {
    if (!has_flag(img, ownership::owned_cell_flag)) return;
    Cell word = make_cell(Type::word, 0, symbol::make(action), uint32_t(-1));
    ownership::check(img, word, index, count, -1, value);
}

// The offset an index value names: base 1 for pick, poke and at, base 0 for
// skip; clamped to 0 .. w*h, with `out` telling whether it was out of range.
int64_t position(const Cell& img, const Cell& index, int base, bool& out) {
    int64_t w = width_of(img), h = height_of(img), total = w * h, e = 0;
    out = false;
    if (is(index, Type::integer)) {
        e = int_of(index);
    } else if (is(index, Type::pair)) {
        int64_t x = pair_x(index), y = pair_y(index);
        e = base == 1 && y > 0 ? x + w * (y - 1) : x + w * y;
        out = base == 1 ? (x < 1 || x > w || y < 1 || y > h) : (x < 0 || x >= w || y < 0 || y >= h);
    } else {
        out = true;
    }
    int64_t off = e + int64_t(head_of(img)) - base;
    if (base == 1 && e <= 0) off += 1;
    if (e == 0 || off < 0 || off >= total) out = true;
    return std::clamp<int64_t>(off, 0, total);
}

void make(Args args, Type) {
    Cell spec = args[1];
    collector::Root keep(spec);
    const Cell* rgb = nullptr;
    const Cell* alpha = nullptr;
    const Cell* colour = nullptr;
    Cell size = spec, second = none_cell(), third = none_cell();
    collector::Root k2(second), k3(third);
    if (is(spec, Type::block)) {
        Node n = series_node(spec);
        uint32_t from = series_index(spec), total = memory::buffer(n)->length();
        uint32_t count = from < total ? total - from : 0;
        if (count == 0) {
            if (!is(args[0], Type::image)) errors::fire(errors::id::invalid_arg, &spec);
            Node rec = series_node(args[0]) ? clone(series_node(args[0])) : 0;
            Cell out;
            init_image(out, rec, width_of(args[0]), height_of(args[0]));
            args[0] = out;
            return;
        }
        size = memory::buffer(n)->cells()[from];
        if (!is(size, Type::pair)) errors::fire(errors::id::invalid_arg, &size);
        if (count > 1) {
            second = memory::buffer(n)->cells()[from + 1];
            if (is(second, Type::binary)) rgb = &second;
            else if (is(second, Type::tuple)) colour = &second;
            else errors::fire(errors::id::invalid_arg, &second);
        }
        if (count > 2) {
            third = memory::buffer(n)->cells()[from + 2];
            if (!is(third, Type::binary)) errors::fire(errors::id::invalid_arg, &third);
            alpha = &third;
        }
    } else if (!is(spec, Type::pair)) {
        Cell type = datatype_cell(Type::image);
        if (!is(spec, Type::image)) errors::fire(errors::id::bad_to_arg, &type, &spec);
        Node rec = series_node(spec) ? clone(series_node(spec)) : 0;
        Cell out;
        init_image(out, rec, width_of(spec), height_of(spec));
        args[0] = out;
        return;
    }
    uint32_t w = uint32_t(std::max(0, pair_x(size))), h = uint32_t(std::max(0, pair_y(size)));
    if (w > 65535 || h > 65535) errors::fire(errors::id::invalid_arg, &size);
    // Copies of the bytes: filling may collect, which moves series buffers.
    std::string rgb_bytes = rgb ? binary::bytes_of(*rgb) : std::string();
    std::string alpha_bytes = alpha ? binary::bytes_of(*alpha) : std::string();
    Node rec = make_bitmap(w, h, rgb ? reinterpret_cast<const uint8_t*>(rgb_bytes.data()) : nullptr,
                           rgb_bytes.size(), alpha ? reinterpret_cast<const uint8_t*>(alpha_bytes.data()) : nullptr,
                           alpha_bytes.size(), colour);
    Cell out;
    init_image(out, rec, w, h);
    args[0] = out;
}

void to(Args args, Type) {
    Cell type = datatype_cell(Type::image);
    // A face: what it shows on screen (none without a window).
    if (is(args[1], Type::object)) {
        args[0] = gui::capture_face_image(args[1]);
        return;
    }
    if (!is(args[1], Type::image)) errors::fire(errors::id::bad_to_arg, &type, &args[1]);
    Cell src = args[1];
    Node rec = series_node(src) ? clone(series_node(src)) : 0;
    Cell out;
    init_image(out, rec, width_of(src), height_of(src));
    args[0] = out;
}

int32_t mold(const Cell& img, Node buffer, actions::MoldFlags f, bool part, int32_t budget, int32_t indent) {
    char text[32];
    if (!f.only) budget = mold::append(buffer, "make image! [", budget);
    std::snprintf(text, sizeof text, "%ux%u", width_of(img), height_of(img));
    budget = mold::append(buffer, text, budget);
    if (!series_node(img)) {
        budget = mold::append(buffer, " #{}", budget);
        return f.only ? budget : mold::append(buffer, "]", budget);
    }
    uint32_t total = pixel_count(img), head = std::min(head_of(img), total), count = total - head;
    bool broken = !f.flat && uint64_t(count) * 4 > 30;
    auto line = [&](int32_t level) {
        budget = mold::append(buffer, "\n", budget);
        budget = mold::indent(buffer, level, budget);
    };
    budget = mold::append(buffer, " #{", budget);
    if (broken) line(indent);
    bool translucent = false;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t p = read_pixels(series_node(img))[head + i];
        if (p >> 24 < 255) translucent = true;
        std::snprintf(text, sizeof text, "%02X%02X%02X", p >> 16 & 0xFF, p >> 8 & 0xFF, p & 0xFF);
        budget = mold::append(buffer, text, budget);
        if (!f.flat && (i + 1) % 10 == 0) line(indent);
        if (part && budget <= 0) return budget;
    }
    if (broken && count % 10 != 0) line(indent - 1);
    budget = mold::append(buffer, "}", budget);
    if (translucent) {
        budget = mold::append(buffer, " #{\n", budget);
        budget = mold::indent(buffer, indent, budget);
        for (uint32_t i = 0; i < total; ++i) {
            uint32_t p = read_pixels(series_node(img))[i];
            std::snprintf(text, sizeof text, "%02X", 255 - (p >> 24));
            budget = mold::append(buffer, text, budget);
            if (!f.flat && (i + 1) % 10 == 0) line(indent);
            if (part && budget <= 0) return budget;
        }
        line(indent - 1);
        budget = mold::append(buffer, "}", budget);
    }
    return f.only ? budget : mold::append(buffer, "]", budget);
}

int32_t form(const Cell& img, Node buffer, bool part, int32_t budget) {
    return mold(img, buffer, actions::MoldFlags{}, part, budget, 1);
}

void pick(Args args, int32_t) {
    bool out;
    int64_t off = position(args[0], args[1], 1, out);
    args[0] = out ? none_cell() : pick_pixel(args[0], off);
}

void poke(Args args, int32_t) {
    bool out;
    int64_t off = position(args[0], args[1], 1, out);
    if (out) errors::fire(errors::id::out_of_range, &args[1]);
    if (!is(args[2], Type::tuple)) errors::fire(errors::id::invalid_arg, &args[2]);
    uint8_t b[12];
    tuple_bytes(args[2], b);
    uint32_t a = tuple_length(args[2]) >= 4 ? 255u - b[3] : 255u;
    write_pixels(series_node(args[0]))[off] = a << 24 | uint32_t(b[0]) << 16 | uint32_t(b[1]) << 8 | b[2];
    notify(args[0], "poke", int32_t(off), 1, &args[2]);
    args[0] = args[2];
}

void eval_path(Cell& result, const Cell& parent, const actions::PathStep& s) {
    const Cell& e = *s.element;
    if (is(e, Type::integer) || is(e, Type::pair)) {
        Cell args[3] = {parent, e, s.value_to_set ? *s.value_to_set : none_cell()};
        collector::Root k0(args[0]), k1(args[1]), k2(args[2]);
        if (s.value_to_set) poke(args, 0);
        else pick(args, 0);
        result = args[0];
        return;
    }
    int32_t field = scalar::field_of_word(e, {"size", "alpha", "rgb", "argb"});
    if (field == 0 || (field == 1 && s.value_to_set)) scalar::invalid_path(s);
    if (field == 1) {
        result = pair_cell(int32_t(width_of(parent)), int32_t(height_of(parent)));
        return;
    }
    int kind = field - 2;
    if (!s.value_to_set) {
        result = extract_data(parent, kind);
        return;
    }
    set_data(parent, *s.value_to_set, kind);
    notify(parent, "poke", int32_t(head_of(parent)), 0, s.value_to_set);
    result = *s.value_to_set;
}

int32_t compare(const Cell& a, const Cell& b, int32_t op) {
    if (!is(b, Type::image)) return -2;
    bool same = series_node(a) == series_node(b) && head_of(a) == head_of(b);
    if (op == 9) return same ? 0 : -1;
    if (same && op <= 2) return 0;
    if (op > 2 && op != 7 && op != 8 && op != 12) return -2;
    uint32_t na = series_node(a) ? pixel_count(a) : 0, nb = series_node(b) ? pixel_count(b) : 0;
    if (na != nb) return na < nb ? -1 : 1;
    // Same pixel count, different shapes are different images.
    if (width_of(a) != width_of(b)) return width_of(a) < width_of(b) ? -1 : 1;
    if (na == 0) return 0;
    const uint32_t* pa = read_pixels(series_node(a));
    const uint32_t* pb = read_pixels(series_node(b));
    int c = std::memcmp(pa, pb, size_t(na) * 4);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

void at(Args args) {
    bool out;
    set_series_index(args[0], uint32_t(position(args[0], args[1], 1, out)));
}

void skip(Args args) {
    bool out;
    set_series_index(args[0], uint32_t(position(args[0], args[1], 0, out)));
}

void next(Args args) {
    if (head_of(args[0]) < pixel_count(args[0])) set_series_index(args[0], head_of(args[0]) + 1);
}

void tail(Args args) { set_series_index(args[0], pixel_count(args[0])); }
void tail_q(Args args) { args[0] = logic_cell(head_of(args[0]) >= pixel_count(args[0])); }
int32_t length_q(const Cell& img) { return int32_t(pixel_count(img)); }

void change(Args args, const Cell* part, bool, const Cell* dup) {
    if (part || (dup && is(*dup, Type::integer) && int_of(*dup) > 1)) errors::fire(errors::id::not_done);
    Cell& img = args[0];
    const Cell& value = args[1];
    uint32_t head = head_of(img), total = pixel_count(img), w = width_of(img);
    if (is(value, Type::tuple)) {
        Cell one = integer_cell(1);
        Cell pargs[3] = {img, one, value};
        collector::Root k0(pargs[0]), k2(pargs[2]);
        notify(img, "change", int32_t(head), 1);
        poke(pargs, 0);
        set_series_index(img, head + 1);
        notify(img, "changed", int32_t(head), 1);
        return;
    }
    if (!is(value, Type::image)) {
        Cell type = datatype_cell(type_of(value));
        errors::fire(errors::id::invalid_type, &type);
    }
    if (head >= total || !series_node(value)) return;
    notify(img, "change", int32_t(head), 1);
    uint32_t col = head % w, row = head / w, h = height_of(img);
    uint32_t sw = width_of(value), sh = height_of(value);
    uint32_t end_col = std::min(col + sw, w), end_row = std::min(row + sh, h);
    const uint32_t* src = read_pixels(series_node(value));
    uint32_t* dst = write_pixels(series_node(img));
    if (src == dst) {
        // An image changed with itself: copy through a buffer.
        std::string copy(reinterpret_cast<const char*>(src), size_t(sw) * sh * 4);
        src = reinterpret_cast<const uint32_t*>(copy.data());
        for (uint32_t r = row; r < end_row; ++r)
            std::memmove(dst + size_t(r) * w + col, src + size_t(r - row) * sw, size_t(end_col - col) * 4);
    } else {
        for (uint32_t r = row; r < end_row; ++r)
            std::memcpy(dst + size_t(r) * w + col, src + size_t(r - row) * sw, size_t(end_col - col) * 4);
    }
    uint32_t written = (end_row - row) * (end_col - col);
    set_series_index(img, (end_row - 1) * w + end_col);
    notify(img, "changed", int32_t(head), int32_t(written));
}

void copy(Args args, const Cell* part, bool, const Cell*) {
    Cell& img = args[0];
    uint32_t w = width_of(img), h = height_of(img), head = std::min(head_of(img), pixel_count(img));
    Cell out;
    if (!w || !h || !series_node(img)) {
        init_image(out, 0, 0, 0);
        args[0] = out;
        return;
    }
    int64_t x0 = head % w, y0 = head / w, cw = int64_t(w) - x0, ch = int64_t(h) - y0;
    if (head == pixel_count(img)) cw = ch = 0;
    if (part) {
        Cell word = make_cell(Type::word, 0, symbol::make("part"), uint32_t(-1));
        if (is(*part, Type::integer)) errors::fire(errors::id::not_done);
        if (is(*part, Type::image)) {
            if (series_node(*part) != series_node(img)) errors::fire(errors::id::invalid_refine_arg, &word, part);
            // The rectangle between the two heads.
            uint32_t other = std::min(head_of(*part), pixel_count(img));
            int64_t x1 = other % w, y1 = other / w;
            if (other == pixel_count(img)) x1 = w, y1 = h - 1;
            int64_t lx = std::min(x0, x1), ly = std::min(y0, y1);
            cw = std::max(x0, x1) - lx;
            ch = std::max(y0, y1) - ly + (cw > 0 ? 1 : 0);
            x0 = lx;
            y0 = ly;
        } else if (is(*part, Type::pair)) {
            int64_t px = pair_x(*part), py = pair_y(*part);
            if (px > 0 && py > 0 && head < pixel_count(img)) {
                cw = std::min<int64_t>(px, int64_t(w) - x0);
                ch = std::min<int64_t>(py, int64_t(h) - y0);
            } else if (px < 0 && py < 0 && head > 0) {
                int64_t c = x0 == 0 ? w : x0, r = y0 < int64_t(h) ? y0 + 1 : y0;
                cw = std::min(-px, c);
                x0 = -px > c ? 0 : c + px;
                ch = std::min(-py, r);
                y0 = -py > r ? 0 : r + py;
            } else {
                cw = ch = 0;
            }
        } else {
            errors::fire(errors::id::invalid_refine_arg, &word, part);
        }
    }
    Node rec = 0;
    if (cw > 0 && ch > 0) {
        if (x0 == 0 && y0 == 0 && cw == w && ch == h) rec = clone(series_node(img));
        else rec = copy_rect(series_node(img), uint32_t(x0), uint32_t(y0), uint32_t(cw), uint32_t(ch));
    }
    init_image(out, rec, 0, 0);
    args[0] = out;
}

}  // namespace

#define ZAN_INHERIT(slot) row.slot = decltype(row.slot)::inherited()

void init() {
    init_backend();
    actions::Row row;
    row.make = &make;
    row.to = &to;
    row.form = &form;
    row.mold = &mold;
    row.eval_path = &eval_path;
    row.compare = &compare;
    row.at = &at;
    ZAN_INHERIT(back);
    row.change = &change;
    row.copy = &copy;
    ZAN_INHERIT(head);
    ZAN_INHERIT(head_q);
    ZAN_INHERIT(index_q);
    row.length_q = &length_q;
    row.next = &next;
    row.pick = &pick;
    row.poke = &poke;
    row.skip = &skip;
    row.tail = &tail;
    row.tail_q = &tail_q;
    ZAN_INHERIT(modify);
    datatype::register_type(Type::image, Type::series, "image!", row);
}

#undef ZAN_INHERIT

}  // namespace zan::image
