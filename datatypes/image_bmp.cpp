// BMP files, our own reader and writer.
//
// Read: core (12-byte), info (40), v2/v3 (52/56), V4 (108) and V5 (124)
// headers; 1, 4 and 8-bit palettes, 16, 24 and 32-bit pixels, BI_BITFIELDS
// masks, RLE4 and RLE8, bottom-up and top-down rows padded to 4 bytes. Alpha
// comes only from an alpha mask: the fourth byte of a plain 32-bit pixel is
// reserved, so such files are opaque.
//
// Written: the file header and the 124-byte V5 header the clipboard uses,
// 32-bit BI_BITFIELDS with an alpha mask, rows bottom-up: 138 + 4wh bytes.
#include <algorithm>
#include <bit>
#include <cstring>

#include "datatypes/image_codec.h"

namespace zan::image::codec {

namespace {

uint32_t u16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t u32(const uint8_t* p) { return u16(p) | u16(p + 2) << 16; }

void put16(std::string& s, uint32_t v) {
    s.push_back(char(v & 0xFF));
    s.push_back(char(v >> 8 & 0xFF));
}
void put32(std::string& s, uint32_t v) {
    put16(s, v & 0xFFFF);
    put16(s, v >> 16);
}

enum Compression : uint32_t { bi_rgb = 0, bi_rle8 = 1, bi_rle4 = 2, bi_bitfields = 3, bi_alphabitfields = 6 };

// One channel of a masked pixel scaled to 8 bits.
struct Channel {
    uint32_t mask = 0, shift = 0, max = 0;
    explicit Channel(uint32_t m = 0) : mask(m) {
        if (!m) return;
        shift = uint32_t(std::countr_zero(m));
        uint32_t bits = uint32_t(std::popcount(m >> shift));
        max = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
    }
    uint32_t get(uint32_t px) const {
        if (!mask) return 0;
        uint64_t v = (px & mask) >> shift;
        return uint32_t((v * 255 + max / 2) / max);
    }
};

struct Header {
    int64_t width = 0, height = 0;
    bool top_down = false;
    uint32_t bpp = 0, compression = bi_rgb, colours = 0, header_size = 0;
    uint32_t masks[4] = {0, 0, 0, 0};  // R, G, B, A
    const uint8_t* palette = nullptr;
    uint32_t palette_entries = 0, entry_size = 4;
};

bool read_header(const uint8_t* d, size_t size, Header& h) {
    if (size < 26 || d[0] != 'B' || d[1] != 'M') return false;
    h.header_size = u32(d + 14);
    const uint8_t* ih = d + 14;
    if (h.header_size == 12) {
        h.width = u16(ih + 4);
        h.height = u16(ih + 6);
        h.bpp = u16(ih + 10);
        h.entry_size = 3;
    } else {
        if (h.header_size < 40 || size < 14 + uint64_t(h.header_size)) return false;
        h.width = int32_t(u32(ih + 4));
        int32_t height = int32_t(u32(ih + 8));
        h.top_down = height < 0;
        h.height = height < 0 ? -int64_t(height) : height;
        h.bpp = u16(ih + 14);
        h.compression = u32(ih + 16);
        h.colours = u32(ih + 32);
        if (h.header_size >= 52)
            for (int i = 0; i < 3; ++i) h.masks[i] = u32(ih + 40 + 4 * i);
        if (h.header_size >= 56) h.masks[3] = u32(ih + 52);
    }
    uint64_t after = 14 + uint64_t(h.header_size);
    if (h.header_size == 40 && (h.compression == bi_bitfields || h.compression == bi_alphabitfields)) {
        int n = h.compression == bi_alphabitfields ? 4 : 3;
        if (size < after + 4 * n) return false;
        for (int i = 0; i < n; ++i) h.masks[i] = u32(d + after + 4 * i);
        after += 4 * n;
    }
    if (h.width <= 0 || h.height <= 0) return false;
    if (h.bpp <= 8) {
        if (h.bpp != 1 && h.bpp != 4 && h.bpp != 8) return false;
        uint32_t most = 1u << h.bpp;
        h.palette_entries = h.colours && h.colours < most ? h.colours : most;
        uint64_t available = after < size ? (size - after) / h.entry_size : 0;
        h.palette_entries = uint32_t(std::min<uint64_t>(h.palette_entries, available));
        if (h.palette_entries == 0) return false;
        h.palette = d + after;
    } else if (h.bpp != 16 && h.bpp != 24 && h.bpp != 32) {
        return false;
    }
    bool masked = h.compression == bi_bitfields || h.compression == bi_alphabitfields;
    if (masked && h.bpp != 16 && h.bpp != 32) return false;
    if (!masked && h.compression != bi_rgb && h.compression != bi_rle8 && h.compression != bi_rle4) return false;
    if (h.compression == bi_rle8 && h.bpp != 8) return false;
    if (h.compression == bi_rle4 && h.bpp != 4) return false;
    if (h.compression == bi_rgb && h.bpp == 16) {
        h.masks[0] = 0x7C00;
        h.masks[1] = 0x03E0;
        h.masks[2] = 0x001F;
    }
    if (h.compression == bi_rgb && (h.bpp == 24 || h.bpp == 32)) {
        h.masks[0] = 0xFF0000;
        h.masks[1] = 0xFF00;
        h.masks[2] = 0xFF;
        h.masks[3] = 0;
    }
    return true;
}

uint32_t palette_word(const Header& h, uint32_t index) {
    if (index >= h.palette_entries) return 0xFF000000u;
    const uint8_t* e = h.palette + size_t(index) * h.entry_size;
    return 0xFF000000u | uint32_t(e[2]) << 16 | uint32_t(e[1]) << 8 | e[0];
}

// Rows of uncompressed pixels.
bool read_plain(const Header& h, const uint8_t* bits, uint64_t avail, Raster& out) {
    uint64_t stride = ((uint64_t(h.width) * h.bpp + 31) / 32) * 4;
    if (stride * uint64_t(h.height) > avail) return false;
    if (!out.allocate(uint64_t(h.width), uint64_t(h.height), max_pixels)) return false;
    Channel ch[4] = {Channel(h.masks[0]), Channel(h.masks[1]), Channel(h.masks[2]), Channel(h.masks[3])};
    uint32_t w = out.width;
    for (uint32_t y = 0; y < out.height; ++y) {
        const uint8_t* row = bits + stride * (h.top_down ? y : out.height - 1 - y);
        uint32_t* dst = out.pixels + size_t(y) * w;
        for (uint32_t x = 0; x < w; ++x) {
            uint32_t px;
            switch (h.bpp) {
            case 1: px = palette_word(h, row[x >> 3] >> (7 - (x & 7)) & 1); break;
            case 4: px = palette_word(h, row[x >> 1] >> (x & 1 ? 0 : 4) & 0xF); break;
            case 8: px = palette_word(h, row[x]); break;
            default: {
                uint32_t raw = h.bpp == 16 ? u16(row + 2 * x)
                               : h.bpp == 24 ? uint32_t(row[3 * x]) | uint32_t(row[3 * x + 1]) << 8 |
                                                   uint32_t(row[3 * x + 2]) << 16
                                             : u32(row + 4 * x);
                uint32_t a = h.masks[3] ? ch[3].get(raw) : 255;
                px = a << 24 | ch[0].get(raw) << 16 | ch[1].get(raw) << 8 | ch[2].get(raw);
            }
            }
            dst[x] = px;
        }
    }
    return true;
}

// RLE8 and RLE4: pixels the codes skip stay transparent black.
bool read_rle(const Header& h, const uint8_t* p, uint64_t avail, Raster& out) {
    if (h.top_down) return false;
    // Every two bytes give at most 255 pixels, a delta skips at most 255 rows.
    if (uint64_t(h.width) * uint64_t(h.height) > avail * 255 * 256 + 65536) return false;
    if (!out.allocate(uint64_t(h.width), uint64_t(h.height), max_pixels)) return false;
    std::memset(out.pixels, 0, size_t(out.width) * out.height * 4);
    const uint8_t* end = p + avail;
    bool four = h.compression == bi_rle4;
    uint64_t x = 0, y = 0;  // y counts from the bottom row
    auto put = [&](uint32_t index) {
        if (x < out.width && y < out.height)
            out.pixels[size_t(out.height - 1 - y) * out.width + x] = palette_word(h, index);
        ++x;
    };
    while (end - p >= 2 && y < out.height) {
        uint32_t count = p[0], value = p[1];
        p += 2;
        if (count) {
            for (uint32_t i = 0; i < count; ++i) put(four ? (i & 1 ? value & 0xF : value >> 4) : value);
            continue;
        }
        if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            return true;
        } else if (value == 2) {
            if (end - p < 2) return false;
            x += p[0];
            y += p[1];
            p += 2;
        } else {
            uint32_t bytes = four ? (value + 1) / 2 : value;
            uint32_t padded = (bytes + 1) & ~1u;
            if (uint64_t(end - p) < padded) return false;
            for (uint32_t i = 0; i < value; ++i) put(four ? (i & 1 ? p[i / 2] & 0xF : p[i / 2] >> 4) : p[i]);
            p += padded;
        }
    }
    return y >= out.height;  // ran out of data before the end-of-bitmap code
}

}  // namespace

