// The native widgets' parts that need no display: item positions, requester
// filters, the camera's frame hand-over, frame conversion and preview
// placement, and lookups by stale window handles.
#include <gtest/gtest.h>

#include <thread>

#include "context_fixture.h"
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "gui/backend/camera.h"
#include "gui/backend/views.h"
#include "runtime/collector.h"

namespace zan {
namespace {

using testing_contexts::start_runtime;

Cell text(const char* s) {
    Cell t;
    string::rs_make_at(t, 16);
    string::append_utf8(series_node(t), s);
    return t;
}

// A block of strings (given text) and integers (nullptr).
Cell block_of(std::initializer_list<const char*> values) {
    Cell b;
    block::make_at(b, int32_t(values.size()));
    collector::Root keep(b);
    for (const char* v : values) block::rs_append(b, v ? text(v) : integer_cell(1));
    return b;
}

TEST(GuiItems, NativePositionsCountOnlyStringLikeValues) {
    start_runtime();
    collector::set_enabled(false);
    Cell data = block_of({"a", nullptr, "bb", nullptr, nullptr, "c"});
    struct Case {
        int32_t index, position;
    } cases[] = {{0, 0}, {1, 1}, {2, 1}, {3, 2}, {5, 2}, {6, 3}, {40, 3}};
    for (const Case& c : cases) EXPECT_EQ(gui::views::native_position(data, c.index), c.position) << c.index;
    collector::set_enabled(true);
}

errors::Id raised_by(const Cell& filter) {
    try {
        gui::views::filter_list(filter);
    } catch (const unwind::Thrown& t) {
        EXPECT_EQ(t.code, unwind::error);
        return errors::pending_id();
    }
    return errors::id::not_done;
}

TEST(GuiRequesters, FiltersSplitPatternsAndCheckValues) {
    start_runtime();
    collector::set_enabled(false);
    auto list = gui::views::filter_list(block_of({"Scripts", "*.zan;*.zans", "All", "*.*"}));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].first, "Scripts");
    EXPECT_EQ(list[0].second, (std::vector<std::string>{"*.zan", "*.zans"}));
    EXPECT_EQ(list[1].second, (std::vector<std::string>{"*"}));
    auto defaults = gui::views::filter_list(none_cell());
    ASSERT_EQ(defaults.size(), 4u);
    EXPECT_EQ(defaults[0].second, (std::vector<std::string>{"*"}));
    EXPECT_TRUE(gui::views::filter_list(block_of({})).empty());
    // A value neither string! nor file! fails before any dialog.
    EXPECT_EQ(raised_by(block_of({"Text", nullptr})), errors::id::invalid_arg);
    collector::set_enabled(true);
}

TEST(GuiCamera, PreviewKeepsTheRatioCentred) {
    struct Case {
        int w, h;
        double r;
        gui::camera::Rect want;
    } cases[] = {
        {400, 400, 640.0 / 480.0, {0, 50, 400, 300}},
        {400, 400, 0.75, {50, 0, 300, 400}},
        {400, 200, 2.0, {0, 0, 400, 200}},
        {300, 100, 4.0 / 3.0, {83, 0, 133, 100}},
        {100, 100, 0.0, {0, 0, 100, 100}},
    };
    for (const Case& c : cases) {
        gui::camera::Rect p = gui::camera::place_preview(c.w, c.h, c.r);
        EXPECT_EQ(p.x, c.want.x) << c.w << "x" << c.h << " " << c.r;
        EXPECT_EQ(p.y, c.want.y) << c.w << "x" << c.h << " " << c.r;
        EXPECT_EQ(p.w, c.want.w) << c.w << "x" << c.h << " " << c.r;
        EXPECT_EQ(p.h, c.want.h) << c.w << "x" << c.h << " " << c.r;
    }
}

TEST(GuiCamera, YuyvConvertsAndRefusesShortFrames) {
    const uint8_t frame[] = {235, 128, 16, 128};  // white, black
    uint8_t out[8] = {};
    ASSERT_TRUE(gui::camera::yuyv_to_bgra(frame, sizeof frame, 2, 1, out));
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[2], 255);
    EXPECT_EQ(out[4], 0);
    EXPECT_EQ(out[7], 255);
    EXPECT_FALSE(gui::camera::yuyv_to_bgra(frame, 3, 2, 1, out));
    EXPECT_FALSE(gui::camera::yuyv_to_bgra(frame, sizeof frame, 3, 1, out));
    const uint8_t junk[] = {0xFF, 0xD8, 0x00, 0x01, 0x02};
    EXPECT_FALSE(gui::camera::mjpeg_to_bgra(junk, sizeof junk, 2, 1, out));
}

