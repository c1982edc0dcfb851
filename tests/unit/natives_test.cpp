// The natives on the booted runtime: the errors the comparison, math, text,
// encoding and system natives raise, each snippet stopping with exactly the
// expected error id (scripts can only tell that some error happened), and
// the runtime state some of them switch.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "boot/init.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/natives_text.h"
#include "evaluator/stack.h"
#include "tests/unit/capture.h"
#include "runtime/collector.h"
#include "runtime/output.h"
#include "runtime/errors.h"
#include "runtime/unwind.h"

namespace zan {
namespace {

struct Outcome {
    bool raised = false;
    errors::Id id{};
};

Outcome run(const std::string& text) {
    boot::init();
    Cell* mark = stack::s.top;
    stack::Frame* frame = stack::s.frame_top;
    Cell* base = stack::s.base;
    Outcome out;
    try {
        Cell* held = stack::push(boot::load_text(text));
        stack::Status st = interp::eval_block(*held, false);
        EXPECT_EQ(st, stack::ok) << text;
    } catch (const unwind::Thrown& t) {
        EXPECT_EQ(t.code, unwind::error) << text;
        out.raised = true;
        out.id = errors::pending_id();
    }
    stack::s.frame_top = frame;
    stack::s.base = base;
    stack::s.top = mark;
    return out;
}

constexpr errors::Id script(uint8_t id_number) { return {errors::Category::script, uint8_t(id_number + 2)}; }
// Script ids by their number in the catalogue.
constexpr errors::Id expect_arg = script(5), expect_val = script(6), invalid_arg = script(9),
                     invalid_type = script(10), invalid_data = script(16), not_same_type = script(18),
                     bad_refines = script(25), invalid_refine_arg = script(45), type_limit = script(46);
constexpr errors::Id not_done{errors::Category::internal, 11};

struct Case {
    const char* code;
    errors::Id id;
};

class NativeErrors : public ::testing::TestWithParam<Case> {};

TEST_P(NativeErrors, RaiseTheirId) {
    Outcome o = run(GetParam().code);
    ASSERT_TRUE(o.raised) << GetParam().code;
    EXPECT_EQ(o.id.code(), GetParam().id.code()) << GetParam().code;
}

const Case cases[] = {
    // comparison, logic and math
    {"to-hex/size 255 0", invalid_arg},
    {"to-hex/size 255 -1", invalid_arg},
    {"max 1.2.3 1e20", type_limit},
    {"min 1.2.3 arcsine 2", type_limit},
    {"max 1.2.3 -1e20", type_limit},
    // sets
    {"union [a] \"a\"", expect_val},
    {"intersect \"a\" [a]", expect_val},
    {"exclude make bitset! \"a\" [a]", expect_val},
    {"difference [a] make bitset! \"a\"", expect_val},
    {"union [a] [b] union \"a\" make bitset! \"a\"", expect_val},
    // encodings
    {"debase/base \"x\" 10", invalid_arg},
    {"enbase/base \"x\" 3", invalid_arg},
    {"checksum \"abc\" 'foo", invalid_arg},
    {"checksum \"abc\" 12", expect_arg},
    {"checksum/with \"abc\" 'crc32 \"k\"", invalid_refine_arg},
    {"checksum/with \"abc\" 'TCP 5", invalid_refine_arg},
    {"checksum/with \"abc\" 'adler32 \"k\"", invalid_refine_arg},
    {"compress \"x\" 'foo", invalid_arg},
    {"decompress #{00} 'lz", invalid_arg},
    {"decompress/size #{00} 'zlib -1", invalid_arg},
    {"transcode/part \"abc\" #{00}", not_same_type},
    {"uppercase/part \"abc\" \"xyz\"", invalid_refine_arg},
    {"parse/part \"abc\" [to end] \"abc\"", invalid_refine_arg},
    // system and constructors
    {"wait [1]", invalid_arg},
    {"wait none", invalid_arg},
    {"wait 10%", invalid_arg},
    {"now/year/month", bad_refines},
    {"now/time/zone", bad_refines},
    {"now/date/utc/day", bad_refines},
    {"as-pair 1.0 1e10", invalid_arg},
    {"as-pair -1e10 1", invalid_arg},
    {"as-pair 1 arcsine 2", invalid_arg},
    {"as-pair 1 (tangent 90)", invalid_arg},
    // connections still open: the datatype or service is named
    {"as-point2D 1 2", invalid_type},
    {"as-money 'USD 1", invalid_type},
    {"list-env", invalid_type},
};
INSTANTIATE_TEST_SUITE_P(Table, NativeErrors, ::testing::ValuesIn(cases));

TEST(NativeErrors, AcceptedCombinationsDoNotRaise) {
    const char* fine[] = {
        "now/time/precise", "now/utc/year", "now/weekday", "now/yearday/utc",
        "checksum/with \"abc\" 'sha1 \"k\" 1", "wait 0", "wait 0.0", "wait 0:00",
        "as-pair 2147483647.9 -2147483648.9",
        // the opener's answer is not looked at, whether it exists or not
        "browse %/nonexistent-zan-file",
    };
    for (const char* text : fine) {
        Outcome o = run(text);
        // checksum may only lack its service here: any other error is wrong.
        if (o.raised) {
            EXPECT_EQ(o.id.code(), not_done.code()) << text;
        }
    }
}

// Calls native `word` as compiled code does (check flag set) with the operands
// at the base; answers whether it raised expect-arg.
bool checked_call_rejects(const char* word, std::initializer_list<Cell> operands,
                          std::initializer_list<int32_t> refs) {
    boot::init();
    natives::Fn fn = natives::entry(natives::index_of(word));
    Cell* top = stack::s.top;
    stack::Frame* frame = stack::s.frame_top;
    Cell* base = stack::s.base;
    stack::mark(stack::sym_body, 0, stack::kind_bits(stack::kind::native));
    for (const Cell& c : operands) stack::push(c);
    std::vector<int32_t> r(refs);
    bool rejected = false;
    try {
        fn(1, r.data());
    } catch (const unwind::Thrown& t) {
        rejected = t.code == unwind::error && errors::pending_id() == errors::id::expect_arg;
    }
    stack::s.frame_top = frame;
    stack::s.base = base;
    stack::s.top = top;
    return rejected;
}

TEST(NativeErrors, CheckFlagTestsOperandsAndRefinementArguments) {
    Cell f = float_cell(1.5), i = integer_cell(3), none = none_cell();
    EXPECT_TRUE(checked_call_rejects("shift", {f, i}, {-1, -1}));
    EXPECT_FALSE(checked_call_rejects("shift", {i, i}, {-1, -1}));
    EXPECT_TRUE(checked_call_rejects("sine", {none}, {-1}));
    EXPECT_TRUE(checked_call_rejects("as-pair", {i, none}, {}));
    EXPECT_TRUE(checked_call_rejects("to-hex", {i, f}, {1}));  // /size takes an integer!
    EXPECT_FALSE(checked_call_rejects("to-hex", {i, i}, {1}));
    EXPECT_TRUE(checked_call_rejects("wait", {logic_cell(true)}, {-1}));
}

// print and prin write their text first, then hand the printed value and the
// new-line flag to every value hook.
struct Seen {
    std::string out_before;  // what had reached standard output when the hook ran
    Type type;
    bool newline;
};
std::vector<Seen> seen;
test::StdoutCapture* capture = nullptr;
std::string printed;
void value_hook(const Cell& value, bool newline) {
    printed += capture->text();
    seen.push_back({printed, type_of(value), newline});
}

TEST(Print, OutputThenValueHooks) {
    boot::init();
    seen.clear();
    printed.clear();
    {
        test::StdoutCapture cap;
        capture = &cap;
        output::add_hooks(value_hook, nullptr);
        run("print 12 prin \"ab\" prin [1 + 1]");
        output::remove_hooks(value_hook, nullptr);
        capture = nullptr;
        printed += cap.text();
        EXPECT_EQ(printed, "12\nab2");
    }
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].out_before, "12\n");
    EXPECT_EQ(seen[0].type, Type::integer);
    EXPECT_TRUE(seen[0].newline);
    EXPECT_EQ(seen[1].out_before, "12\nab");
    EXPECT_EQ(seen[1].type, Type::string);
    EXPECT_FALSE(seen[1].newline);
    EXPECT_EQ(seen[2].type, Type::block);
    EXPECT_FALSE(natives::last_print_newline());
}

TEST(Recycle, OnAndOffSwitchTheCollector) {
    run("recycle/off");
    EXPECT_FALSE(collector::enabled());
    run("recycle/on");
    EXPECT_TRUE(collector::enabled());
}

}  // namespace
}  // namespace zan
