// The draw pass: its target (an image's device surface, or a window's
// cairo_t), the pass defaults, the end of the pass, and the routines behind
// system/view/platform that start one.
//
// The image device keeps, beside the surface, the premultiplied value each
// pixel had when its straight value was last stored. Syncing writes back
// only the pixels whose premultiplied value changed, so a pixel the pass
// never painted keeps its exact stored colour (premultiplying loses bits
// when alpha is low).
#include "gui/backend/render.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/error.h"
#include "datatypes/image_backend.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/context.h"
#include "gui/backend/draw_context.h"
#include "gui/backend/draw_walker.h"
#include "gui/backend/text_box.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/output.h"
#include "runtime/ownership.h"
#include "runtime/unwind.h"

namespace zan::render {

namespace {

struct Device {
    cairo_surface_t* surface = nullptr;
    std::vector<uint32_t> base;  // premultiplied value of each stored pixel
    int refs = 1;
};

void drop(Device* d) {
    if (--d->refs > 0) return;
    cairo_surface_destroy(d->surface);
    delete d;
}

void release_device(void* d) { drop(static_cast<Device*>(d)); }

// Pixels go in runs of this many: a run the pass left alone (or one wholly
// opaque) is handled as a block; the fixed length lets the checks vectorise.
constexpr uint32_t run = 8;

// OR of the differences and AND of the alphas of one run.
inline void look(const uint32_t* a, const uint32_t* b, uint32_t& changed, uint32_t& alpha) {
    changed = 0, alpha = 0xFF000000u;
    for (uint32_t k = 0; k < run; ++k) changed |= a[k] ^ b[k];
    for (uint32_t k = 0; k < run; ++k) alpha &= a[k];
}

void sync_device(image::Bitmap& b, void* dev) {
    Device* d = static_cast<Device*>(dev);
    cairo_surface_flush(d->surface);
    const uint8_t* data = cairo_image_surface_get_data(d->surface);
    int stride = cairo_image_surface_get_stride(d->surface);
    for (uint32_t y = 0; y < b.height; ++y) {
        const uint32_t* row = reinterpret_cast<const uint32_t*>(data + size_t(y) * size_t(stride));
        uint32_t* base = d->base.data() + size_t(y) * b.width;
        uint32_t* out = b.pixels + size_t(y) * b.width;
        uint32_t x = 0;
        for (; x + run <= b.width; x += run) {
            uint32_t changed, alpha;
            look(row + x, base + x, changed, alpha);
            if (!changed) continue;
            if (alpha == 0xFF000000u) {  // opaque pixels read back as they are
                std::memcpy(base + x, row + x, run * sizeof(uint32_t));
                std::memcpy(out + x, row + x, run * sizeof(uint32_t));
                continue;
            }
            for (uint32_t k = x; k < x + run; ++k)
                if (row[k] != base[k]) base[k] = row[k], out[k] = unpremultiply(row[k]);
        }
        for (; x < b.width; ++x)
            if (row[x] != base[x]) base[x] = row[x], out[x] = unpremultiply(row[x]);
    }
}

void upload(Device* d, const uint32_t* pixels, uint32_t w, uint32_t h) {
    cairo_surface_flush(d->surface);
    uint8_t* data = cairo_image_surface_get_data(d->surface);
    int stride = cairo_image_surface_get_stride(d->surface);
    d->base.resize(size_t(w) * h);
    for (uint32_t y = 0; y < h; ++y) {
        uint32_t* row = reinterpret_cast<uint32_t*>(data + size_t(y) * size_t(stride));
        uint32_t* base = d->base.data() + size_t(y) * w;
        const uint32_t* in = pixels + size_t(y) * w;
        uint32_t x = 0;
        for (; x + run <= w; x += run) {
            uint32_t changed, alpha;
            look(in + x, in + x, changed, alpha);
            if (alpha == 0xFF000000u) {
                std::memcpy(row + x, in + x, run * sizeof(uint32_t));
            } else {
                for (uint32_t k = x; k < x + run; ++k) row[k] = premultiply(in[k]);
            }
        }
        for (; x < w; ++x) row[x] = premultiply(in[x]);
        std::memcpy(base, row, size_t(w) * sizeof(uint32_t));
    }
    cairo_surface_mark_dirty(d->surface);
}

// The image's surface, current with its pixels; the caller holds a reference.
Device* target_of(const Cell& img) {
    uint32_t w = image::width_of(img), h = image::height_of(img);
    Node rec = series_node(img);
    const uint32_t* pixels = image::read_pixels(rec);  // bad-media when released
    Device* d = static_cast<Device*>(image::device(img));
    bool stale = image::record_flags(rec) & image::flag::written;
    if (!d) {
        d = new Device;
        d->surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(w), int(h));
        stale = true;
    }
    if (stale) {
        upload(d, pixels, w, h);
        image::set_device(img, d);
    }
    ++d->refs;
    return d;
}

void print_line(const std::string& text) { output::print_utf8(text + "\n"); }

// Ends the pass: pops what the commands left, and reports a cairo failure.
void end_pass(Context& c) {
    finish(c);
    cairo_status_t st = cairo_status(c.cr);
    if (st != CAIRO_STATUS_SUCCESS) print_line(std::string("draw-end error: ") + cairo_status_to_string(st));
}

// The pass over an open context: walks, then ends. catch_errors prints a
// draw error instead of raising it.
void run_pass(Context& c, const Cell& commands) {
    struct End {
        Context& c;
        ~End() { end_pass(c); }
    } end{c};
    if (!is(commands, Type::block)) return;
    try {
        walk(c, commands);
    } catch (const Abandon&) {
    } catch (const unwind::Thrown& t) {
        if (t.code != unwind::error || !c.catch_errors) throw;
        report_pending_error();
    }
}

}  // namespace

