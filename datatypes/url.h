// url!: a string value that prints percent-encoded and extends by path steps.
//
// The text is held decoded, exactly as written; escaping happens only when it
// is molded. A url whose text begins with "http" is read and written through
// the HTTP request service; any other becomes a port through the url parser.
// Those services belong to later subsystems and are installed through
// set_services; until then reading, writing and opening raise access
// cannot-open with the url.
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::url {

using actions::Args;

// Characters (below 0x80) that need no escaping in a url or quoting in a file.
bool path_safe_q(uint32_t c);
// Letters, digits and - . _ ~
bool unreserved_q(uint32_t c);
// 0-15 for a hexadecimal digit, -1 otherwise.
int32_t hex_digit(uint32_t c);

// Decodes %XX escapes (UTF-8 sequences of escapes as one character) of the
// text from its head, appending to the target string.
void percent_decode(const Cell& source, Node target);
// Encodes the text's UTF-8 bytes: a byte in the table is copied, any other
// becomes %XX. mode 254 uses the unreserved table, any other the path-safe one.
// Appends bytes to the target binary!.
void percent_encode(const Cell& source, Node target, int32_t mode);

struct Services {
    // The HTTP request: none when no connection could be made.
    Cell (*http_request)(const Cell& method, const Cell& url, const Cell& headers, const Cell& body,
                         bool binary, bool lines, bool info) = nullptr;
    // The url's parts as an object! (or anything else for a url it cannot parse).
    Cell (*parse_url)(const Cell& url) = nullptr;
    // A port! made from the parts.
    Cell (*make_port)(const Cell& parts) = nullptr;
};
void set_services(const Services& s);
const Services& services();

// url/open-port: a port from the url, opened with the refinements when open is given.
Cell open_port(const Cell& url, const actions::OpenRefs* open);

// --- actions ------------------------------------------------------------------------

void make(Args args, Type type);
void to(Args args, Type type);
int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent);
void eval_path(Cell& result, const Cell& parent, const actions::PathStep& s);
void open(Args args, const actions::OpenRefs& r);
void read(Args args, const actions::ReadRefs& r);
void write(Args args, const actions::WriteRefs& r);

// Marks the series slots (compare, the series actions, modify) that url! and
// file! take unchanged from their parent.
void inherit_series(actions::Row& row);

// Registers url! (parent string!).
void init();

}  // namespace zan::url
