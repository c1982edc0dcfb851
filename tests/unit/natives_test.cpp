// The natives on the booted runtime, for what scripts cannot see: refinement
// combinations that may only lack a service, the check flag compiled callers
// set, the value hooks of print and the collector switch of recycle. The error
// ids the natives raise are checked by the natives-*.zan scripts.
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

constexpr errors::Id not_done{errors::Category::internal, 11};

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
