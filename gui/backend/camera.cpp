// Camera faces on V4L2: the capture devices are the /dev/video* nodes that
// capture video; `data` lists their card names, `selected` picks one (1-based,
// none stops). A streaming thread dequeues the mmap'ed buffers, and hands a
// frame over only when the main thread asked for one (camera.h); it wakes the
// main thread with g_main_context_invoke. The preview asks for the next frame
// each time one arrived, so an idle camera costs one compare-exchange a frame.
#include "gui/backend/camera.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>

#include "datatypes/block.h"
#include "datatypes/image_backend.h"
#include "datatypes/string.h"
#include "gui/backend/views.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/output.h"

namespace zan::gui::camera {

void Exchange::resize(int w, int h) {
    width = w, height = h;
    frame.assign(size_t(w) * size_t(h) * 4, 0);
}

bool Exchange::take_ready(std::vector<uint8_t>& out) {
    if (state.load() != ready) return false;
    out = frame;
    state.store(idle, std::memory_order_seq_cst);
    return true;
}

bool Exchange::take(double timeout_seconds, std::vector<uint8_t>& out) {
    ask();
    double waited = 0;
    while (state.load() != ready && waited <= timeout_seconds) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        waited += 0.01;
    }
    int expected = asked;
    if (!state.compare_exchange_strong(expected, idle))
        while (state.load() == copying) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    bool got = state.load() == ready;
    if (got) out = frame;
    state.store(idle, std::memory_order_seq_cst);
    return got;
}

Rect place_preview(int w, int h, double r) {
    if (!(r > 0)) return {0, 0, w, h};
    // The picture keeps its own ratio whichever way it is turned: a portrait
    // picture is never drawn wider than the face.
    if (h * r >= w) {
        double ph = w / r;
        return {0, int(std::lround((h - ph) / 2.0)), w, int(std::lround(ph))};
    }
    double pw = h * r;
    return {int(std::lround((w - pw) / 2.0)), 0, int(std::lround(pw)), h};
}

namespace {
uint8_t clamp8(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }
}  // namespace

bool yuyv_to_bgra(const uint8_t* src, size_t length, int w, int h, uint8_t* out) {
    if (w <= 0 || h <= 0 || w % 2 || length < size_t(w) * size_t(h) * 2) return false;
    for (size_t i = 0, n = size_t(w) * size_t(h) / 2; i < n; ++i) {
        const uint8_t* p = src + i * 4;
        int u = p[1] - 128, v = p[3] - 128;
        for (int k = 0; k < 2; ++k) {
            int c = (p[k * 2] - 16) * 298;
            uint8_t* q = out + (i * 2 + size_t(k)) * 4;
            q[0] = clamp8((c + 516 * u + 128) >> 8);
            q[1] = clamp8((c - 100 * u - 208 * v + 128) >> 8);
            q[2] = clamp8((c + 409 * v + 128) >> 8);
            q[3] = 255;
        }
    }
    return true;
}

bool mjpeg_to_bgra(const uint8_t* src, size_t length, int w, int h, uint8_t* out) {
    if (!src || length < 4 || w <= 0 || h <= 0) return false;
    tjhandle tj = tjInitDecompress();
    if (!tj) return false;
    int jw = 0, jh = 0, sub = 0, space = 0;
    bool ok = tjDecompressHeader3(tj, src, static_cast<unsigned long>(length), &jw, &jh, &sub, &space) == 0 &&
              jw == w && jh == h &&
              tjDecompress2(tj, src, static_cast<unsigned long>(length), out, w, w * 4, h, TJPF_BGRA, 0) == 0;
    tjDestroy(tj);
    return ok;
}

}  // namespace zan::gui::camera