bool decode_bmp(const uint8_t* data, size_t size, Raster& out) {
    Header h;
    if (!read_header(data, size, h)) return false;
    uint32_t offset = u32(data + 10);
    if (offset >= size) return false;
    const uint8_t* bits = data + offset;
    uint64_t avail = size - offset;
    if (h.compression == bi_rle8 || h.compression == bi_rle4) return read_rle(h, bits, avail, out);
    return read_plain(h, bits, avail, out);
}

bool encode_bmp(const uint32_t* pixels, uint32_t width, uint32_t height, std::string& out) {
    uint64_t image = uint64_t(width) * height * 4;
    out.clear();
    out.reserve(size_t(138 + image));
    out += "BM";
    put32(out, uint32_t(138 + image));
    put32(out, 0);
    put32(out, 138);
    put32(out, 124);
    put32(out, width);
    put32(out, height);  // positive: rows bottom-up
    put16(out, 1);
    put16(out, 32);
    put32(out, bi_bitfields);
    put32(out, uint32_t(image));
    put32(out, 2835);  // 72 dpi
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0x00FF0000);
    put32(out, 0x0000FF00);
    put32(out, 0x000000FF);
    put32(out, 0xFF000000);
    put32(out, 0x73524742);  // 'sRGB'
    out.append(36 + 12, '\0');  // endpoints and gamma, unused for sRGB
    put32(out, 4);              // LCS_GM_IMAGES
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    for (uint32_t y = height; y-- > 0;) {
        const uint32_t* row = pixels + size_t(y) * width;
        for (uint32_t x = 0; x < width; ++x) put32(out, row[x]);
    }
    return true;
}

}  // namespace zan::image::codec
