// JPEG files through TurboJPEG, into BGRA words (alpha 255). A warning stops
// decoding, so a truncated file fails instead of giving a grey or black tail.
// No EXIF rotation is applied. Written at quality 90 with 4:2:0 chroma
// subsampling; alpha is dropped, colours are kept.
#include <turbojpeg.h>

#include "datatypes/image_codec.h"

namespace zan::image::codec {

namespace {
struct Handle {
    tjhandle h;
    explicit Handle(tjhandle x) : h(x) {}
    ~Handle() {
        if (h) tjDestroy(h);
    }
};
}  // namespace

bool decode_jpeg(const uint8_t* data, size_t size, Raster& out) {
    if (size > 0xFFFFFFFFu) return false;
    Handle t(tjInitDecompress());
    if (!t.h) return false;
    int w = 0, h = 0, sub = 0, space = 0;
    if (tjDecompressHeader3(t.h, data, (unsigned long)size, &w, &h, &sub, &space) != 0) return false;
    // An 8x8 block costs at least a few bits even when flat.
    if (!out.allocate(uint64_t(w), uint64_t(h), uint64_t(size) * 256 + 4096)) return false;
    int rc = tjDecompress2(t.h, data, (unsigned long)size, reinterpret_cast<unsigned char*>(out.pixels), w,
                           w * 4, h, TJPF_BGRA, TJFLAG_STOPONWARNING | TJFLAG_NOREALLOC);
    return rc == 0;
}

bool encode_jpeg(const uint32_t* pixels, uint32_t width, uint32_t height, std::string& out) {
    Handle t(tjInitCompress());
    if (!t.h) return false;
    unsigned char* buf = nullptr;
    unsigned long size = 0;
    int rc = tjCompress2(t.h, reinterpret_cast<const unsigned char*>(pixels), int(width), int(width * 4),
                         int(height), TJPF_BGRA, &buf, &size, TJSAMP_420, 90, 0);
    if (rc == 0) out.assign(reinterpret_cast<const char*>(buf), size);
    tjFree(buf);
    return rc == 0;
}

}  // namespace zan::image::codec