namespace zan::gui::views {

namespace {

using camera::Exchange;

struct Buffer {
    void* start = nullptr;
    size_t length = 0;
};

// One camera face's devices and stream. The aspect ratio is the camera's own.
struct Camera {
    uint32_t window = 0;
    std::vector<std::string> paths;
    int fd = -1;
    uint32_t format = 0;
    std::vector<Buffer> buffers;
    std::thread thread;
    std::atomic<bool> running{false};
    Exchange exchange;
    double ratio = 0;
    cairo_surface_t* preview = nullptr;
    std::vector<uint8_t> shown;
};

bool captures(const char* path, std::string& card) {
    int fd = open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    v4l2_capability cap{};
    bool ok = ioctl(fd, VIDIOC_QUERYCAP, &cap) == 0;
    uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    ok = ok && (caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING);
    if (ok) card.assign(reinterpret_cast<const char*>(cap.card), strnlen(reinterpret_cast<const char*>(cap.card), 32));
    close(fd);
    return ok;
}

void stop(Camera* c) {
    c->running = false;
    if (c->thread.joinable()) c->thread.join();
    if (c->fd >= 0) {
        v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        ioctl(c->fd, VIDIOC_STREAMOFF, &type);
        for (Buffer& b : c->buffers)
            if (b.start) munmap(b.start, b.length);
        close(c->fd);
    }
    c->buffers.clear();
    c->fd = -1;
    c->exchange.state.store(Exchange::idle);
}

gboolean frame_arrived(gpointer data);

void stream(Camera* c) {
    while (c->running) {
        fd_set fds;
        FD_ZERO(&fds);
        FD_SET(c->fd, &fds);
        timeval tv{0, 200000};
        if (select(c->fd + 1, &fds, nullptr, nullptr, &tv) <= 0) continue;
        v4l2_buffer buf{};
        buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buf.memory = V4L2_MEMORY_MMAP;
        if (ioctl(c->fd, VIDIOC_DQBUF, &buf) < 0) continue;
        const auto* src = static_cast<const uint8_t*>(c->buffers[buf.index].start);
        size_t used = buf.bytesused;
        int w = c->exchange.width, h = c->exchange.height;
        bool handed = c->exchange.offer([&](uint8_t* out) {
            return c->format == V4L2_PIX_FMT_MJPEG ? camera::mjpeg_to_bgra(src, used, w, h, out)
                                                   : camera::yuyv_to_bgra(src, used, w, h, out);
        });
        ioctl(c->fd, VIDIOC_QBUF, &buf);
        if (handed) g_main_context_invoke(nullptr, frame_arrived, GUINT_TO_POINTER(c->window));
    }
}

bool start(Camera* c, size_t index) {
    stop(c);
    int fd = open(c->paths[index].c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    c->fd = fd;
    v4l2_format fmt{};
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    bool ok = false;
    for (uint32_t f : {uint32_t(V4L2_PIX_FMT_YUYV), uint32_t(V4L2_PIX_FMT_MJPEG)}) {
        fmt.fmt.pix.width = 640;
        fmt.fmt.pix.height = 480;
        fmt.fmt.pix.pixelformat = f;
        fmt.fmt.pix.field = V4L2_FIELD_ANY;
        if (ioctl(fd, VIDIOC_S_FMT, &fmt) == 0 && fmt.fmt.pix.pixelformat == f) {
            ok = true;
            break;
        }
    }
    v4l2_requestbuffers req{};
    req.count = 4;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    ok = ok && ioctl(fd, VIDIOC_REQBUFS, &req) == 0 && req.count > 0;
    for (uint32_t i = 0; ok && i < req.count; ++i) {
        v4l2_buffer buf{};
        buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buf.memory = V4L2_MEMORY_MMAP;
        buf.index = i;
        ok = ioctl(fd, VIDIOC_QUERYBUF, &buf) == 0;
        if (!ok) break;
        void* p = mmap(nullptr, buf.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, buf.m.offset);
        ok = p != MAP_FAILED;
        if (!ok) break;
        c->buffers.push_back({p, buf.length});
        ok = ioctl(fd, VIDIOC_QBUF, &buf) == 0;
    }
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    ok = ok && ioctl(fd, VIDIOC_STREAMON, &type) == 0;
    if (!ok) {
        output::print_ascii("This device cannot preview!\n");
        stop(c);
        return false;
    }
    c->format = fmt.fmt.pix.pixelformat;
    c->exchange.resize(int(fmt.fmt.pix.width), int(fmt.fmt.pix.height));
    c->ratio = double(fmt.fmt.pix.width) / double(fmt.fmt.pix.height);
    c->running = true;
    c->exchange.ask();  // the preview's first frame
    c->thread = std::thread(stream, c);
    return true;
}

Camera* camera_of(uint32_t window) {
    ViewState* s = state_of(window);
    return s ? static_cast<Camera*>(s->camera) : nullptr;
}

Cell image_of(const std::vector<uint8_t>& bgra, int w, int h) {
    Node rec = image::from_pixels(uint32_t(w), uint32_t(h), 0, bgra.data());
    Cell img;
    image::init_image(img, rec, uint32_t(w), uint32_t(h));
    return img;
}

void show_frame(Camera* c) {
    int w = c->exchange.width, h = c->exchange.height;
    if (c->preview) cairo_surface_destroy(c->preview);
    c->preview = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    uint8_t* d = cairo_image_surface_get_data(c->preview);
    int stride = cairo_image_surface_get_stride(c->preview);
    for (int y = 0; y < h; ++y) memcpy(d + size_t(y) * stride, c->shown.data() + size_t(y) * w * 4, size_t(w) * 4);
    cairo_surface_mark_dirty(c->preview);
    if (GtkWidget* wd = windows::get(c->window)) gtk_widget_queue_draw(wd);
}

gboolean frame_arrived(gpointer data) {
    uint32_t window = GPOINTER_TO_UINT(data);
    Camera* c = camera_of(window);
    if (!c || !c->exchange.take_ready(c->shown)) return G_SOURCE_REMOVE;
    show_frame(c);
    Cell face = face_of(window);
    collector::Root keep(face);
    if (is(face, Type::object) && is(get_facet(face, facet::image), Type::none)) {
        Cell img = image_of(c->shown, c->exchange.width, c->exchange.height);
        set_facet_quiet(face, facet::image, img);
    }
    if (c->running) c->exchange.ask();
    return G_SOURCE_REMOVE;
}

gboolean on_draw(GtkWidget* w, cairo_t* cr, gpointer) {
    WidgetRecord* r = record_of(w);
    Camera* c = r ? camera_of(r->handle) : nullptr;
    if (!c || !c->preview) return FALSE;
    camera::Rect p = camera::place_preview(gtk_widget_get_allocated_width(w), gtk_widget_get_allocated_height(w), c->ratio);
    cairo_translate(cr, p.x, p.y);
    cairo_scale(cr, double(p.w) / c->exchange.width, double(p.h) / c->exchange.height);
    cairo_set_source_surface(cr, c->preview, 0, 0);
    cairo_paint(cr);
    return TRUE;
}

[[noreturn]] void cannot_open(int32_t n) {
    Cell v = integer_cell(n);
    errors::fire(errors::id::cannot_open, &v);
}

}  // namespace

void camera_release(void* p) {
    auto* c = static_cast<Camera*>(p);
    stop(c);
    if (c->preview) cairo_surface_destroy(c->preview);
    delete c;
}

void camera_setup(const Cell& face_in, uint32_t window) {
    Cell face = face_in;
    collector::Root keep(face);
    ViewState* s = state_of(window);
    if (!s) return;
    g_signal_connect(s->main, "draw", G_CALLBACK(on_draw), nullptr);
    auto* c = new Camera;
    c->window = window;
    std::vector<std::string> cards;
    for (int i = 0; i < 64; ++i) {
        std::string path = "/dev/video" + std::to_string(i), card;
        if (captures(path.c_str(), card)) {
            c->paths.push_back(path);
            cards.push_back(card);
        }
    }
    if (c->paths.empty()) {
        output::print_ascii("No video capture hardware\n");
        delete c;
        return;
    }
    s->camera = c;
    Cell names;
    collector::Root keep_names(names);
    block::make_at(names, int32_t(cards.size()));
    for (const std::string& card : cards) {
        Cell t;
        collector::Root kt(t);
        string::rs_make_at(t, uint32_t(card.size()) + 1);
        string::append_utf8(series_node(t), card);
        block::rs_append(names, t);
    }
    set_facet_quiet(face, facet::data, names);
    if (is(get_facet(face, facet::selected), Type::integer)) camera_select(face, window);
}

// `selected`: none stops the camera, n starts device n. A camera whose
// devices could not be listed has no device n either.
void camera_select(const Cell& face, uint32_t window) {
    Cell sel = get_facet(face, facet::selected);
    Camera* c = camera_of(window);
    if (is(sel, Type::none)) {
        if (c) stop(c);
        return;
    }
    if (!is(sel, Type::integer)) return;
    int32_t n = int_of(sel);
    if (!c || n < 1 || size_t(n) > c->paths.size()) cannot_open(n);
    if (start(c, size_t(n - 1))) {
        Cell ratio = get_field(face, "ratio");
        if (is(ratio, Type::float_)) set_field_quiet(face, "ratio", float_cell(c->ratio));
    }
}

void camera_capture(const Cell& face_in, uint32_t window) {
    Cell face = face_in;
    collector::Root keep(face);
    set_facet_quiet(face, facet::image, none_cell());
    Camera* c = camera_of(window);
    if (!c || !c->running) return;
    std::vector<uint8_t> frame;
    if (!c->exchange.take(3.0, frame)) return;
    Cell img = image_of(frame, c->exchange.width, c->exchange.height);
    set_facet_quiet(face, facet::image, img);
    if (c->running) c->exchange.ask();
}

void camera_resize(uint32_t window) {
    if (GtkWidget* w = windows::get(window)) gtk_widget_queue_draw(w);
}

}  // namespace zan::gui::views
