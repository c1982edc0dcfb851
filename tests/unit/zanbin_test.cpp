// Zanbin from C++: pinned bytes of both writers, round trips through the
// reader, sharing and cycles, bindings, forged buffers, boot mode with the boot
// writer, the writer's node table across a collection, and deep nesting.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codecs/zanbin.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/mold.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/platform.h"
#include "tests/unit/evaluator_support.h"

namespace zan {
namespace {

using Bytes = std::vector<uint8_t>;

class Zanbin : public ::testing::Test {
protected:
    void SetUp() override {
        test::start();
        collector::set_enabled(true);
    }
};

Cell eval(const std::string& text) { return test::eval_text(text); }

Bytes enc(const std::string& text, bool compact) {
    Cell v = eval(text);
    collector::Root keep(v);
    return zanbin::encode(v, compact);
}

std::string mold(const Cell& v) { return mold::mold_text(v); }

// The decoded roots as a block.
Cell dec(const Bytes& b) {
    Cell out;
    block::make_at(out, 4);
    collector::Root keep(out);
    zanbin::decode(b.data(), b.size(), out);
    return out;
}

Bytes header(uint8_t flags) { return {'Z', 'A', 'N', 'B', 'I', 'N', 2, flags}; }

// A compact buffer without symbols around the given records.
Bytes compact(const Bytes& records) {
    Bytes b = header(zanbin::flags::compact);
    b.push_back(1);
    b.push_back(uint8_t(records.size()));
    b.insert(b.end(), records.begin(), records.end());
    return b;
}

std::string hex(const Bytes& b) {
    std::string s;
    char buf[4];
    for (uint8_t x : b) {
        std::snprintf(buf, sizeof buf, "%02X ", x);
        s += buf;
    }
    if (!s.empty()) s.pop_back();
    return s;
}

// The records after a compact header without symbols.
std::string records_of(const std::string& text) {
    Bytes b = enc(text, true);
    return hex(Bytes(b.begin() + 10, b.end()));
}

TEST_F(Zanbin, CompactBytesArePinned) {
    EXPECT_EQ(hex(enc("5", true)), "5A 41 4E 42 49 4E 02 01 01 01 85");
    struct Case {
        const char* text;
        const char* records;
    } cases[] = {
        {"63", "BF"},
        {"64", "0B 80 01"},
        {"-1", "0B 01"},
        {"3.0", "4C 06"},
        {"2.0", "4C 04"},
        {"3.5", "0C 00 00 00 00 00 00 0C 40"},
        {"-0.0", "0C 00 00 00 00 00 00 00 80"},
        {"\"abc\"", "07 0C 61 62 63"},
        {"true", "C2"},
        {"false", "C3"},
        {"none", "03"},
        {"#\"A\"", "0A 41"},
        {"[1 2]", "05 02 81 82"},
        {"next [1 2]", "45 01 02 81 82"},
        {"[\n1]", "05 01 C0 81"},
        {"integer!", "01 0B"},
    };
    for (const Case& c : cases) EXPECT_EQ(records_of(c.text), c.records) << c.text;
}

TEST_F(Zanbin, FixedIntegerIsTwentyFourBytes) {
    Bytes b = enc("5", false);
    EXPECT_EQ(hex(b), "5A 41 4E 42 49 4E 02 00 01 00 00 00 08 00 00 00 0B 00 00 00 05 00 00 00");
}

TEST_F(Zanbin, SymbolsOnePerSpellingAndPaddedInFixed) {
    Bytes c = enc("[foo Foo foo]", true);
    EXPECT_EQ(c[7], 5);  // compact, symbols
    // 2 symbols, 8 bytes of names: "foo\0Foo\0"
    EXPECT_EQ(hex(Bytes(c.begin() + 8, c.begin() + 12)), "01 08 02 08");
    Bytes f = enc("[foo Foo foo]", false);
    EXPECT_EQ(f[7], 4);
    // Fixed names are padded to 8: offsets 0 and 8, strings 16 bytes.
    EXPECT_EQ(hex(Bytes(f.begin() + 16, f.begin() + 32)),
              "02 00 00 00 10 00 00 00 00 00 00 00 08 00 00 00");
}

TEST_F(Zanbin, RoundTripsInBothFlavours) {
    const char* texts[] = {
        "0", "-2147483648", "2147483647", "1.5", "-0.0", "1e300", "#\"^(10FFFF)\"", "none",
        "true", "\"\"", "\"a^(3A9)b\"", "\"^(1F600)\"", "%a/b.txt", "http://x.y/z",
        "[a b/c 'd :e f: /g #h (1 2)]", "next next [1 2 3]", "pick [(1 + 2)] 1", "pick [x/y:] 1", "pick [:x/y] 1", "'a/b/c",
        "make bitset! \"abc\"", "complement make bitset! \"a\"", "integer!", "make typeset! [integer! block!]",
        "[[[[]]]]", "[\n1 2\n3]", "next \"abc\"",
    };
    for (bool flavour : {true, false})
        for (const char* t : texts) {
            Cell v = eval(t);
            collector::Root keep(v);
            Cell back;
            collector::Root keep_back(back);
            errors::Id id = test::raised_id([&] { back = dec(zanbin::encode(v, flavour)); });
            ASSERT_EQ(id, errors::id::not_done)
                << t << ": " << error::catalog::id_name(int(id.category), id.index - 2) << " "
                << mold(errors::pending_arg(1));
            ASSERT_EQ(block::rs_length(back), 1) << t;
            EXPECT_EQ(mold(*block::rs_abs_at(back, 0)), mold(v)) << t << (flavour ? " compact" : " fixed");
        }
}

TEST_F(Zanbin, SharedSeriesAndCycles) {
    for (bool flavour : {true, false}) {
        Cell v = eval("s: \"x\" b: reduce [s next s [] ] append/only b b b");
        collector::Root keep(v);
        Bytes bytes = zanbin::encode(v, flavour);
        Cell back = dec(bytes);
        collector::Root keep_back(back);
        Cell b = *block::rs_abs_at(back, 0);
        Cell* cells = memory::buffer(series_node(b))->cells();
        EXPECT_EQ(series_node(cells[0]), series_node(cells[1]));
        EXPECT_EQ(series_index(cells[1]), 1u);
        EXPECT_EQ(series_node(cells[3]), series_node(b));  // the block holds itself
    }
}

TEST_F(Zanbin, ObjectsAndFunctionsKeepTheirBindings) {
    for (bool flavour : {true, false}) {
        Cell v = eval(
            "o: make object! [a: 10 f: func [x /local y] [y: x + a] w: 'a] reduce [o 'a in o 'a :o/f]");
        collector::Root keep(v);
        Cell back = dec(zanbin::encode(v, flavour));
        collector::Root keep_back(back);
        Cell b = *block::rs_abs_at(back, 0);
        Cell* cells = memory::buffer(series_node(b))->cells();
        Cell o = cells[0];
        ASSERT_TRUE(is(o, Type::object));
        EXPECT_NE(object::context_node(o), object::context_node(*memory::buffer(series_node(v))->cells()));
        // The bound word points at the decoded object, the plain one at the global context.
        EXPECT_EQ(word_context(cells[2]), object::context_node(o));
        EXPECT_EQ(word_context(cells[1]), context::global());
        // The method's body refers to the decoded object's field.
        Cell f = cells[3];
        ASSERT_TRUE(is(f, Type::function));
        Cell body = memory::buffer(function::more_node(f))->cells()[function::more::body];
        Cell* bc = memory::buffer(series_node(body))->cells();
        EXPECT_EQ(word_context(bc[0]), function::context_node(f));  // y:
        EXPECT_EQ(word_context(bc[3]), object::context_node(o));    // a
    }
}

TEST_F(Zanbin, DecodedFunctionRuns) {
    Cell v = eval("o: make object! [a: 10 f: func [x] [x + a]] o");
    collector::Root keep(v);
    Cell back = dec(zanbin::encode(v, true));
    collector::Root keep_back(back);
    Cell o = *block::rs_abs_at(back, 0);
    Cell w = word::load("zb-decoded");
    context::set(w, o);
    Cell r = eval("zb-decoded/a: 5 zb-decoded/f 1");
    EXPECT_EQ(int_of(r), 6);
    EXPECT_NE(object::class_of(o), object::class_of(v));
}

struct Forged {
    Bytes bytes;
    int32_t position;
};

TEST_F(Zanbin, ForgedBuffersRaiseInvalidRecordAtTheirPosition) {
    Forged cases[] = {
        {compact({0x00}), 11},                            // type 0
        {compact({0x07, 0x03}), 12},                      // string unit code 3
        {compact({0x07, 0x08, 0x61}), 12},                // 2 characters, 1 byte
        {compact({0x0D}), 11},                            // type 13
        {compact({0x2A}), 11},                            // type 42
        {compact({0x04, 0x01}), 11},                      // logic by type
        {compact({0xC5}), 11},                            // no such head byte
        {compact({0xC1, 0x81}), 12},                      // reference on a small integer
        {compact({0x05, 0x7F}), 12},                      // 127 elements, none there
        {compact({0x0B, 0xFF, 0xFF, 0xFF, 0xFF, 0x1F}), 16},  // fifth LEB byte too big
        {compact({0xFF, 0x01, 0x00}), 12},                // copy of a root not there
        {compact({0x0F, 0x00}), 12},                      // symbol 0 with no table
        {compact({0x01, 0x40}), 12},                      // datatype 64
        {compact({0x0A, 0x80, 0x80, 0xC4, 0x00}), 12},    // char above 10FFFFh
        {compact({0xC1, 0x05, 0x01, 0x00}), 13},          // reference to nothing
        {compact({0x05, 0x01, 0x81, 0xC1, 0x07, 0x02, 0x00, 0x00}), 16},  // block seen as string
        {compact({0x05, 0x01, 0x81, 0xC1, 0x05, 0x02, 0x00, 0x00}), 16},  // path into an integer
        {compact({0x16, 0x00}), 12},                      // action 0
    };
    for (const Forged& f : cases) {
        Cell out;
        block::make_at(out, 2);
        collector::Root keep(out);
        errors::Id id = test::raised_id([&] { zanbin::decode(f.bytes.data(), f.bytes.size(), out); });
        EXPECT_EQ(error::catalog::id_name(int(id.category), id.index - 2), std::string("zb-invalid-record"))
            << hex(f.bytes);
        const Cell& pos = errors::pending_arg(1);
        EXPECT_EQ(int_of(pos), f.position) << hex(f.bytes);
    }
}

TEST_F(Zanbin, DefinitionsAreRefusedInCodecMode) {
    Bytes b = compact({0xC4, 0x0F, 0x00, 0x81});
    Cell out;
    block::make_at(out, 2);
    collector::Root keep(out);
    errors::Id id = test::raised_id([&] { zanbin::decode(b.data(), b.size(), out); });
    EXPECT_EQ(std::string(error::catalog::id_name(int(id.category), id.index - 2)), "zb-invalid-record");
}

TEST_F(Zanbin, BadMagicAndShortFixedHeaderAreInvalidData) {
    Bytes bad = {'Z', 'A', 'N', 'B', 'I', 'X', 2, 1, 1, 1, 0x85};
    Bytes shortfixed = {'Z', 'A', 'N', 'B', 'I', 'N', 2, 0, 1, 0, 0};
    Bytes compressed = {'Z', 'A', 'N', 'B', 'I', 'N', 2, 3, 1, 1, 0x85};
    for (const Bytes& b : {bad, shortfixed, compressed}) {
        Cell out;
        block::make_at(out, 2);
        collector::Root keep(out);
        errors::Id id = test::raised_id([&] { zanbin::decode(b.data(), b.size(), out); });
        EXPECT_EQ(id, errors::id::invalid_data) << hex(b);
    }
}

TEST_F(Zanbin, UnserialisableValuesRaiseNoCodec) {
    Cell spec = eval("[a]");
    collector::Root keep_spec(spec);
    Cell r = routine::push(spec, none_cell(), 1, -1, false);
    collector::Root keep_r(r);
    Cell v = eval("copy [1]");
    collector::Root keep(v);
    block::rs_append(v, r);
    errors::Id id = test::raised_id([&] { zanbin::encode(v, true); });
    EXPECT_EQ(std::string(error::catalog::id_name(int(id.category), id.index - 2)), "no-codec");
    Bytes b = compact({0x1D});  // routine!
    Cell out;
    block::make_at(out, 2);
    collector::Root keep_out(out);
    id = test::raised_id([&] { zanbin::decode(b.data(), b.size(), out); });
    EXPECT_EQ(std::string(error::catalog::id_name(int(id.category), id.index - 2)), "no-codec");
}

TEST_F(Zanbin, ErrorsRoundTripAndCloseCycles) {
    Cell v = eval("e: make error! [type: 'script id: 'no-value arg1: 'foo] e/arg2: e e");
    collector::Root keep(v);
    for (bool flavour : {true, false}) {
        Cell back = dec(zanbin::encode(v, flavour));
        collector::Root keep_back(back);
        Cell e = *block::rs_abs_at(back, 0);
        ASSERT_TRUE(is(e, Type::error));
        Cell* arg2 = error::field_at(e, error::field::arg2);
        EXPECT_TRUE(is(*arg2, Type::error));
        EXPECT_EQ(arg2->w1, e.w1);
        EXPECT_EQ(int_of(*error::field_at(e, error::field::code)), 300);
    }
}

// --- boot mode -------------------------------------------------------------------------------

TEST_F(Zanbin, BootWriterToBootReader) {
    Cell ob = eval("make object! [x: 1 y: \"two\"]");
    collector::Root keep_ob(ob);
    Node ctx = object::context_node(ob);
    Cell name = word::load("zb-boot-defined");
    Cell word_y = word::at_local(ctx, 1);
    Cell blk;
    block::make_at(blk, 2);
    collector::Root keep_blk(blk);
    block::rs_append(blk, word_y);
    block::rs_append(blk, integer_cell(7));

    zanbin::BootWriter w;
    w.add_definition(name, integer_cell(42));
    EXPECT_EQ(w.add_context(ctx), 0u);
    EXPECT_EQ(w.add_root(blk), 1u);
    EXPECT_EQ(w.add_root(blk), 2u);
    Bytes image = w.finish();
    EXPECT_EQ(image[6], 1);  // version
    EXPECT_EQ(image[7], 5);  // compact, symbols

    context::set(name, none_cell());
    Cell target;
    block::make_at(target, 4);
    collector::Root keep_target(target);
    block::rs_append(target, integer_cell(-1));  // roots count from the first decoded cell
    EXPECT_EQ(zanbin::decode_boot(image.data(), image.size(), target), 3u);
    EXPECT_EQ(int_of(*context::get(name)), 42);
    Cell* root0 = zanbin::root_cell(0);
    EXPECT_TRUE(is(*root0, Type::object));
    Node decoded = zanbin::root_node(0);
    EXPECT_NE(decoded, ctx);
    EXPECT_EQ(mold(*context::value_at(decoded, 1)), "\"two\"");
    Cell b1 = *zanbin::root_cell(1);
    Cell first = memory::buffer(series_node(b1))->cells()[0];
    EXPECT_EQ(word_context(first), decoded);
    EXPECT_EQ(word_index(first), 1);
    // The second root shares the first one's series.
    EXPECT_EQ(series_node(*zanbin::root_cell(2)), series_node(b1));
}

TEST_F(Zanbin, BootWordOfAContextWithoutOwnerIsRefused) {
    Node ctx = context::create(4, false, false, 0, context::Kind::plain);
    collector::NodeRoot keep_ctx(ctx, collector::NodeRoot::As::context);
    Cell name = word::load("zb-ownerless");
    context::add_value(ctx, name, integer_cell(1));
    Cell blk;
    block::make_at(blk, 1);
    collector::Root keep_blk(blk);
    block::rs_append(blk, word::at_local(ctx, 0));
    zanbin::BootWriter w;
    errors::Id id = test::raised_id([&] { w.add_root(blk); });
    EXPECT_EQ(std::string(error::catalog::id_name(int(id.category), id.index - 2)), "zb-invalid-record");
}

// Words of contexts that are not roots travel with their owner: inline the
// first time, by reference after; unbound words stay unbound; routines go by
// their registry key and come back sharing one value.
TEST_F(Zanbin, BootWordsOfOwnedContextsUnboundWordsAndRoutines) {
    Cell ob = eval("o: make object! [x: 1 f: func [] [x]] reduce [o in o 'x /zb-free :shift-left :<< :shift-left]");
    collector::Root keep(ob);
    zanbin::BootWriter w;
    w.add_root(ob);
    Bytes image = w.finish();
    Cell target;
    block::make_at(target, 4);
    collector::Root keep_t(target);
    ASSERT_EQ(zanbin::decode_boot(image.data(), image.size(), target), 1u);
    Cell back = *zanbin::root_cell(0);
    auto at = [&](int i) { return *block::rs_abs_at(back, i); };
    ASSERT_TRUE(is(at(0), Type::object));
    EXPECT_EQ(word_context(at(1)), object::context_node(at(0)));
    EXPECT_NE(object::context_node(at(0)), object::context_node(*block::rs_abs_at(ob, 0)));
    EXPECT_EQ(word_context(at(2)), 0u);
    ASSERT_TRUE(is(at(3), Type::routine));
    EXPECT_TRUE(is(at(4), Type::op));
    EXPECT_EQ(function::more_node(at(3)), function::more_node(at(5)));
    EXPECT_EQ(mold(at(3)), mold(*block::rs_abs_at(ob, 3)));
}

TEST_F(Zanbin, BootWordsByNameAndRootChecks) {
    // A word bound to root 0 with index -1 is looked up by name.
    Cell ob = eval("make object! [p: 1 q: 2]");
    collector::Root keep_ob(ob);
    zanbin::BootWriter w;
    w.add_context(object::context_node(ob));
    Bytes image = w.finish();
    // Append a record by hand: word! variant, symbol 1 (q), root 0, index -1 (ZZ 1).
    Bytes rec = {0x4F, 0x01, 0x00, 0x01};
    // Records size is the second LEB after the flags byte.
    size_t records_at = 9;
    image[records_at] = uint8_t(image[records_at] + rec.size());
    image.insert(image.end(), rec.begin(), rec.end());
    Cell target;
    block::make_at(target, 4);
    collector::Root keep(target);
    ASSERT_EQ(zanbin::decode_boot(image.data(), image.size(), target), 2u);
    EXPECT_EQ(word_index(*zanbin::root_cell(1)), 1);
    // Root index 5 holds nothing.
    image[image.size() - 2] = 0x05;
    Cell t2;
    block::make_at(t2, 4);
    collector::Root keep2(t2);
    errors::Id id = test::raised_id([&] { zanbin::decode_boot(image.data(), image.size(), t2); });
    EXPECT_EQ(std::string(error::catalog::id_name(int(id.category), id.index - 2)), "zb-invalid-record");
}

// Definitions leave no root, so consecutive ones are written at the same
// place: words in the second function's body name it by the same path as the
// first one's words named the first, and must still find the second.
TEST_F(Zanbin, BootDefinitionsAtOnePlaceBindTheirOwnFunctions) {
    Cell fns = eval("reduce [func [a] [a + 1] func [a] [a * 2]]");
    collector::Root keep(fns);
    Cell names[2] = {word::load("zb-def-one"), word::load("zb-def-two")};
    zanbin::BootWriter w;
    for (int i = 0; i < 2; ++i) w.add_definition(names[i], *block::rs_abs_at(fns, i));
    Bytes image = w.finish();
    Cell target;
    block::make_at(target, 4);
    collector::Root keep_t(target);
    zanbin::decode_boot(image.data(), image.size(), target);
    for (int i = 0; i < 2; ++i) {
        Cell f = *context::get(names[i]);
        ASSERT_TRUE(is(f, Type::function));
        Cell body = memory::buffer(function::more_node(f))->cells()[function::more::body];
        Cell a = *block::rs_abs_at(body, 0);
        EXPECT_EQ(word_context(a), function::context_node(f)) << "definition " << i;
    }
    EXPECT_EQ(mold(eval("zb-def-two 5")), "10");
}

TEST_F(Zanbin, WriterNodeTableSurvivesCollections) {
    Cell s = eval("copy \"shared\"");
    collector::Root keep(s);
    zanbin::BootWriter w;
    w.add_root(s);
    for (int i = 0; i < 3; ++i) {
        eval("loop 2000 [copy \"garbage garbage garbage\"]");
        collector::do_cycle();
    }
    w.add_root(s);
    Bytes image = w.finish();
    Cell target;
    block::make_at(target, 4);
    collector::Root keep_t(target);
    ASSERT_EQ(zanbin::decode_boot(image.data(), image.size(), target), 2u);
    EXPECT_EQ(series_node(*zanbin::root_cell(0)), series_node(*zanbin::root_cell(1)));
}

// --- depth -------------------------------------------------------------------------------------

// A buffer of one block nested levels deep around a single value.
Bytes nested_blocks(uint32_t levels) {
    Bytes b = header(zanbin::flags::compact);
    Bytes rec;
    for (uint32_t i = 0; i < levels; ++i) {
        rec.push_back(0x05);
        rec.push_back(0x01);
    }
    rec.push_back(0x81);
    b.push_back(1);
    uint32_t n = uint32_t(rec.size());
    while (n >= 0x80) {
        b.push_back(uint8_t(n | 0x80));
        n >>= 7;
    }
    b.push_back(uint8_t(n));
    b.insert(b.end(), rec.begin(), rec.end());
    return b;
}

struct Deep {
    uint32_t levels;
    bool ok = false;
    errors::Id id{};
    void run() {
        memory::set_gc_stress(0);  // a collection per allocation would mark every level each time
        Bytes b = nested_blocks(levels);
        Cell out;
        block::make_at(out, 2);
        collector::Root keep(out);
        id = test::raised_id([&] {
            zanbin::decode(b.data(), b.size(), out);
            Cell v = *block::rs_abs_at(out, 0);
            Bytes again = zanbin::encode(v, true);
            ok = again.size() > b.size() - 8;
        });
    }
};

// AddressSanitizer stops unpoisoning stacks above 64 MiB after a throw and then
// reports its own frames; the runtime's 256 MiB stack is checked without it.
#if defined(__SANITIZE_ADDRESS__)
#define SKIP_ON_HUGE_STACK() GTEST_SKIP() << "the sanitizer cannot follow a throw on a 256 MiB stack"
#else
#define SKIP_ON_HUGE_STACK() (void)0
#endif

TEST_F(Zanbin, HundredThousandLevelsOnTheRuntimeStack) {
    SKIP_ON_HUGE_STACK();
    Deep d{100000};
    auto body = [&] {
        d.run();
        return 0;
    };
    platform::run_on_thread(platform::runtime_stack_size, body);
    EXPECT_TRUE(d.ok);
}

TEST_F(Zanbin, DeeperThanTheLimitIsTooDeep) {
    SKIP_ON_HUGE_STACK();
    Deep d{zanbin::max_depth + 10};
    auto body = [&] {
        d.run();
        return 0;
    };
    platform::run_on_thread(platform::runtime_stack_size, body);
    EXPECT_EQ(d.id, errors::id::too_deep);
}

// A block first written 70,000 levels down and met again at the top would need
// a reference path longer than a reader takes: encoding refuses it.
TEST_F(Zanbin, AReferencePathTooLongToReadIsRefused) {
    SKIP_ON_HUGE_STACK();
    constexpr uint32_t levels = 70000;
    errors::Id id{};
    auto body = [&] {
        memory::set_gc_stress(0);
        Bytes b = nested_blocks(levels);
        Cell out;
        block::make_at(out, 2);
        collector::Root keep(out);
        zanbin::decode(b.data(), b.size(), out);
        Cell inner = *block::rs_abs_at(out, 0);
        for (uint32_t i = 1; i < levels; ++i) inner = *block::rs_abs_at(inner, 0);
        block::rs_append(out, inner);
        id = test::raised_id([&] { zanbin::encode(out, true); });
        return 0;
    };
    platform::run_on_thread(platform::runtime_stack_size, body);
    EXPECT_EQ(id, errors::id::too_deep);
}

TEST_F(Zanbin, ShortStackEndsInTooDeepNotACrash) {
    Deep d{200000};
    auto body = [&] {
        d.run();
        return 0;
    };
    platform::run_on_thread(size_t(4) << 20, body);
    EXPECT_EQ(d.id, errors::id::too_deep);
}

}  // namespace
}  // namespace zan

