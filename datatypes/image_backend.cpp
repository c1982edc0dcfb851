// The image back end: records, pixel storage, transformations and the format
// table. See image_backend.h for the layout and the device-surface protocol.
#include "datatypes/image_backend.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/context.h"
#include "datatypes/file.h"
#include "datatypes/image_codec.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/externals.h"
#include "runtime/memory.h"
#include "runtime/output.h"

namespace zan::image {

namespace {

// Big pixel memory starts on a 2 MB boundary and asks for huge pages: written
// through 4 KB pages, a picture costs a page fault and TLB misses every 1,024
// pixels, which took longer than decoding a JPEG into it. Only when rounding
// up to whole huge pages wastes at most an eighth. Either kind is given back
// with std::free.
constexpr size_t huge_page = size_t(2) << 20;

void* alloc_pixels(size_t bytes) {
    size_t rounded = (bytes + huge_page - 1) & ~(huge_page - 1);
    if (bytes < huge_page || rounded - bytes > bytes / 8) return std::malloc(bytes ? bytes : 4);
    void* p = std::aligned_alloc(huge_page, rounded);
    if (p) madvise(p, rounded, MADV_HUGEPAGE);
    return p;
}

}  // namespace

namespace codec {

bool size_ok(uint64_t w, uint64_t h, uint64_t most_pixels) {
    return w > 0 && h > 0 && w <= max_side && h <= max_side && w * h <= max_pixels && w * h <= most_pixels;
}

bool Raster::allocate(uint64_t w, uint64_t h, uint64_t most_pixels) {
    if (!size_ok(w, h, most_pixels)) return false;
    std::free(pixels);
    pixels = static_cast<uint32_t*>(alloc_pixels(size_t(w * h * 4)));
    if (!pixels) return false;
    width = uint32_t(w);
    height = uint32_t(h);
    return true;
}

uint32_t straight(uint32_t p) {
    uint32_t a = p >> 24;
    if (a == 255) return p;
    if (a == 0) return 0;
    auto up = [a](uint32_t c) { return std::min<uint32_t>(255, (c * 255 + a / 2) / a); };
    return a << 24 | up(p >> 16 & 0xFF) << 16 | up(p >> 8 & 0xFF) << 8 | up(p & 0xFF);
}

}  // namespace codec

namespace {

struct FormatRow {
    const char* signatures[2];  // the first bytes; a second form or nullptr
    size_t lengths[2];
    codec::Decode decode;
    codec::Encode encode;
};

// By format number: 0 BMP, 1 PNG, 2 GIF, 3 JPEG, 4 TIFF.
const FormatRow formats[format_count] = {
    {{"BM", nullptr}, {2, 0}, codec::decode_bmp, codec::encode_bmp},
    {{"\x89PNG", nullptr}, {4, 0}, codec::decode_png, codec::encode_png},
    {{"GIF87a", "GIF89a"}, {6, 6}, codec::decode_gif, codec::encode_gif},
    {{"\xFF\xD8\xFF", nullptr}, {3, 0}, codec::decode_jpeg, codec::encode_jpeg},
    {{"II*\0", "MM\0*"}, {4, 4}, codec::decode_tiff, codec::encode_tiff},
};

int g_kind = 0;
DeviceHooks g_hooks;
uint64_t g_pending = 0;
uint64_t g_live = 0;  // pixel bytes of the bitmaps alive
constexpr uint64_t collect_budget = 64u << 20;

// The record's words.
enum Word { w_flags = 0, w_size = 1, w_index = 2, record_words = 3 };

uint32_t* words(Node record) { return reinterpret_cast<uint32_t*>(memory::buffer(record)->at_head()); }

void release_device(Bitmap& b) {
    if (b.device && g_hooks.release) g_hooks.release(b.device);
    b.device = nullptr;
}

void release_bitmap(void* resource) {
    Bitmap* b = static_cast<Bitmap*>(resource);
    if (!b) return;
    release_device(*b);
    g_live -= uint64_t(b->width) * b->height * 4;
    std::free(b->pixels);
    delete b;
}

// Writes a drawing not yet read back from the device into the pixels.
void sync_drawn(uint32_t* w, Bitmap& b) {
    if (!(w[w_flags] & flag::drawn)) return;
    if (g_hooks.sync && b.device) g_hooks.sync(b, b.device);
    w[w_flags] &= ~flag::drawn;
}

void mark_image_cell(Cell& c) {
    if (!c.w2 || !collector::mark_node(c.w2)) return;
    uint32_t* w = words(c.w2);
    if (int32_t(w[w_index]) < 0) return;
    externals::mark(int32_t(w[w_index]));
    Bitmap* b = static_cast<Bitmap*>(externals::resource(int32_t(w[w_index])));
    if (w[w_flags] & flag::used) {
        w[w_flags] &= ~flag::used;
    } else if (b) {
        sync_drawn(w, *b);  // an unread drawing must outlive its device
        release_device(*b);
    }
}

// A collection when much pixel memory was made since the last one, so that
// dropped images give their pixels back before more is taken.
void collect_if_due() {
    if (g_pending <= collect_budget) return;
    g_pending = 0;
    collector::collect();
}

// Pixel memory for a new bitmap.
uint32_t* new_pixels(uint32_t width, uint32_t height) {
    uint64_t bytes = uint64_t(width) * height * 4;
    g_pending += bytes;
    collect_if_due();
    void* p = alloc_pixels(size_t(bytes));
    if (!p) errors::fire(errors::id::no_memory);
    return static_cast<uint32_t*>(p);
}

void check_sides(uint32_t width, uint32_t height) {
    if (width > codec::max_side || height > codec::max_side ||
        uint64_t(width) * height > codec::max_pixels) {
        Cell size = pair_cell(int32_t(width), int32_t(height));
        errors::fire(errors::id::invalid_arg, &size);
    }
}

uint32_t colour_word(const Cell& tuple) {
    uint8_t b[12];
    tuple_bytes(tuple, b);
    uint32_t a = tuple_length(tuple) >= 4 ? 255u - b[3] : 255u;
    return a << 24 | uint32_t(b[0]) << 16 | uint32_t(b[1]) << 8 | b[2];
}

Cell pixel_tuple(uint32_t p) {
    uint8_t b[12] = {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p), uint8_t(255 - (p >> 24))};
    return tuple_cell(b, 4);
}

void fire_bad_media(const Cell* arg = nullptr) { errors::fire(errors::id::bad_media, arg); }

// Reads a whole file with POSIX calls; false when it cannot.
bool read_file(const std::string& path, std::string& out) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size < (int64_t(1) << 31);
    if (ok) {
        out.resize(size_t(st.st_size));
        size_t got = 0;
        while (got < out.size()) {
            ssize_t n = ::read(fd, out.data() + got, out.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += size_t(n);
        }
        out.resize(got);
    }
    ::close(fd);
    return ok;
}

}  // namespace

