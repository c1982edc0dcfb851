// libFuzzer target: camera frames to BGRA. The first byte picks YUYV or
// MJPEG, the next two the frame's width and height; the rest is the frame.
// Converting into a buffer of exactly width x height pixels must never read
// or write outside either buffer.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "gui/backend/camera.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    int w = data[1] % 65, h = data[2] % 65;
    std::vector<uint8_t> src(data + 3, data + size);  // exactly the frame, so ASan sees overreads
    std::vector<uint8_t> out(size_t(w) * size_t(h) * 4);
    if (data[0] & 1) zan::gui::camera::mjpeg_to_bgra(src.data(), src.size(), w, h, out.data());
    else zan::gui::camera::yuyv_to_bgra(src.data(), src.size(), w, h, out.data());
    return 0;
}
