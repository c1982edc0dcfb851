// PNG files through libpng's simplified API: BGRA output (our word order in
// memory), 16-bit samples taken as sRGB so that they scale to 8 bits with no
// gamma change. libpng reports its errors in the image structure; nothing is
// printed.
#include <png.h>

#include "datatypes/image_codec.h"

namespace zan::image::codec {

bool decode_png(const uint8_t* data, size_t size, Raster& out) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&img, data, size)) return false;
    img.format = PNG_FORMAT_BGRA;
    img.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
    // Deflate packs at most about 1,032 bytes into one; a pixel takes at least
    // one bit of filtered data.
    if (!out.allocate(img.width, img.height, uint64_t(size) * 8 * 1032)) {
        png_image_free(&img);
        return false;
    }
    if (!png_image_finish_read(&img, nullptr, out.pixels, int32_t(out.width * 4), nullptr)) {
        png_image_free(&img);
        return false;
    }
    return true;
}

bool encode_png(const uint32_t* pixels, uint32_t width, uint32_t height, std::string& out) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    img.width = width;
    img.height = height;
    img.format = PNG_FORMAT_BGRA;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&img, nullptr, &size, 0, pixels, int32_t(width * 4), nullptr)) return false;
    out.resize(size);
    if (!png_image_write_to_memory(&img, out.data(), &size, 0, pixels, int32_t(width * 4), nullptr)) return false;
    out.resize(size);
    return true;
}

}  // namespace zan::image::codec