// A fake streaming thread offers numbered frames as fast as it can; every
// frame the main thread takes is whole (all its bytes from one offer).
TEST(GuiCamera, HandOverGivesWholeFramesOnly) {
    gui::camera::Exchange ex;
    ex.resize(64, 4);
    std::atomic<bool> run{true};
    std::atomic<int> handed{0};
    std::thread streaming([&] {
        uint8_t n = 0;
        while (run) {
            ++n;
            if (ex.offer([&](uint8_t* out) {
                    for (size_t i = 0; i < ex.frame.size(); ++i) out[i] = n;
                    return true;
                }))
                ++handed;
        }
    });
    std::vector<uint8_t> got;
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(ex.take(3.0, got));
        for (uint8_t b : got) ASSERT_EQ(b, got[0]);
        EXPECT_EQ(ex.state.load(), gui::camera::Exchange::idle);
    }
    run = false;
    streaming.join();
    EXPECT_EQ(handed.load(), 50);
}

TEST(GuiCamera, NoFrameInTimeWithdrawsTheRequest) {
    gui::camera::Exchange ex;
    ex.resize(2, 2);
    std::vector<uint8_t> got;
    EXPECT_FALSE(ex.take(0.05, got));
    EXPECT_EQ(ex.state.load(), gui::camera::Exchange::idle);
    // A frame offered after the withdrawal is not copied.
    EXPECT_FALSE(ex.offer([](uint8_t*) { return true; }));
    // A bad frame leaves the request standing for the next one.
    ex.ask();
    EXPECT_FALSE(ex.offer([](uint8_t*) { return false; }));
    EXPECT_EQ(ex.state.load(), gui::camera::Exchange::asked);
    EXPECT_TRUE(ex.offer([](uint8_t*) { return true; }));
    EXPECT_TRUE(ex.take_ready(got));
}

TEST(GuiWidgets, StaleOrNullHandlesActAsNoWindow) {
    EXPECT_EQ(gui::windows::get(0), nullptr);
    EXPECT_EQ(gui::windows::get(0x7FFF0001), nullptr);
    EXPECT_EQ(gui::views::state_of(uint32_t(0)), nullptr);
    EXPECT_EQ(gui::views::state_of(uint32_t(0x12340005)), nullptr);
}

// The table only holds references, so plain GObjects stand in for widgets.
TEST(GuiWidgets, HandlesNameEverySlotAndOutliveTheirWidgetSafely) {
    std::vector<GObject*> objects;
    std::vector<uint32_t> handles;
    for (int i = 0; i < 70000; ++i) {
        objects.push_back(G_OBJECT(g_object_new(G_TYPE_OBJECT, nullptr)));
        handles.push_back(gui::windows::add(reinterpret_cast<GtkWidget*>(objects.back())));
    }
    // past 65,536 slots too: each handle finds its own widget
    for (size_t i : {size_t(0), size_t(65534), size_t(65535), size_t(65536), size_t(69999)}) {
        EXPECT_NE(handles[i], 0u);
        EXPECT_EQ(gui::windows::get(handles[i]), reinterpret_cast<GtkWidget*>(objects[i])) << i;
    }
    // one slot reused over and over: a new handle each time (its generation
    // wraps but never to 0), and the old one names nothing
    uint32_t h = handles[65536];
    for (int round = 0; round < 5000; ++round) {
        gui::windows::remove(h);
        EXPECT_EQ(gui::windows::get(h), nullptr);
        uint32_t again = gui::windows::add(reinterpret_cast<GtkWidget*>(objects[65536]));
        ASSERT_NE(again, 0u);
        ASSERT_NE(again, h);
        EXPECT_EQ(gui::windows::get(again), reinterpret_cast<GtkWidget*>(objects[65536]));
        h = again;
    }
    handles[65536] = h;
    for (size_t i = 0; i < objects.size(); ++i) {
        gui::windows::remove(handles[i]);
        EXPECT_EQ(objects[i]->ref_count, 1u) << i;  // the table let go of its reference
        g_object_unref(objects[i]);
    }
}

}  // namespace
}  // namespace zan