void set_device_hooks(const DeviceHooks& hooks) { g_hooks = hooks; }

uint32_t record_flags(Node record) { return words(record)[w_flags]; }
void set_record_flags(Node record, uint32_t flags) { words(record)[w_flags] = flags; }

Bitmap* bitmap_of(Node record) {
    int32_t index = int32_t(words(record)[w_index]);
    return index < 0 ? nullptr : static_cast<Bitmap*>(externals::resource(index));
}

uint32_t* read_pixels(Node record) {
    Bitmap* b = bitmap_of(record);
    if (!b || !b->pixels) fire_bad_media();
    sync_drawn(words(record), *b);
    return b->pixels;
}

uint32_t* write_pixels(Node record) {
    uint32_t* p = read_pixels(record);
    words(record)[w_flags] |= flag::written;
    return p;
}

Node make_record(uint32_t* pixels, uint32_t width, uint32_t height) {
    std::unique_ptr<Bitmap, void (*)(void*)> b(new Bitmap{pixels, width, height, nullptr}, release_bitmap);
    g_live += uint64_t(width) * height * 4;
    Node n = memory::alloc_bytes(record_words * 4);
    memory::Series* s = memory::buffer(n);
    s->tail = s->head + record_words * 4;
    uint32_t* w = words(n);
    w[w_flags] = 0;
    w[w_size] = size_word(width, height);
    w[w_index] = uint32_t(externals::add(b.get(), g_kind));
    b.release();
    return n;
}

