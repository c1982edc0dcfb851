// The GUI spine's inner machinery: the widget value table, DPI rounding, the
// key tables, the message records behind native events and the loop counters.
#include <gtest/gtest.h>
#include <ctime>
#include <gdk/gdkkeysyms.h>

#include "context_fixture.h"
#include "gui/backend/backend.h"
#include "gui/backend/spine.h"
#include "runtime/collector.h"

namespace zan {
namespace {

TEST(GuiValueTable, GrowsFreesAndKeepsValuesAlive) {
    testing_contexts::start_runtime();
    gui::values::init();
    EXPECT_EQ(gui::values::capacity(), 100u);
    uint32_t last = 0;
    for (int i = 0; i < 101; ++i) {
        Cell b;
        block::make_at(b, 1);
        last = gui::values::add(b);
    }
    EXPECT_EQ(last, 101u);
    EXPECT_EQ(gui::values::capacity(), 200u);
    collector::collect();
    for (uint32_t i = 1; i <= 101; ++i) ASSERT_TRUE(is(*gui::values::get(i), Type::block)) << i;
    gui::values::remove(5);
    gui::values::remove(0);  // ignored
    EXPECT_TRUE(is(*gui::values::get(5), Type::integer));
    EXPECT_EQ(gui::values::add(integer_cell(7)), 5u);
    EXPECT_EQ(int_of(*gui::values::get(5)), 7);
    EXPECT_EQ(gui::values::get(0), nullptr);
    EXPECT_EQ(gui::values::get(201), nullptr);
}

TEST(GuiDpi, RoundsHalfAwayFromZero) {
    struct Case {
        double factor, logical;
        int32_t physical;
    } cases[] = {
        {1.5, 10.0, 15}, {1.5, -10.0, -15}, {1.5, -1.0, -2}, {1.5, 1.0, 2},   {1.5, 0.3, 0},
        {1.0, -10.0, -10}, {1.0, -0.5, -1}, {1.0, 0.49, 0},  {2.0, 1e12, INT32_MAX},
        {2.0, -1e12, INT32_MIN},
    };
    for (const Case& c : cases) {
        gui::set_dpi(int32_t(c.factor * 96), c.factor);
        EXPECT_EQ(gui::to_physical(c.logical), c.physical) << c.factor << " " << c.logical;
    }
    gui::set_dpi(144, 1.5);
    EXPECT_DOUBLE_EQ(gui::to_logical(15), 10.0);
    {
        gui::DpiContext inner(0);
        gui::set_dpi(192, 2.0);
        EXPECT_EQ(gui::to_physical(10.0), 20);
    }
    EXPECT_EQ(gui::dpi(), 144);
    EXPECT_EQ(gui::to_physical(10.0), 15);
    gui::set_dpi(96, 1.0);
}

TEST(GuiKeys, KeyvalsMapToKeyCodesAndCharacters) {
    struct Case {
        guint keyval;
        uint32_t code, character;
    } cases[] = {
        {GDK_KEY_a, 0x41, 'A'},          {GDK_KEY_A, 0x41, 'A'},         {GDK_KEY_z, 0x5A, 'Z'},
        {GDK_KEY_0, 0x30, '0'},          {GDK_KEY_KP_5, 0x65, '5'},      {GDK_KEY_KP_Divide, 0x6F, '/'},
        {GDK_KEY_F5, 0x74, 0},           {GDK_KEY_F12, 0x7B, 0},         {GDK_KEY_Return, 0x0D, 0x0D},
        {GDK_KEY_Tab, 0x09, 0x09},       {GDK_KEY_BackSpace, 0x08, 0x08}, {GDK_KEY_Escape, 0x1B, 0x1B},
        {GDK_KEY_semicolon, 0xBA, ';'},  {GDK_KEY_apostrophe, 0xDE, '\''}, {GDK_KEY_bracketleft, 0xDB, '['},
        {GDK_KEY_Shift_L, 0x10, 0},      {GDK_KEY_Control_R, 0x11, 0},   {GDK_KEY_Alt_L, 0x12, 0},
        {GDK_KEY_Left, 0x25, 0},         {GDK_KEY_Delete, 0x2E, 0},      {GDK_KEY_Home, 0x24, 0},
        {GDK_KEY_eacute, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(gui::spine::key_code_of(c.keyval), c.code) << std::hex << c.keyval;
        if (c.code) {
            EXPECT_EQ(gui::spine::key_char(c.code), c.character) << std::hex << c.code;
        }
    }
}

TEST(GuiMessages, KeptEventsOfFinishedMessagesReadNothing) {
    testing_contexts::start_runtime();
    gui::Message m;
    m.x = 3;
    uint32_t a = gui::spine::open_message(m);
    ASSERT_NE(a, 0u);
    ASSERT_NE(gui::spine::message(a), nullptr);
    EXPECT_EQ(gui::spine::message(a)->x, 3);
    uint32_t b = gui::spine::open_message(m);  // a nested dispatch
    EXPECT_NE(a, b);
    gui::spine::close_message(b);
    EXPECT_EQ(gui::spine::message(b), nullptr);
    gui::spine::close_message(a);
    EXPECT_EQ(gui::spine::message(a), nullptr);
    // The record is used again under a new generation: old ids stay stale.
    uint32_t c = gui::spine::open_message(m);
    EXPECT_NE(c, a);
    EXPECT_EQ(gui::spine::message(a), nullptr);
    EXPECT_NE(gui::spine::message(c), nullptr);
    gui::spine::close_message(c);
    gui::spine::close_message(c);  // twice: no effect
    EXPECT_EQ(gui::spine::message(0), nullptr);
}

TEST(GuiLoop, PassesWithoutGtkTouchNoCounter) {
    int32_t loops = gui::loop_counter(), exits = gui::exit_counter();
    EXPECT_FALSE(gui::do_events(true));
    EXPECT_EQ(gui::loop_counter(), loops);
    EXPECT_EQ(gui::exit_counter(), exits);
    gui::loop_window_gone();
    EXPECT_EQ(gui::loop_counter(), loops - 1);
    EXPECT_EQ(gui::exit_counter(), exits + 1);
}

// Stamps hold nanoseconds in 64 bits: a stamp older than 2^32 ticks (4.3 s)
// still answers its real age, where a 32-bit difference would wrap.
TEST(GuiTimer, ElapsedNeverWrapsAndAFutureStampRestarts) {
    int64_t now = gui::timer_start();
    struct Case {
        int64_t age_ns;
        double at_least, below;
    } cases[] = {
        {0, 0.0, 1000.0},
        {int64_t(5e9), 5000.0, 6000.0},
        {int64_t(1) << 32, 4294.9, 5294.0},
        {int64_t(3) * 24 * 3600 * 1'000'000'000, 2.592e8, 2.592e8 + 1000.0},
    };
    for (const Case& c : cases) {
        int64_t stamp = now - c.age_ns;
        double ms = gui::timer_elapsed(stamp);
        EXPECT_GE(ms, c.at_least) << c.age_ns;
        EXPECT_LT(ms, c.below) << c.age_ns;
        EXPECT_EQ(stamp, now - c.age_ns);  // an ordinary read keeps the stamp
    }
    int64_t future = now + int64_t(60e9);
    EXPECT_EQ(gui::timer_elapsed(future), 0.0);
    EXPECT_LE(future, gui::timer_start());
    EXPECT_GE(future, now);
    int64_t stamp = gui::timer_start();
    timespec pause{0, 20'000'000};
    nanosleep(&pause, nullptr);
    EXPECT_GE(gui::timer_elapsed(stamp), 20.0);
}

}  // namespace
}  // namespace zan