namespace zan {
namespace {

// A boot image that cannot be decoded ends start-up with a report and a
// failing status, never as a success.
TEST(ZanbinBootDeathTest, UndecodableImagesEndTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Bytes bad_magic = {'Z', 'A', 'N', 'B', 'I', 'X', 1, 5, 1, 1, 0x85};
    Bytes bad_lz = {'Z', 'A', 'N', 'B', 'I', 'N', 1, 7, 9, 9, 9, 9, 9, 9, 9, 9, 9};
    Bytes bad_record = {'Z', 'A', 'N', 'B', 'I', 'N', 1, 1, 1, 1, 0x00};
    EXPECT_EXIT(
        {
            test::start();
            zanbin::load_payload(bad_magic.data(), bad_magic.size());
        },
        ::testing::ExitedWithCode(1), "Not a Zanbin file");
    EXPECT_EXIT(
        {
            test::start();
            zanbin::load_payload(bad_lz.data(), bad_lz.size());
        },
        ::testing::ExitedWithCode(1), "compressed data corrupted");
    EXPECT_EXIT(
        {
            test::start();
            zanbin::load_payload(bad_record.data(), bad_record.size());
        },
        ::testing::ExitedWithCode(1), "cannot be decoded");
}

}  // namespace
}  // namespace zan
