// HTTP over libcurl.
//
// What goes out is exactly the method, the url, the headers given (or the
// three defaults) and the body: curl's own Accept, automatic Content-Type and
// "Expect: 100-continue" are taken off unless the script sets them. Up to 10
// redirects are followed; the headers answered are those of the final
// response. Connecting gives up after 60 s, a transfer after 30 s without
// data. Proxies come from the environment; certificates are checked.
#include "platform/http.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <memory>

#include "datatypes/block.h"
#include "datatypes/map.h"
#include "datatypes/mold.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/url.h"
#include "platform/text.h"
#include "runtime/collector.h"

namespace zan::platform::http {

namespace {

std::string trim(std::string_view v) {
    size_t b = v.find_first_not_of(" \t\r\n");
    if (b == std::string_view::npos) return {};
    size_t e = v.find_last_not_of(" \t\r\n");
    return std::string(v.substr(b, e - b + 1));
}

bool same_name(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(uint8_t(x)) == std::tolower(uint8_t(y));
           });
}

// Text for the wire: a word its spelling, a string its text, anything else
// its formed text.
std::string wire_text(const Cell& v) {
    Type t = type_of(v);
    if (t == Type::word || t == Type::set_word || t == Type::lit_word || t == Type::get_word)
        return std::string(symbol::name(word_symbol(v)));
    if (t == Type::string) return text::encode(v);
    return mold::form_text(v);
}

// The url's text with the characters a request line cannot carry escaped.
std::string wire_url(const Cell& url) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : text::encode(url)) {
        auto c = uint8_t(ch);
        if (c <= 0x20 || c >= 0x7F || std::string_view("\"<>\\^`{|}").find(char(c)) != std::string_view::npos) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += char(c);
        }
    }
    return out;
}

struct Response {
    std::string head;  // header lines of the latest response
    std::string body;
};

size_t on_body(char* data, size_t size, size_t n, void* r) {
    static_cast<Response*>(r)->body.append(data, size * n);
    return size * n;
}

size_t on_header(char* data, size_t size, size_t n, void* r) {
    auto* resp = static_cast<Response*>(r);
    std::string_view line(data, size * n);
    // Every hop (a redirect, a 100 Continue) starts with its status line.
    if (line.rfind("HTTP/", 0) == 0) resp->head.clear();
    resp->head.append(line);
    return size * n;
}

struct CurlFree {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

std::string method_text(const Cell& method) {
    std::string m(symbol::name(word_symbol(method)));
    for (char& c : m) c = char(std::toupper(uint8_t(c)));
    return m;
}

Cell header_map(const HeaderList& list) {
    Cell block;
    block::make_at(block, int32_t(list.size() * 2) + 2);
    collector::Root keep(block);
    // Repeated names gather their values in a block, in arrival order.
    std::vector<std::pair<std::string, std::vector<std::string>>> grouped;
    for (const auto& header : list) {
        auto it = std::find_if(grouped.begin(), grouped.end(),
                               [&](const auto& g) { return same_name(g.first, header.first); });
        if (it == grouped.end())
            grouped.push_back({header.first, {header.second}});
        else
            it->second.push_back(header.second);
    }
    for (const auto& [name, values] : grouped) {
        Cell key = make_cell(Type::word, 0, symbol::make(std::string_view(name)), uint32_t(-1));
        block::rs_append(block, key);
        if (values.size() == 1) {
            Cell v = text::decode(values[0], false);
            block::rs_append(block, v);
            continue;
        }
        Cell many;
        block::make_at(many, int32_t(values.size()));
        collector::Root keep_many(many);
        for (const std::string& s : values) {
            Cell v = text::decode(s, false);
            block::rs_append(many, v);
        }
        block::rs_append(block, many);
    }
    Cell map;
    return map::make_at(map, &block, 0);
}

}  // namespace

HeaderList parse_headers(std::string_view text) {
    HeaderList out;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (line.rfind("HTTP/", 0) == 0) continue;
        size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) continue;
        out.emplace_back(std::string(line.substr(0, colon)), trim(line.substr(colon + 1)));
    }
    return out;
}

Cell request(const Cell& method, const Cell& url, const Cell& headers, const Cell& body_in, bool binary,
             bool lines, bool info) {
    static bool started = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    if (!started) return none_cell();
    std::unique_ptr<CURL, CurlFree> curl(curl_easy_init());
    if (!curl) return none_cell();
    CURL* c = curl.get();

    std::string verb = method_text(method);
    std::string target = wire_url(url);
    bool has_body = verb != "GET" && verb != "HEAD" && !is(body_in, Type::none);
    std::string body;
    if (has_body) body = is(body_in, Type::binary) ? std::string(text::binary_bytes(body_in)) : wire_text(body_in);

    HeaderList sent;
    if (is(headers, Type::block)) {
        int32_t n = block::rs_length(headers), from = int32_t(series_index(headers));
        for (int32_t i = 0; i + 1 < n; i += 2)
            sent.emplace_back(wire_text(*block::rs_abs_at(headers, from + i)),
                              wire_text(*block::rs_abs_at(headers, from + i + 1)));
    } else {
        sent = {{"Content-Type", "application/x-www-form-urlencoded"},
                {"Accept-Charset", "UTF-8"},
                {"User-Agent", "Mozilla/5.0 (Windows NT 6.1; Win64; x64)"}};
    }
    std::unique_ptr<curl_slist, CurlFree> list;
    auto add = [&](const std::string& line) {
        curl_slist* l = curl_slist_append(list.get(), line.c_str());
        if (l) {
            (void)list.release();
            list.reset(l);
        }
    };
    for (const auto& [name, value] : sent) add(value.empty() ? name + ";" : name + ": " + value);
    // curl's own additions go unless the script set them.
    for (const char* own : {"Accept", "Content-Type", "Expect"}) {
        bool given = std::any_of(sent.begin(), sent.end(), [&](const auto& h) { return same_name(h.first, own); });
        if (!given) add(std::string(own) + ":");
    }

    Response resp;
    curl_easy_setopt(c, CURLOPT_URL, target.c_str());
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 60L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, 30L);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, list.get());
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, on_body);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &resp);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, on_header);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &resp);
    if (verb == "HEAD") {
        curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
    } else if (has_body) {
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
        curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
        if (verb != "POST") curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, verb.c_str());
    } else if (verb != "GET") {
        curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, verb.c_str());
    }
    if (curl_easy_perform(c) != CURLE_OK) return none_cell();
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    curl.reset();
    list.reset();

    Cell result;
    if (resp.body.empty()) {
        if (lines) {
            block::make_at(result, 1);
        } else {
            result = binary ? text::make_binary({}) : text::decode({}, false);
        }
    } else if (binary) {
        result = text::make_binary(resp.body, &url);
    } else if (lines) {
        result = text::lines_to_block(resp.body);
    } else {
        result = text::decode(resp.body, true, &url);
    }
    if (!info) return result;
    collector::Root keep(result);
    Cell map = header_map(parse_headers(resp.head));
    collector::Root keep_map(map);
    Cell block;
    block::make_at(block, 3);
    collector::Root keep_block(block);
    block::rs_append(block, integer_cell(int32_t(status)));
    block::rs_append(block, map);
    block::rs_append(block, result);
    return block;
}

void install() {
    url::Services s = url::services();
    s.http_request = &request;
    url::set_services(s);
}

}  // namespace zan::platform::http
