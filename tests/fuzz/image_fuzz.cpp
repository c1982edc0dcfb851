// libFuzzer target: any bytes through the five image decoders (the first byte
// picks one, the rest is the file). A refusal is expected; a crash, a
// sanitizer report, a leak or a raster of sizes out of bounds is a fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "datatypes/image_codec.h"

using namespace zan::image;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const codec::Decode decoders[] = {codec::decode_bmp, codec::decode_png, codec::decode_gif,
                                             codec::decode_jpeg, codec::decode_tiff};
    std::vector<uint8_t> copy(data + 1, data + size);  // exact size: reads past it are seen
    codec::Raster r;
    if (decoders[data[0] % 5](copy.data(), copy.size(), r)) {
        if (!r.pixels || !codec::size_ok(r.width, r.height, codec::max_pixels)) std::abort();
        volatile uint32_t last = r.pixels[size_t(r.width) * r.height - 1];
        (void)last;
    }
    return 0;
}
