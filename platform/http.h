// HTTP requests for read and write of http and https urls: one synchronous
// HTTP/1.1 request through libcurl, and the parsing of response headers.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/cell.h"

namespace zan::platform::http {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// Response header lines (CR LF or LF ends) as name and value pairs in order:
// the name is the text before the first colon, the value what follows it
// with leading blanks and tabs and trailing white space taken off. Lines
// without a colon, and status lines, are skipped.
HeaderList parse_headers(std::string_view text);

// The request: none when no response came. Headers is a block of name and
// value pairs or none (then three defaults are sent); body none, a binary!
// or any value sent as its text.
Cell request(const Cell& method, const Cell& url, const Cell& headers, const Cell& body, bool binary,
             bool lines, bool info);

void install();

}  // namespace zan::platform::http
