// Camera capture's parts that need no device: the frame hand-over between
// the streaming thread and the main thread, frame conversion to BGRA, and
// where the preview goes in the face.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zan::gui::camera {

// One state word carries a frame across threads without a lock:
// 0 idle, 1 the main thread asks, 3 the streaming thread copies, 2 ready.
// The streaming thread writes the buffer only after winning 1 -> 3; the main
// thread reads it only when it sees 2, and withdraws a request by 1 -> 0, so a
// request is either withdrawn or completed, never both.
struct Exchange {
    enum : int { idle = 0, asked = 1, ready = 2, copying = 3 };
    std::atomic<int> state{idle};
    int width = 0, height = 0;
    std::vector<uint8_t> frame;  // width x height BGRA

    void resize(int w, int h);
    // Streaming thread: copies a converted frame when one was asked for;
    // `convert` writes width x height BGRA into its argument and answers
    // whether the frame was good. Answers true when a frame was handed over.
    template <typename Convert>
    bool offer(Convert convert) {
        int expected = asked;
        if (!state.compare_exchange_strong(expected, copying)) return false;
        bool good = convert(frame.data());
        state.store(good ? ready : asked, std::memory_order_seq_cst);
        return good;
    }
    void ask() { state.store(asked, std::memory_order_seq_cst); }
    // Main thread: asks and polls every 10 ms until a frame is ready or the
    // time is up; answers whether `out` got a frame. Leaves the state idle.
    bool take(double timeout_seconds, std::vector<uint8_t>& out);
    // Main thread, without waiting: takes a ready frame.
    bool take_ready(std::vector<uint8_t>& out);
};

struct Rect {
    int x, y, w, h;
};
// The preview of a picture of aspect ratio r (width / height) in a w x h face:
// full width, centred vertically when the picture is the wider, else full
// height, centred horizontally.
Rect place_preview(int w, int h, double r);

// YUYV 4:2:2 (2 pixels in 4 bytes) to BGRA; false when the data is short.
bool yuyv_to_bgra(const uint8_t* src, size_t length, int w, int h, uint8_t* out);
// A JPEG (MJPEG frame) to BGRA at w x h; false when it does not decode to that size.
bool mjpeg_to_bgra(const uint8_t* src, size_t length, int w, int h, uint8_t* out);

}  // namespace zan::gui::camera