void report_pending_error() {
    const Cell& e = errors::pending();
    if (is(e, Type::error)) print_line(error::form_text(e));
}

void do_draw(const Cell& image_cell, const Cell& commands) {
    Cell img = image_cell, cmds = commands;
    collector::Root k1(img), k2(cmds);
    if (!image::width_of(img) || !image::height_of(img)) return;
    Device* d = target_of(img);
    struct Hold {
        Cell& img;
        Device* d;
        ~Hold() {
            // A collection during the pass may have dropped the device from
            // the image: the drawing is then written back at once.
            if (image::device(img) == d) {
                image::mark_drawn(img);
            } else if (image::Bitmap* b = image::bitmap_of(series_node(img)); b && b->pixels) {
                sync_device(*b, d);
            }
            drop(d);
        }
    } hold{img, d};
    Context c;
    c.cr = cairo_create(d->surface);
    c.target = d->surface;
    c.image = img;
    collector::Root k3(c.image);
    struct Destroy {
        cairo_t* cr;
        ~Destroy() { cairo_destroy(cr); }
    } destroy{c.cr};
    reset(c);
    text_setup(c.cr, true);
    run_pass(c, cmds);
}

namespace {

// The window pass being painted, for draw-face from an on-drawing handler.
Context* g_open = nullptr;
uint32_t g_open_window = 0;

}  // namespace

void paint_face(cairo_t* cr, const Cell& face_cell, double scale, const Cell& commands, uint32_t window,
                void (*drawing)(uint32_t window)) {
    Cell face = face_cell, cmds = commands;
    collector::Root k1(face), k2(cmds);
    Context c;
    c.cr = cr;
    c.target = cairo_get_target(cr);
    c.catch_errors = true;
    c.image = none_cell();
    collector::Root k3(c.image);
    cairo_save(cr);
    reset(c);
    c.st.m = Matrix{scale, 0, 0, scale, 0, 0};
    text_setup(cr, false);
    Context* outer = g_open;
    uint32_t outer_window = g_open_window;
    struct Back {
        cairo_t* cr;
        Context* outer;
        uint32_t outer_window;
        ~Back() {
            g_open = outer;
            g_open_window = outer_window;
            cairo_restore(cr);
        }
    } back{cr, outer, outer_window};
    try {
        paint_face_content(c, face);
    } catch (const unwind::Thrown& t) {
        if (t.code != unwind::error) throw;
        report_pending_error();
    }
    run_pass(c, cmds);
    if (drawing && window) {
        g_open = &c;
        g_open_window = window;
        drawing(window);
    }
}

void draw_into_open_pass(uint32_t window, const Cell& commands) {
    if (!g_open || g_open_window != window) return;
    Cell cmds = commands;
    collector::Root keep(cmds);
    g_open->forget_default_font();  // the handler may have changed the fonts
    try {
        walk(*g_open, cmds);
    } catch (const Abandon&) {
    } catch (const unwind::Thrown& t) {
        if (t.code != unwind::error) throw;
        report_pending_error();
    }
}

Cell face_image(const Cell& face_cell, const Cell& commands) {
    Cell face = face_cell, cmds = commands;
    collector::Root k1(face), k2(cmds);
    Cell size = none_cell();
    if (is(face, Type::object))
        if (Cell* s = context::get_by_symbol(symbol::make("size"), object::context_node(face))) size = *s;
    int w = 0, h = 0;
    if (is(size, Type::pair)) w = pair_x(size), h = pair_y(size);
    if (is(size, Type::point2d)) w = int(point_coord(size, 0)), h = int(point_coord(size, 1));
    if (w <= 0 || h <= 0 || w > 16384 || h > 16384) return none_cell();
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(s);
    struct Free {
        cairo_surface_t* s;
        cairo_t* cr;
        ~Free() {
            cairo_destroy(cr);
            cairo_surface_destroy(s);
        }
    } free_them{s, cr};
    paint_face(cr, face, 1.0, cmds, 0, nullptr);
    cairo_surface_flush(s);
    const uint8_t* data = cairo_image_surface_get_data(s);
    int stride = cairo_image_surface_get_stride(s);
    std::vector<uint32_t> straight(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            straight[size_t(y) * size_t(w) + size_t(x)] =
                unpremultiply(reinterpret_cast<const uint32_t*>(data + size_t(y) * size_t(stride))[x]);
    Cell img = none_cell();
    collector::Root k3(img);
    Node rec = image::from_pixels(uint32_t(w), uint32_t(h), 0, reinterpret_cast<const uint8_t*>(straight.data()));
    image::init_image(img, rec, uint32_t(w), uint32_t(h));
    return img;
}

void init() {
    image::DeviceHooks hooks;
    hooks.release = release_device;
    hooks.sync = sync_device;
    image::set_device_hooks(hooks);
    connect_window_target();
}

}  // namespace zan::render
