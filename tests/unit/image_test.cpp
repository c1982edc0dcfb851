// The image back end: transformations, release, memory bounds and the
// encoder table, on a started runtime.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "capture.h"
#include "datatypes/image_backend.h"
#include "datatypes/image_codec.h"
#include "evaluator_support.h"
#include "runtime/collector.h"
#include "runtime/memory.h"

namespace zan {
namespace {

class ImageTest : public ::testing::Test {
protected:
    void SetUp() override { test::start(); }

    // A w x h image whose pixel at offset k is the word 0xFF000000 | k.
    static Node counting(uint32_t w, uint32_t h) {
        collector::set_enabled(true);  // the suite starts with collection off
        Node n = image::make_bitmap(w, h, nullptr, 0, nullptr, 0, nullptr);
        uint32_t* px = image::write_pixels(n);
        for (uint32_t k = 0; k < w * h; ++k) px[k] = 0xFF000000u | k;
        return n;
    }
    static uint32_t at(Node n, uint32_t k) { return image::read_pixels(n)[k] & 0xFFFFFF; }
};

TEST_F(ImageTest, ScaleIsNearestNeighbour) {
    Cell held;
    image::init_image(held, counting(2, 2));
    collector::Root keep(held);
    Node src = series_node(held);
    Node big = image::scale(src, 4, 4);
    ASSERT_NE(big, 0u);
    EXPECT_EQ(image::bitmap_of(big)->width, 4u);
    const uint32_t want[16] = {0, 0, 1, 1, 0, 0, 1, 1, 2, 2, 3, 3, 2, 2, 3, 3};
    for (uint32_t k = 0; k < 16; ++k) EXPECT_EQ(at(big, k), want[k]) << k;
    Node small = image::scale(src, 1, 1);
    EXPECT_EQ(at(small, 0), 0u);
    EXPECT_EQ(image::scale(src, 0, 3), 0u);
}

TEST_F(ImageTest, FlipCloneAndRectangles) {
    Cell held;
    image::init_image(held, counting(3, 2));
    collector::Root keep(held);
    Node src = series_node(held);
    Node flipped = image::flip_vertical(src);
    for (uint32_t k = 0; k < 6; ++k) EXPECT_EQ(at(flipped, k), (k + 3) % 6) << k;
    Node copy = image::clone(src);
    image::write_pixels(copy)[0] = 0;
    EXPECT_EQ(image::read_pixels(src)[0], 0xFF000000u);  // independent
    struct {
        uint32_t x, y, w, h, width, height, first;
    } rects[] = {
        {1, 0, 2, 2, 2, 2, 1},   // inside
        {2, 1, 5, 5, 1, 1, 5},   // clipped at the right and bottom edges
        {0, 1, 3, 1, 3, 1, 3},   // one whole row
    };
    for (auto& r : rects) {
        Node n = image::copy_rect(src, r.x, r.y, r.w, r.h);
        ASSERT_NE(n, 0u);
        EXPECT_EQ(image::bitmap_of(n)->width, r.width);
        EXPECT_EQ(image::bitmap_of(n)->height, r.height);
        EXPECT_EQ(at(n, 0), r.first);
    }
    EXPECT_EQ(image::copy_rect(src, 3, 0, 1, 1), 0u);  // outside
}

TEST_F(ImageTest, RecycleReleasesUnreferencedPixels) {
    collector::do_cycle();
    uint64_t before = image::live_bytes();
    Cell kept;
    image::init_image(kept, image::make_bitmap(10, 10, nullptr, 0, nullptr, 0, nullptr));
    collector::Root keep(kept);
    image::make_bitmap(20, 20, nullptr, 0, nullptr, 0, nullptr);  // dropped at once
    EXPECT_EQ(image::live_bytes(), before + 400 + 1600);
    collector::do_cycle();
    EXPECT_EQ(image::live_bytes(), before + 400);
    EXPECT_EQ(image::read_pixels(series_node(kept))[0], 0xFFFFFFFFu);
    image::release_bitmaps(kept);
    EXPECT_EQ(image::live_bytes(), before);
    EXPECT_EQ(test::raised_id([&] { image::read_pixels(series_node(kept)); }), errors::id::bad_media);
}

TEST_F(ImageTest, DroppedImagesKeepMemoryBounded) {
    collector::set_enabled(true);  // the suite starts with collection off
    Cell small, big;  // 2,560,000 and 8,388,608 bytes of pixels: plain and huge-page memory
    image::init_image(small, image::make_bitmap(800, 800, nullptr, 0, nullptr, 0, nullptr));
    collector::Root keep_small(small);
    image::init_image(big, image::make_bitmap(2048, 1024, nullptr, 0, nullptr, 0, nullptr));
    collector::Root keep_big(big);
    Cell files[] = {image::encode(small, image::jpeg), image::encode(big, image::png)};
    collector::Root keep_jpeg(files[0]), keep_png(files[1]);
    struct {
        const char* how;
        int rounds;
        std::function<void()> make;
    } cases[] = {
        {"made", 1000, [] { image::make_bitmap(1000, 1000, nullptr, 0, nullptr, 0, nullptr); }},
        {"made small", 200, [] { image::make_bitmap(800, 800, nullptr, 0, nullptr, 0, nullptr); }},
        {"made big", 40, [] { image::make_bitmap(2048, 1024, nullptr, 0, nullptr, 0, nullptr); }},
        {"decoded jpeg", 120, [&] { image::decode_binary(files[0]); }},
        {"decoded png", 40, [&] { image::decode_binary(files[1]); }},
    };
    for (auto& c : cases) {  // each makes more than the bound in all
        uint64_t most = 0;
        for (int i = 0; i < c.rounds; ++i) {
            c.make();
            most = std::max(most, image::live_bytes());
        }
        EXPECT_LT(most, uint64_t(256) << 20) << c.how;
    }
    // Pixels in either kind of memory read back as written.
    for (Cell* c : {&small, &big}) {
        Node copy = image::clone(series_node(*c));
        const image::Bitmap* b = image::bitmap_of(copy);
        uint32_t last = b->width * b->height - 1;
        image::write_pixels(copy)[last] = 0x12345678u;
        EXPECT_EQ(image::read_pixels(copy)[0], 0xFFFFFFFFu);
        EXPECT_EQ(image::read_pixels(copy)[last], 0x12345678u);
    }
}

TEST_F(ImageTest, UnknownEncoderPrintsAndGivesNothing) {
    Cell img;
    image::init_image(img, image::make_bitmap(1, 1, nullptr, 0, nullptr, 0, nullptr));
    collector::Root keep(img);
    test::StdoutCapture out;
    Cell r = image::encode(img, 5);
    EXPECT_EQ(out.text(), "Cannot find image encoder\n");
    EXPECT_TRUE(is(r, Type::none));
    Cell empty;
    image::init_image(empty, 0, 0, 5);
    EXPECT_EQ(test::raised_id([&] { image::encode(empty, image::png); }), errors::id::bad_media);
}

TEST_F(ImageTest, DeclaredSizesAreCheckedBeforeAllocating) {
    struct {
        uint64_t w, h, most;
        bool ok;
    } cases[] = {
        {65535, 1, 1u << 20, true}, {65536, 1, 1u << 20, false}, {1, 0, 10, false},
        {16384, 16385, uint64_t(1) << 40, false},  // over 2^28 pixels
        {100, 100, 9999, false},                   // more than the input holds
    };
    for (auto& c : cases) EXPECT_EQ(image::codec::size_ok(c.w, c.h, c.most), c.ok) << c.w << "x" << c.h;
    EXPECT_EQ(test::raised_id([] { image::make_bitmap(70000, 1, nullptr, 0, nullptr, 0, nullptr); }),
              errors::id::invalid_arg);
}

TEST_F(ImageTest, DeviceSurfaceSyncsAndGoesUnlessUsed) {
    static int released = 0, synced = 0;
    image::set_device_hooks({[](void*) { ++released; },
                             [](image::Bitmap& b, void*) {
                                 ++synced;
                                 b.pixels[0] = 0x80112233u;
                             }});
    Cell img;
    image::init_image(img, image::make_bitmap(1, 1, nullptr, 0, nullptr, 0, nullptr));
    collector::Root keep(img);
    int token = 0;
    image::set_device(img, &token);
    EXPECT_EQ(image::device(img), &token);
    image::mark_drawn(img);
    EXPECT_EQ(image::read_pixels(series_node(img))[0], 0x80112233u);
    EXPECT_EQ(synced, 1);
    image::read_pixels(series_node(img));
    EXPECT_EQ(synced, 1);  // only once per drawing
    collector::do_cycle();  // used since the last one: kept
    EXPECT_EQ(released, 0);
    collector::do_cycle();  // not used since: released
    EXPECT_EQ(released, 1);
    EXPECT_EQ(image::device(img), nullptr);
    image::set_device_hooks({});
}

}  // namespace
}  // namespace zan