void init_image(Cell& cell, Node record, uint32_t width, uint32_t height) {
    if (record) {
        uint32_t size = words(record)[w_size];
        width = size & 0xFFFF;
        height = size >> 16;
    }
    cell = make_cell(Type::image, 0, record, size_word(width, height));
}

Node make_bitmap(uint32_t width, uint32_t height, const uint8_t* rgb, size_t rgb_length, const uint8_t* alpha,
                 size_t alpha_length, const Cell* colour) {
    check_sides(width, height);
    if (!width || !height) return 0;
    size_t n = size_t(width) * height;
    uint32_t* px = new_pixels(width, height);
    if (colour) {
        std::fill(px, px + n, colour_word(*colour));
    } else {
        // Opaque white where the bytes run out.
        size_t rgb_pixels = rgb ? std::min(n, rgb_length / 3) : 0;
        size_t alpha_pixels = alpha ? std::min(n, alpha_length) : 0;
        std::fill(px + rgb_pixels, px + n, 0xFFFFFFFFu);
        for (size_t i = 0; i < rgb_pixels; ++i)
            px[i] = 0xFF000000u | uint32_t(rgb[3 * i]) << 16 | uint32_t(rgb[3 * i + 1]) << 8 | rgb[3 * i + 2];
        for (size_t i = 0; i < alpha_pixels; ++i) px[i] = (px[i] & 0xFFFFFFu) | (255u - alpha[i]) << 24;
    }
    return make_record(px, width, height);
}

Node from_pixels(uint32_t width, uint32_t height, size_t stride, const uint8_t* bgra) {
    check_sides(width, height);
    if (!width || !height) return 0;
    if (!stride) stride = size_t(width) * 4;
    uint32_t* px = new_pixels(width, height);
    for (uint32_t y = 0; y < height; ++y) std::memcpy(px + size_t(y) * width, bgra + y * stride, size_t(width) * 4);
    return make_record(px, width, height);
}

Node from_rgba(uint32_t width, uint32_t height, size_t stride, const uint8_t* rgba) {
    check_sides(width, height);
    if (!width || !height) return 0;
    if (!stride) stride = size_t(width) * 4;
    uint32_t* px = new_pixels(width, height);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* s = rgba + y * stride;
        for (uint32_t x = 0; x < width; ++x, s += 4)
            px[size_t(y) * width + x] = uint32_t(s[3]) << 24 | uint32_t(s[0]) << 16 | uint32_t(s[1]) << 8 | s[2];
    }
    return make_record(px, width, height);
}

Node scale(Node record, uint32_t width, uint32_t height) {
    check_sides(width, height);
    if (!width || !height) return 0;
    Cell held = make_cell(Type::image, 0, record);
    collector::Root keep(held);  // its marker also keeps the pixels
    uint32_t* px = new_pixels(width, height);
    record = series_node(held);
    Bitmap* b = bitmap_of(record);
    const uint32_t* src = read_pixels(record);
    for (uint32_t y = 0; y < height; ++y) {
        uint32_t sy = uint32_t(uint64_t(y) * b->height / height);
        for (uint32_t x = 0; x < width; ++x)
            px[size_t(y) * width + x] = src[size_t(sy) * b->width + uint64_t(x) * b->width / width];
    }
    return make_record(px, width, height);
}

Node flip_vertical(Node record) {
    Cell held = make_cell(Type::image, 0, record);
    collector::Root keep(held);  // its marker also keeps the pixels
    read_pixels(record);
    Bitmap* b = bitmap_of(record);
    uint32_t w = b->width, h = b->height;
    uint32_t* px = new_pixels(w, h);
    record = series_node(held);
    const uint32_t* src = read_pixels(record);
    for (uint32_t y = 0; y < h; ++y) std::memcpy(px + size_t(y) * w, src + size_t(h - 1 - y) * w, size_t(w) * 4);
    return make_record(px, w, h);
}

Node clone(Node record) {
    Cell held = make_cell(Type::image, 0, record);
    collector::Root keep(held);  // its marker also keeps the pixels
    read_pixels(record);
    Bitmap* b = bitmap_of(record);
    return copy_rect(record, 0, 0, b->width, b->height);
}

