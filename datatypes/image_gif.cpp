// GIF files through giflib, on memory. Decoding gives the first frame at its
// own size; the transparent index of its graphic control block gives alpha 0.
// Encoding writes GIF89a with one frame: the exact colours when they fit 256
// entries (pixels with alpha below 128 share one transparent entry), else a
// palette quantized by giflib.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "datatypes/image_codec.h"

namespace zan::image::codec {

namespace {

struct Source {
    const uint8_t* data;
    size_t size, pos;
};

int read_fn(GifFileType* g, GifByteType* buf, int n) {
    Source* s = static_cast<Source*>(g->UserData);
    size_t k = std::min(size_t(n < 0 ? 0 : n), s->size - s->pos);
    if (k) std::memcpy(buf, s->data + s->pos, k);
    s->pos += k;
    return int(k);
}

int write_fn(GifFileType* g, const GifByteType* buf, int n) {
    static_cast<std::string*>(g->UserData)->append(reinterpret_cast<const char*>(buf), size_t(n));
    return n;
}

struct Reader {
    GifFileType* g = nullptr;
    ~Reader() {
        int err;
        if (g) DGifCloseFile(g, &err);
    }
};

bool read_frame(GifFileType* g, int transparent, const uint8_t* data, size_t size, Raster& out) {
    (void)data;
    if (DGifGetImageDesc(g) != GIF_OK) return false;
    const GifImageDesc& d = g->Image;
    // An LZW code of at most 12 bits stands for at most 4,096 pixels.
    if (!out.allocate(uint64_t(d.Width), uint64_t(d.Height), uint64_t(size) * 2731 + 4096)) return false;
    const ColorMapObject* map = d.ColorMap ? d.ColorMap : g->SColorMap;
    if (!map) return false;
    std::vector<GifPixelType> line(out.width);
    auto store = [&](uint32_t y) {
        uint32_t* row = out.pixels + size_t(y) * out.width;
        for (uint32_t x = 0; x < out.width; ++x) {
            int i = line[x];
            if (i == transparent) {
                row[x] = 0;
            } else if (i < map->ColorCount) {
                const GifColorType& c = map->Colors[i];
                row[x] = 0xFF000000u | uint32_t(c.Red) << 16 | uint32_t(c.Green) << 8 | c.Blue;
            } else {
                row[x] = 0xFF000000u;
            }
        }
    };
    if (d.Interlace) {
        static const uint32_t start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass)
            for (uint32_t y = start[pass]; y < out.height; y += step[pass]) {
                if (DGifGetLine(g, line.data(), int(out.width)) != GIF_OK) return false;
                store(y);
            }
    } else {
        for (uint32_t y = 0; y < out.height; ++y) {
            if (DGifGetLine(g, line.data(), int(out.width)) != GIF_OK) return false;
            store(y);
        }
    }
    return true;
}

}  // namespace

bool decode_gif(const uint8_t* data, size_t size, Raster& out) {
    Source src{data, size, 0};
    int err = 0;
    Reader r;
    r.g = DGifOpen(&src, read_fn, &err);
    if (!r.g) return false;
    int transparent = -1;
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(r.g, &type) != GIF_OK) return false;
        if (type == IMAGE_DESC_RECORD_TYPE) return read_frame(r.g, transparent, data, size, out);
        if (type == TERMINATE_RECORD_TYPE) return false;
        if (type != EXTENSION_RECORD_TYPE) return false;
        int code = 0;
        GifByteType* ext = nullptr;
        if (DGifGetExtension(r.g, &code, &ext) != GIF_OK) return false;
        if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) transparent = ext[1] & 1 ? ext[4] : -1;
        while (ext) {
            if (DGifGetExtensionNext(r.g, &ext) != GIF_OK) return false;
        }
    }
}

