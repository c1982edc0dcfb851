// The image file formats, one file each (image_bmp.cpp, image_png.cpp, ...),
// behind one table in image_backend.cpp.
//
// A decoder fills a Raster once, in full: ARGB words (A<<24|R<<16|G<<8|B),
// rows top-down, straight alpha. It prints nothing, and checks the declared
// size before it allocates: a side above 65,535, more than 2^28 pixels or more
// pixels than the input could hold make it fail. An encoder writes a whole file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace zan::image::codec {

constexpr uint64_t max_side = 65535;
constexpr uint64_t max_pixels = uint64_t(1) << 28;

struct Raster {
    uint32_t width = 0, height = 0;
    uint32_t* pixels = nullptr;

    Raster() = default;
    Raster(const Raster&) = delete;
    Raster& operator=(const Raster&) = delete;
    ~Raster() { std::free(pixels); }

    // Checks the sides and the pixel count against `most_pixels` (what the
    // input can hold) and allocates; false when any check fails.
    bool allocate(uint64_t w, uint64_t h, uint64_t most_pixels);
    uint32_t* take() {
        uint32_t* p = pixels;
        pixels = nullptr;
        return p;
    }
};

bool size_ok(uint64_t w, uint64_t h, uint64_t most_pixels);

// Un-premultiplies one ARGB word.
uint32_t straight(uint32_t premultiplied);

using Decode = bool (*)(const uint8_t* data, size_t size, Raster& out);
using Encode = bool (*)(const uint32_t* pixels, uint32_t width, uint32_t height, std::string& out);

bool decode_bmp(const uint8_t* data, size_t size, Raster& out);
bool encode_bmp(const uint32_t* pixels, uint32_t width, uint32_t height, std::string& out);
bool decode_png(const uint8_t* data, size_t size, Raster& out);
bool encode_png(const uint32_t* pixels, uint32_t width, uint32_t height, std::string& out);
bool decode_jpeg(const uint8_t* data, size_t size, Raster& out);
bool encode_jpeg(const uint32_t* pixels, uint32_t width, uint32_t height, std::string& out);
bool decode_gif(const uint8_t* data, size_t size, Raster& out);
bool encode_gif(const uint32_t* pixels, uint32_t width, uint32_t height, std::string& out);
bool decode_tiff(const uint8_t* data, size_t size, Raster& out);
bool encode_tiff(const uint32_t* pixels, uint32_t width, uint32_t height, std::string& out);

}  // namespace zan::image::codec