Node copy_rect(Node record, uint32_t x, uint32_t y, uint32_t width, uint32_t height) {
    Cell held = make_cell(Type::image, 0, record);
    collector::Root keep(held);  // its marker also keeps the pixels
    read_pixels(record);
    Bitmap* b = bitmap_of(record);
    if (x >= b->width || y >= b->height) return 0;
    width = std::min(width, b->width - x);
    height = std::min(height, b->height - y);
    if (!width || !height) return 0;
    uint32_t* px = new_pixels(width, height);
    record = series_node(held);
    const uint32_t* src = read_pixels(record);
    uint32_t sw = bitmap_of(record)->width;
    for (uint32_t r = 0; r < height; ++r)
        std::memcpy(px + size_t(r) * width, src + size_t(y + r) * sw + x, size_t(width) * 4);
    return make_record(px, width, height);
}

int known_format(const uint8_t* data, size_t size) {
    for (int f = 0; f < format_count; ++f)
        for (int k = 0; k < 2; ++k) {
            const char* sig = formats[f].signatures[k];
            size_t n = formats[f].lengths[k];
            if (sig && size >= n && std::memcmp(data, sig, n) == 0) return f;
        }
    return -1;
}

Node decode_memory(const uint8_t* data, size_t size) {
    int f = known_format(data, size);
    if (f < 0) return 0;
    codec::Raster r;
    if (!formats[f].decode(data, size, r)) return 0;
    uint32_t w = r.width, h = r.height;
    g_pending += uint64_t(w) * h * 4;
    return make_record(r.take(), w, h);
}

Cell decode_binary(const Cell& bin) {
    collect_if_due();  // before the bytes are pinned down by pointer
    uint32_t n = binary::rs_length_q(bin);
    // The decoders allocate nothing on our heap, so the bytes stay where they
    // are until the pixels are read; the record is made after.
    const uint8_t* d = reinterpret_cast<const uint8_t*>(binary::rs_head(bin));
    if (known_format(d, n) < 0) return none_cell();
    Node rec = decode_memory(d, n);
    if (!rec) fire_bad_media();
    Cell out;
    init_image(out, rec);
    return out;
}

Cell decode_file(const Cell& file) {
    collect_if_due();
    std::string bytes;
    Node rec = 0;
    if (read_file(file::to_os_path(file), bytes))
        rec = decode_memory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    if (!rec) errors::fire(errors::id::cannot_open, &file);
    Cell out;
    init_image(out, rec);
    return out;
}

Cell decode(const Cell& source) {
    if (is(source, Type::binary)) return decode_binary(source);
    return decode_file(source);
}

Cell encode(const Cell& img, int format) {
    if (format < 0 || format >= format_count) {
        output::print_ascii("Cannot find image encoder\n");
        return none_cell();
    }
    if (img.w3 == 0 || !series_node(img)) fire_bad_media(&img);
    Node rec = series_node(img);
    const uint32_t* px = read_pixels(rec);
    Bitmap* b = bitmap_of(rec);
    std::string out;
    if (!formats[format].encode(px, b->width, b->height, out)) fire_bad_media(&img);
    return binary::load(out.data(), out.size());
}

Cell extract_data(const Cell& img, int kind) {
    uint32_t n = series_node(img) ? pixel_count(img) : 0;
    static constexpr uint32_t widths[] = {1, 3, 4};
    Cell bin = binary::make_value(n * widths[kind]);
    if (!n) return bin;
    collector::Root keep(bin);
    const uint32_t* px = read_pixels(series_node(img));
    memory::Series* s = memory::buffer(series_node(bin));
    uint8_t* out = reinterpret_cast<uint8_t*>(s->at_head());
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t p = px[i];
        switch (kind) {
        case alpha: *out++ = uint8_t(255 - (p >> 24)); break;
        case rgb:
            *out++ = uint8_t(p >> 16);
            *out++ = uint8_t(p >> 8);
            *out++ = uint8_t(p);
            break;
        default:
            std::memcpy(out, &p, 4);
            out += 4;
        }
    }
    s->tail = s->head + n * widths[kind];
    return bin;
}

