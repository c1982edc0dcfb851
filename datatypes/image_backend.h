// The image back end: pixel storage behind image! values, and the interface
// the clipboard, the GUI, Zanbin and the codecs use.
//
// An image! cell holds the node of a record: a small byte series of three
// words (flags, size w | h << 16, externals index). The externals entry (kind
// "image") owns a Bitmap whose pixels sit on the C heap and never move, so a
// drawing surface may wrap them; the collector's release callback frees them
// once no image! refers to the record. Pixels are 32-bit words
// A<<24|R<<16|G<<8|B, rows top-down, stride 4w, straight alpha; in memory the
// bytes run B, G, R, A.
//
// The GUI back end keeps a premultiplied surface in the device slot. It sets
// `drawn` after drawing into it; the next pixel access calls its sync hook,
// which writes the straight pixels back. Writers set `written` so that the
// back end rebuilds its surface. The device is kept while `used` is set
// between two collections, else released by the marker.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace zan::image {

enum Format : int { bmp = 0, png = 1, gif = 2, jpeg = 3, tiff = 4, format_count = 5 };

namespace flag {
constexpr uint32_t written = 0x02;  // pixels written since the device surface was made
constexpr uint32_t drawn = 0x20;    // the device surface is newer than the pixels
constexpr uint32_t used = 0x40;     // the device surface was used since the last collection
}  // namespace flag

struct Bitmap {
    uint32_t* pixels = nullptr;
    uint32_t width = 0, height = 0;
    void* device = nullptr;
};

struct DeviceHooks {
    void (*release)(void* device) = nullptr;
    // Writes the device surface's pixels, un-premultiplied, into the bitmap.
    void (*sync)(Bitmap& bitmap, void* device) = nullptr;
};
void set_device_hooks(const DeviceHooks& hooks);

inline uint32_t size_word(uint32_t w, uint32_t h) { return w | h << 16; }
inline uint32_t width_of(const Cell& img) { return img.w3 & 0xFFFF; }
inline uint32_t height_of(const Cell& img) { return img.w3 >> 16; }
inline uint32_t pixel_count(const Cell& img) { return width_of(img) * height_of(img); }

// --- records ----------------------------------------------------------------------

uint32_t record_flags(Node record);
void set_record_flags(Node record, uint32_t flags);
// The record's bitmap, nullptr once its pixels were released.
Bitmap* bitmap_of(Node record);
// The pixel words for reading (drawn pixels synced first) or writing (also
// sets `written`); access error bad-media when the pixels were released.
// Valid until the next allocation.
uint32_t* read_pixels(Node record);
uint32_t* write_pixels(Node record);

// A record over malloc'd pixels, which it then owns (also on failure).
Node make_record(uint32_t* pixels, uint32_t width, uint32_t height);
// Writes an image! (head 0) over the record into the cell; a null record
// gives an empty image of the given size.
void init_image(Cell& cell, Node record, uint32_t width = 0, uint32_t height = 0);

// Pixels from script data: RGB bytes (white where missing), alpha bytes as
// transparency (opaque where missing), or one colour tuple. 0 for an empty side.
Node make_bitmap(uint32_t width, uint32_t height, const uint8_t* rgb, size_t rgb_length,
                 const uint8_t* alpha, size_t alpha_length, const Cell* colour);
// From BGRA rows (stride 0 means 4w), and from RGBA rows (clipboard, camera).
Node from_pixels(uint32_t width, uint32_t height, size_t stride, const uint8_t* bgra);
Node from_rgba(uint32_t width, uint32_t height, size_t stride, const uint8_t* rgba);

// New records: nearest-neighbour scale, vertical flip, an independent copy,
// and a rectangle (clipped to the image).
Node scale(Node record, uint32_t width, uint32_t height);
Node flip_vertical(Node record);
Node clone(Node record);
Node copy_rect(Node record, uint32_t x, uint32_t y, uint32_t width, uint32_t height);

// --- files ------------------------------------------------------------------------

// The format of the first bytes, or -1.
int known_format(const uint8_t* data, size_t size);
// A record of the decoded bytes; 0 when no format accepts them.
Node decode_memory(const uint8_t* data, size_t size);
// none! without a known signature; bad-media when the data does not decode.
Cell decode_binary(const Cell& bin);
// cannot-open with the file when it cannot be read or decoded.
Cell decode_file(const Cell& file);
// A binary! through decode_binary, anything else through decode_file.
Cell decode(const Cell& source);
// The encoded file as a binary!; bad-media for an image of size 0. An unknown
// format prints "Cannot find image encoder" and answers none!.
Cell encode(const Cell& img, int format);

// --- pixel data --------------------------------------------------------------------

enum DataKind : int { alpha = 0, rgb = 1, argb = 2 };
// The bytes of every pixel from the first, whatever the head.
Cell extract_data(const Cell& img, int kind);
// Writes bytes or one colour (tuple!, or integer! as four bytes lowest first)
// from the first pixel; invalid-arg for any other value.
void set_data(const Cell& img, const Cell& value, int kind);
// The tuple R.G.B.T of the pixel at a 0-based offset; none! from w*h on.
Cell pick_pixel(const Cell& img, int64_t offset);
// Sets loop word i (1 .. count) to the pixel at head + i - 1.
void foreach_next(const Cell& words, const Cell& img, int32_t count);
// Frees the pixels now; later access raises bad-media.
void release_bitmaps(const Cell& img);

// --- the GUI's device surface -------------------------------------------------------

// The cached device surface (sets `used`), or nullptr.
void* device(const Cell& img);
void set_device(const Cell& img, void* dev);
// After drawing into the device surface.
void mark_drawn(const Cell& img);
// Releases every image's device surface (the GUI dropping its drawing device).
void release_all_devices();

// Pixel bytes made since the last collection; more than the budget collects first.
uint64_t pending_bytes();
// Pixel bytes of the bitmaps not yet released.
uint64_t live_bytes();

// Registers the externals kind and the collector's image step.
void init_backend();

}  // namespace zan::image
