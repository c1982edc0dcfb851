// file! and url!: mold and quoting, percent coding, conversion from blocks,
// path steps, the local path form and the outside services.
#include <gtest/gtest.h>

#include <unistd.h>

#include "datatypes/context.h"
#include "datatypes/word.h"
#include "tests/unit/strings_support.h"

using namespace zan;
using namespace zan::test;
namespace ids = errors::id;

namespace {

struct FileUrl : ::testing::Test {
    void SetUp() override { setup_strings(); }
    void TearDown() override {
        url::set_services({});
        file::set_services({});
    }
};

std::string bytes_of(const Cell& bin) {
    memory::Series* s = memory::buffer(series_node(bin));
    return {reinterpret_cast<const char*>(s->at_head()), s->tail - s->head};
}

TEST_F(FileUrl, MoldFile) {
    struct Case {
        const char* text;
        const char* mold;
    };
    Case cases[] = {
        {"", "%\"\""},
        {"a b", "%\"a b\""},
        {"dir/file.txt", "%dir/file.txt"},
        {"caf\u00e9", "%caf\u00e9"},
        {"me@home", "%\"me@home\""},
        {"a;b", "%\"a;b\""},
        {"50%", "%\"50%\""},
    };
    for (const Case& c : cases) EXPECT_EQ(mold_of(str(c.text, Type::file)), c.mold) << c.text;
    EXPECT_EQ(form_of(str("a b", Type::file)), "a b");
    EXPECT_EQ(mold::mold_text(str("abcdef", Type::file), {}, 3), "%ab");
}

TEST_F(FileUrl, MoldUrl) {
    struct Case {
        const char* text;
        const char* mold;
    };
    Case cases[] = {
        {"http://a.b/c?d=e&f#g", "http://a.b/c?d=e&f#g"},
        {"a b", "a%20b"},
        {"caf\u00e9", "caf%C3%A9"},
        {"x%y", "x%25y"},
        {"", ""},
        {"mailto:me@home", "mailto:me@home"},
    };
    for (const Case& c : cases) EXPECT_EQ(mold_of(str(c.text, Type::url)), c.mold) << c.text;
    EXPECT_EQ(mold_of(test::to(Type::url, str("a b"))), "a%20b");
    EXPECT_EQ(form_of(str("a b", Type::url)), "a b");
    EXPECT_EQ(mold::mold_text(str("a b c", Type::url), {}, 3), "a%2");
}

TEST_F(FileUrl, PercentDecode) {
    struct Case {
        const char* in;
        const char* out;
    };
    Case cases[] = {
        {"%C3%A9", "\u00e9"},
        {"%41", "A"},
        {"%E9abc", "%E9abc"},
        {"%ZZ", "%ZZ"},
        {"%", "%"},
        {"a%2", "a%2"},
        {"%e2%82%ac!", "\u20ac!"},
        {"%F0%9F%98%80", "\U0001F600"},
        {"%B5", "\u00b5"},
        {"caf\u00e9%20x", "caf\u00e9 x"},
        {"%C3", "%C3"},
    };
    for (const Case& c : cases) {
        Cell out = string::make_value(8);
        url::percent_decode(str(c.in), series_node(out));
        EXPECT_EQ(text(out), c.out) << c.in;
    }
    Cell out = string::make_value(8);
    EXPECT_EQ(raised([&] { url::percent_decode(str("%C3%28"), series_node(out)); }), ids::invalid_utf8);
}

TEST_F(FileUrl, PercentEncode) {
    struct Case {
        const char* in;
        int32_t mode;
        const char* out;
    };
    Case cases[] = {
        {"a b/c", 0, "a%20b/c"},
        {"a b/c", 254, "a%20b%2Fc"},
        {"\u00e9", 0, "%C3%A9"},
        {"-._~", 254, "-._~"},
        {"a=b&c", 254, "a%3Db%26c"},
        {"a=b&c", 0, "a=b&c"},
    };
    for (const Case& c : cases) {
        Cell bin = binary("");
        url::percent_encode(str(c.in), series_node(bin), c.mode);
        EXPECT_EQ(bytes_of(bin), c.out) << c.in;
    }
}

TEST_F(FileUrl, ToUrlFromBlock) {
    struct Case {
        const char* name;
        Cell spec;
        const char* expect;
    };
    Case cases[] = {
        {"scheme host port path", block({str("http"), str("host"), integer_cell(8080), str("path")}),
         "http://host:8080/path"},
        {"scheme host", block({str("ftp"), str("h")}), "ftp://h"},
        {"no port", block({str("http"), str("h"), str("a"), str("b")}), "http://h/a/b"},
        {"port then path", block({str("http"), str("h"), integer_cell(1), str("a"), str("b")}),
         "http://h:1/a/b"},
    };
    for (const Case& c : cases) {
        Cell u = test::to(Type::url, c.spec);
        EXPECT_TRUE(is(u, Type::url)) << c.name;
        EXPECT_EQ(text(u), c.expect) << c.name;
    }
    Cell made = test::make(Type::url, block({str("http"), str("h")}));
    EXPECT_EQ(text(made), "http://h");
    Cell empty = test::make(Type::url, integer_cell(10));
    EXPECT_TRUE(is(empty, Type::url));
    EXPECT_EQ(string::length(empty), 0u);
    EXPECT_EQ(raised([] { test::to(Type::url, block({})); }), ids::bad_to_arg);
    // Every conversion to file! is a plain text conversion.
    Cell f = test::to(Type::file, block({str("a"), str("b")}));
    EXPECT_TRUE(is(f, Type::file));
    EXPECT_EQ(text(f), "ab");
}

Cell step(const Cell& parent, const Cell& selector, const Cell* set = nullptr) {
    Cell result;
    actions::PathStep s{&selector, set, nullptr, nullptr, nullptr, 0, false, set == nullptr, true, false};
    datatype::row(type_of(parent)).eval_path.fn(result, parent, s);
    return result;
}

TEST_F(FileUrl, PathSteps) {
    struct Case {
        Cell parent, selector;
        const char* expect;
    };
    Case cases[] = {
        {str("http://a/", Type::url), str("b"), "http://a/b"},
        {str("http://a", Type::url), str("b"), "http://a/b"},
        {str("http://a/", Type::url), str("/b"), "http://a/b"},
        {str("http://a", Type::url), str("/b"), "http://a/b"},
        {str("dir", Type::file), str("f.txt"), "dir/f.txt"},
        {str("dir/", Type::file), integer_cell(3), "dir/3"},
    };
    for (const Case& c : cases) {
        Cell r = step(c.parent, c.selector);
        EXPECT_EQ(type_of(r), type_of(c.parent));
        EXPECT_EQ(text(r), c.expect);
    }
    // A get-word! selector stands for its value.
    context::make_global();
    Cell name = context::add_global(symbol::make("page"), false, false);
    Cell value = str("index.html");
    word::set_checked(name, value);
    set_type(name, Type::get_word);
    EXPECT_EQ(text(step(str("http://a", Type::url), name)), "http://a/index.html");

    Cell u = str("http://a/", Type::url);
    step(u, str("b"));
    EXPECT_EQ(text(u), "http://a/");  // the url itself is unchanged
    Cell v = str("x");
    EXPECT_EQ(raised([&] { step(u, str("b"), &v); }), ids::bad_path_set);
}

TEST_F(FileUrl, LocalPath) {
    Cell out = string::make_value(8);
    file::to_local_path(str("/home/me/a b.txt", Type::file), series_node(out), true);
    EXPECT_EQ(text(out), "/home/me/a b.txt");
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    std::string dir = std::string(cwd) + (std::string(cwd) == "/" ? "" : "/");
    Cell rel = string::make_value(8);
    file::to_local_path(str("x/y", Type::file), series_node(rel), true);
    EXPECT_EQ(text(rel), dir + "x/y");
    Cell bare = string::make_value(8);
    file::to_local_path(str("x/y", Type::file), series_node(bare), false);
    EXPECT_EQ(text(bare), "x/y");
    EXPECT_EQ(file::to_os_path(str("/c/x", Type::file)), "/c/x");
    EXPECT_EQ(text(file::os_current_dir()), dir);
}

TEST_F(FileUrl, ServicesNotInstalled) {
    Cell f = str("a.txt", Type::file);
    Cell u = str("http://example.com", Type::url);
    Cell p = str("ftp://example.com", Type::url);
    auto run = [](auto fn) { return raised(fn); };
    EXPECT_EQ(run([&] { Cell a[1] = {f}; file::read(a, {}); }), ids::cannot_open);
    EXPECT_EQ(run([&] { Cell a[2] = {f, str("x")}; file::write(a, {}); }), ids::cannot_open);
    EXPECT_EQ(run([&] { Cell a[1] = {f}; file::delete_(a); }), ids::cannot_open);
    EXPECT_EQ(run([&] { Cell a[2] = {f, f}; file::rename(a); }), ids::cannot_open);
    EXPECT_EQ(run([&] { Cell a[1] = {f}; file::query(a); }), ids::cannot_open);
    EXPECT_EQ(run([&] { Cell a[1] = {u}; url::read(a, {}); }), ids::cannot_open);
    EXPECT_EQ(run([&] { Cell a[2] = {u, str("x")}; url::write(a, {}); }), ids::cannot_open);
    EXPECT_EQ(run([&] { Cell a[1] = {p}; url::read(a, {}); }), ids::cannot_open);
    EXPECT_EQ(run([&] { Cell a[1] = {p}; url::open(a, {}); }), ids::cannot_open);
    Cell as = str("x");
    actions::ReadRefs with_as;
    with_as.as = &as;
    EXPECT_EQ(run([&] { Cell a[1] = {f}; file::read(a, with_as); }), ids::not_done);
    EXPECT_EQ(run([&] { Cell a[1] = {u}; url::read(a, with_as); }), ids::not_done);
}

// Recorded by the stand-in HTTP service.
struct Request {
    std::string method, url, body;
    bool headers = false, binary = false;
    bool connect = true;
} request;

Cell fake_http(const Cell& method, const Cell& u, const Cell& headers, const Cell& body, bool binary, bool,
               bool) {
    request.method = std::string(symbol::name(word_symbol(method)));
    request.url = string::to_utf8(u);
    request.headers = is(headers, Type::block);
    request.body = is(body, Type::string) ? string::to_utf8(body) : is(body, Type::none) ? "none" : "other";
    request.binary = binary;
    return request.connect ? str("answer") : none_cell();
}

TEST_F(FileUrl, HttpRequests) {
    url::Services s;
    s.http_request = &fake_http;
    url::set_services(s);
    Cell u = str("https://example.com/x", Type::url);
    actions::ReadRefs bin;
    bin.binary = true;
    Cell a[1] = {u};
    url::read(a, bin);
    EXPECT_EQ(text(a[0]), "answer");
    EXPECT_EQ(request.method, "get");
    EXPECT_EQ(request.url, "https://example.com/x");
    EXPECT_TRUE(request.binary);

    Cell w[2] = {u, str("payload")};
    url::write(w, {});
    EXPECT_EQ(request.method, "post");
    EXPECT_EQ(request.body, "payload");

    // The method is the word's first interned spelling, whatever case the
    // request block wrote it in.
    symbol::make("put");
    Cell req[2] = {u, block({word_value("PUT"), block({}), str("b")})};
    url::write(req, {});
    EXPECT_EQ(request.method, "put");
    EXPECT_TRUE(request.headers);
    EXPECT_EQ(request.body, "b");

    Cell empty[2] = {u, block({})};
    url::write(empty, {});
    EXPECT_EQ(request.method, "get");
    EXPECT_EQ(request.body, "none");

    struct Bad {
        const char* name;
        Cell data;
    };
    Bad bad[] = {
        {"method not a word", block({str("get")})},
        {"headers not a block", block({word_value("get"), str("h")})},
        {"body of another type", block({word_value("get"), block({}), integer_cell(1)})},
        {"data of another type", integer_cell(1)},
    };
    for (const Bad& b : bad) {
        Cell args[2] = {u, b.data};
        EXPECT_EQ(raised([&] { url::write(args, {}); }), ids::invalid_arg) << b.name;
    }
    request.connect = false;
    Cell r[1] = {u};
    EXPECT_EQ(raised([&] { url::read(r, {}); }), ids::no_connect);
    request.connect = true;
    // Upper-case schemes are not taken for http.
    Cell upper[1] = {str("HTTP://x", Type::url)};
    EXPECT_EQ(raised([&] { url::read(upper, {}); }), ids::cannot_open);
}

TEST_F(FileUrl, Rows) {
    const actions::Row& u = datatype::row(Type::url);
    const actions::Row& f = datatype::row(Type::file);
    EXPECT_EQ(u.mold.fn, &url::mold);
    EXPECT_EQ(f.mold.fn, &file::mold);
    EXPECT_EQ(f.eval_path.fn, &url::eval_path);
    EXPECT_EQ(f.to.fn, &url::to);
    EXPECT_EQ(u.append.fn, &string::append);
    EXPECT_EQ(u.sort.fn, nullptr);
    EXPECT_EQ(u.trim.fn, nullptr);
    EXPECT_EQ(f.open.fn, nullptr);
    EXPECT_EQ(u.open.fn, &url::open);
    EXPECT_EQ(f.read.fn, &file::read);
    EXPECT_EQ(u.form.fn, &string::form);
    EXPECT_EQ(datatype::name(Type::file), "file!");
}

}  // namespace

namespace {

TEST_F(FileUrl, UnderCollections) {
    memory::set_gc_stress(3);
    collector::set_enabled(true);
    uint32_t cycles = collector::cycles();
    Cell out = string::make_value(1);
    collector::Root keep(out);
    std::string expected;
    for (int i = 0; i < 100; ++i) {
        Cell piece = str(i % 2 ? "%C3%A9%41" : "x%20y", Type::url);
        collector::Root keep_piece(piece);
        url::percent_decode(piece, series_node(out));
        expected += i % 2 ? "\u00e9A" : "x y";
        Cell joined = step(piece, str("b"));
        EXPECT_EQ(text(joined), std::string(i % 2 ? "%C3%A9%41" : "x%20y") + "/b");
    }
    EXPECT_EQ(text(out), expected);
    EXPECT_EQ(mold_of(str(expected, Type::url)).substr(0, 9), "x%20y%C3%");
    EXPECT_GE(collector::cycles() - cycles, 3u);
    memory::set_gc_stress(0);
    collector::set_enabled(false);
}

}  // namespace