void set_data(const Cell& img, const Cell& value, int kind) {
    uint32_t n = series_node(img) ? pixel_count(img) : 0;
    if (is(value, Type::binary)) {
        if (!n) return;
        uint32_t len = binary::rs_length_q(value);
        const uint8_t* src = reinterpret_cast<const uint8_t*>(binary::rs_head(value));
        uint32_t* px = write_pixels(series_node(img));
        if (kind == argb) {
            std::memcpy(px, src, std::min<uint64_t>(len, uint64_t(n) * 4));
        } else if (kind == rgb) {
            for (uint32_t i = 0; i < n && 3 * uint64_t(i) + 3 <= len; ++i)
                px[i] = (px[i] & 0xFF000000u) | uint32_t(src[3 * i]) << 16 | uint32_t(src[3 * i + 1]) << 8 |
                        src[3 * i + 2];
        } else {
            for (uint32_t i = 0; i < n && i < len; ++i) px[i] = (px[i] & 0xFFFFFFu) | uint32_t(255 - src[i]) << 24;
        }
        return;
    }
    Cell colour;
    if (is(value, Type::tuple)) {
        colour = value;
    } else if (is(value, Type::integer)) {
        uint32_t v = uint32_t(int_of(value));
        uint8_t b[12] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        colour = tuple_cell(b, 4);
    } else {
        errors::fire(errors::id::invalid_arg, &value);
    }
    if (!n) return;
    uint8_t b[12];
    tuple_bytes(colour, b);
    uint32_t word = colour_word(colour);
    uint32_t* px = write_pixels(series_node(img));
    for (uint32_t i = 0; i < n; ++i) {
        if (kind == argb) px[i] = word;
        else if (kind == rgb) px[i] = (px[i] & 0xFF000000u) | (word & 0xFFFFFFu);
        else px[i] = (px[i] & 0xFFFFFFu) | uint32_t(255 - b[0]) << 24;
    }
}

Cell pick_pixel(const Cell& img, int64_t offset) {
    if (!series_node(img) || offset < 0 || offset >= int64_t(pixel_count(img))) return none_cell();
    return pixel_tuple(read_pixels(series_node(img))[offset]);
}

void release_bitmaps(const Cell& img) {
    Node rec = series_node(img);
    if (!rec) return;
    uint32_t* w = words(rec);
    if (int32_t(w[w_index]) >= 0) externals::remove(int32_t(w[w_index]), true);
    w[w_index] = uint32_t(-1);
}

void* device(const Cell& img) {
    Node rec = series_node(img);
    if (!rec) return nullptr;
    words(rec)[w_flags] |= flag::used;
    Bitmap* b = bitmap_of(rec);
    return b ? b->device : nullptr;
}

void set_device(const Cell& img, void* dev) {
    Node rec = series_node(img);
    Bitmap* b = rec ? bitmap_of(rec) : nullptr;
    if (!b) return;
    if (b->device != dev) release_device(*b);
    b->device = dev;
    words(rec)[w_flags] = (words(rec)[w_flags] & ~flag::written) | flag::used;
}

void mark_drawn(const Cell& img) {
    if (Node rec = series_node(img)) words(rec)[w_flags] |= flag::drawn;
}

void release_all_devices() {
    externals::for_each_of_kind(g_kind, [](void* r) {
        if (r) release_device(*static_cast<Bitmap*>(r));
    });
}

uint64_t pending_bytes() { return g_pending; }
uint64_t live_bytes() { return g_live; }

void init_backend() {
    if (g_kind) return;
    g_kind = externals::register_kind("image", release_bitmap);
    collector::set_cell_marker(Type::image, mark_image_cell);
}

}  // namespace zan::image

namespace zan::image {

void foreach_next(const Cell& words, const Cell& img, int32_t count) {
    Node wn = series_node(words);
    uint32_t from = series_index(words);
    for (int32_t i = 0; i < count; ++i) {
        Cell v = pick_pixel(img, int64_t(series_index(img)) + i);
        Cell w = memory::buffer(wn)->cells()[from + uint32_t(i)];
        context::set(w, v);
    }
}

}  // namespace zan::image
