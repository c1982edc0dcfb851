// TIFF files through libtiff, on memory, with error and warning handlers of
// their own for each open (libtiff prints nothing). 8-bit contiguous RGB and
// RGBA strips are read as stored; every other layout goes through libtiff's
// RGBA reader, whose premultiplied output is turned back to straight alpha.
// Written as 8-bit RGBA, unassociated alpha, LZW.
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/image_codec.h"

namespace zan::image::codec {

namespace {

struct Memory {
    const uint8_t* in = nullptr;
    std::string* out = nullptr;
    size_t size = 0, pos = 0;
};

tmsize_t read_fn(thandle_t h, void* buf, tmsize_t n) {
    Memory* m = static_cast<Memory*>(h);
    if (!m->in || n < 0 || m->pos >= m->size) return 0;
    size_t k = std::min(size_t(n), m->size - m->pos);
    std::memcpy(buf, m->in + m->pos, k);
    m->pos += k;
    return tmsize_t(k);
}

tmsize_t write_fn(thandle_t h, void* buf, tmsize_t n) {
    Memory* m = static_cast<Memory*>(h);
    if (!m->out || n < 0) return -1;
    if (m->out->size() < m->pos + size_t(n)) m->out->resize(m->pos + size_t(n));
    std::memcpy(m->out->data() + m->pos, buf, size_t(n));
    m->pos += size_t(n);
    return n;
}

toff_t seek_fn(thandle_t h, toff_t off, int whence) {
    Memory* m = static_cast<Memory*>(h);
    size_t length = m->out ? m->out->size() : m->size;
    uint64_t base = whence == SEEK_CUR ? m->pos : whence == SEEK_END ? length : 0;
    uint64_t to = base + off;
    if (to > (uint64_t(1) << 40)) return toff_t(-1);
    m->pos = size_t(to);
    return to;
}

int close_fn(thandle_t) { return 0; }
toff_t size_fn(thandle_t h) {
    Memory* m = static_cast<Memory*>(h);
    return m->out ? m->out->size() : m->size;
}
int map_fn(thandle_t, void**, toff_t*) { return 0; }
void unmap_fn(thandle_t, void*, toff_t) {}

int quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct File {
    TIFF* t = nullptr;
    ~File() {
        if (t) TIFFClose(t);
    }
};

TIFF* open(Memory& m, const char* mode) {
    TIFFOpenOptions* o = TIFFOpenOptionsAlloc();
    if (!o) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(o, quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(o, quiet, nullptr);
    TIFF* t = TIFFClientOpenExt("memory", mode, &m, read_fn, write_fn, seek_fn, close_fn, size_fn, map_fn,
                                unmap_fn, o);
    TIFFOpenOptionsFree(o);
    return t;
}

// 8-bit RGB or RGBA in strips, samples together: read as stored.
bool read_stored(TIFF* t, uint16_t spp, bool associated, Raster& out) {
    tmsize_t line = TIFFScanlineSize(t);
    if (line < tmsize_t(out.width) * spp) return false;
    std::vector<uint8_t> buf(static_cast<size_t>(line));
    for (uint32_t y = 0; y < out.height; ++y) {
        if (TIFFReadScanline(t, buf.data(), y, 0) < 0) return false;
        uint32_t* row = out.pixels + size_t(y) * out.width;
        for (uint32_t x = 0; x < out.width; ++x) {
            const uint8_t* s = buf.data() + size_t(x) * spp;
            uint32_t a = spp >= 4 ? s[3] : 255;
            uint32_t p = a << 24 | uint32_t(s[0]) << 16 | uint32_t(s[1]) << 8 | s[2];
            row[x] = associated ? straight(p) : p;
        }
    }
    return true;
}

bool read_rgba(TIFF* t, Raster& out) {
    if (!TIFFReadRGBAImageOriented(t, out.width, out.height, out.pixels, ORIENTATION_TOPLEFT, 0)) return false;
    size_t n = size_t(out.width) * out.height;
    for (size_t i = 0; i < n; ++i) {
        uint32_t p = out.pixels[i];  // R in the low byte
        uint32_t swapped = (p & 0xFF00FF00u) | (p & 0xFF) << 16 | (p >> 16 & 0xFF);
        out.pixels[i] = straight(swapped);
    }
    return true;
}

}  // namespace

bool decode_tiff(const uint8_t* data, size_t size, Raster& out) {
    Memory m;
    m.in = data;
    m.size = size;
    File f;
    f.t = open(m, "rm");
    if (!f.t) return false;
    uint32_t w = 0, h = 0;
    uint16_t bps = 0, spp = 0, planar = PLANARCONFIG_CONTIG, photometric = 0;
    if (!TIFFGetField(f.t, TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(f.t, TIFFTAG_IMAGELENGTH, &h)) return false;
    TIFFGetFieldDefaulted(f.t, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(f.t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(f.t, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetField(f.t, TIFFTAG_PHOTOMETRIC, &photometric);
    // LZW packs at most about 2,730 samples into a byte, bilevel data 8 pixels.
    if (!out.allocate(w, h, uint64_t(size) * 8 * 2731)) return false;
    uint16_t extra_count = 0;
    uint16_t* extra = nullptr;
    TIFFGetFieldDefaulted(f.t, TIFFTAG_EXTRASAMPLES, &extra_count, &extra);
    bool associated = extra_count >= 1 && extra && extra[0] == EXTRASAMPLE_ASSOCALPHA;
    bool stored = bps == 8 && planar == PLANARCONFIG_CONTIG && photometric == PHOTOMETRIC_RGB &&
                  (spp == 3 || (spp == 4 && extra_count == 1)) && !TIFFIsTiled(f.t);
    return stored ? read_stored(f.t, spp, associated, out) : read_rgba(f.t, out);
}

bool encode_tiff(const uint32_t* pixels, uint32_t width, uint32_t height, std::string& out) {
    out.clear();
    Memory m;
    m.out = &out;
    File f;
    f.t = open(m, "w");
    if (!f.t) return false;
    uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
    TIFFSetField(f.t, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(f.t, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(f.t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(f.t, TIFFTAG_SAMPLESPERPIXEL, 4);
    TIFFSetField(f.t, TIFFTAG_EXTRASAMPLES, 1, extra);
    TIFFSetField(f.t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(f.t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(f.t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(f.t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(f.t, 0));
    std::vector<uint8_t> row(size_t(width) * 4);
    for (uint32_t y = 0; y < height; ++y) {
        const uint32_t* src = pixels + size_t(y) * width;
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t p = src[x];
            row[4 * x] = uint8_t(p >> 16);
            row[4 * x + 1] = uint8_t(p >> 8);
            row[4 * x + 2] = uint8_t(p);
            row[4 * x + 3] = uint8_t(p >> 24);
        }
        if (TIFFWriteScanline(f.t, row.data(), y, 0) < 0) return false;
    }
    if (!TIFFWriteDirectory(f.t)) return false;
    TIFFClose(f.t);
    f.t = nullptr;
    return true;
}

}  // namespace zan::image::codec