namespace {

// The palette indexes of every pixel, with the exact colours when they fit.
bool exact_palette(const uint32_t* px, size_t n, std::vector<GifColorType>& colours,
                   std::vector<GifPixelType>& indexes, int& transparent) {
    std::unordered_map<uint32_t, int> seen;
    transparent = -1;
    for (size_t i = 0; i < n; ++i) {
        uint32_t p = px[i];
        if (p >> 24 < 128) {
            if (transparent < 0) {
                if (colours.size() >= 256) return false;
                transparent = int(colours.size());
                colours.push_back({0, 0, 0});
            }
            indexes[i] = GifPixelType(transparent);
            continue;
        }
        uint32_t rgb = p & 0xFFFFFF;
        auto it = seen.find(rgb);
        if (it == seen.end()) {
            if (colours.size() >= 256) return false;
            it = seen.emplace(rgb, int(colours.size())).first;
            colours.push_back({GifByteType(rgb >> 16), GifByteType(rgb >> 8), GifByteType(rgb)});
        }
        indexes[i] = GifPixelType(it->second);
    }
    return true;
}

bool quantized_palette(const uint32_t* px, uint32_t w, uint32_t h, std::vector<GifColorType>& colours,
                       std::vector<GifPixelType>& indexes, int& transparent) {
    size_t n = size_t(w) * h;
    bool any_clear = std::any_of(px, px + n, [](uint32_t p) { return p >> 24 < 128; });
    std::vector<GifByteType> r(n), g(n), b(n);
    for (size_t i = 0; i < n; ++i) {
        r[i] = GifByteType(px[i] >> 16);
        g[i] = GifByteType(px[i] >> 8);
        b[i] = GifByteType(px[i]);
    }
    int size = any_clear ? 255 : 256;
    colours.assign(256, GifColorType{0, 0, 0});
    if (GifQuantizeBuffer(w, h, &size, r.data(), g.data(), b.data(), indexes.data(), colours.data()) != GIF_OK)
        return false;
    colours.resize(size_t(size));
    transparent = -1;
    if (any_clear) {
        transparent = int(colours.size());
        colours.push_back({0, 0, 0});
        for (size_t i = 0; i < n; ++i)
            if (px[i] >> 24 < 128) indexes[i] = GifPixelType(transparent);
    }
    return true;
}

struct Writer {
    GifFileType* g = nullptr;
    ~Writer() {
        int err;
        if (g) EGifCloseFile(g, &err);
    }
};

}  // namespace

bool encode_gif(const uint32_t* pixels, uint32_t width, uint32_t height, std::string& out) {
    size_t n = size_t(width) * height;
    std::vector<GifColorType> colours;
    std::vector<GifPixelType> indexes(n);
    int transparent = -1;
    if (!exact_palette(pixels, n, colours, indexes, transparent)) {
        colours.clear();
        if (!quantized_palette(pixels, width, height, colours, indexes, transparent)) return false;
    }
    int bits = GifBitSize(int(std::max<size_t>(colours.size(), 2)));
    colours.resize(size_t(1) << bits, GifColorType{0, 0, 0});
    ColorMapObject* map = GifMakeMapObject(1 << bits, colours.data());
    if (!map) return false;
    out.clear();
    int err = 0;
    Writer w;
    w.g = EGifOpen(&out, write_fn, &err);
    bool ok = w.g != nullptr;
    if (ok) {
        EGifSetGifVersion(w.g, true);
        ok = EGifPutScreenDesc(w.g, int(width), int(height), bits, 0, map) == GIF_OK;
    }
    if (ok && transparent >= 0) {
        GifByteType gce[4] = {1, 0, 0, GifByteType(transparent)};
        ok = EGifPutExtension(w.g, GRAPHICS_EXT_FUNC_CODE, 4, gce) == GIF_OK;
    }
    if (ok) ok = EGifPutImageDesc(w.g, 0, 0, int(width), int(height), false, nullptr) == GIF_OK;
    for (uint32_t y = 0; ok && y < height; ++y)
        ok = EGifPutLine(w.g, indexes.data() + size_t(y) * width, int(width)) == GIF_OK;
    if (ok) {
        ok = EGifCloseFile(w.g, &err) == GIF_OK;
        w.g = nullptr;
    }
    GifFreeMapObject(map);
    return ok;
}

}  // namespace zan::image::codec
