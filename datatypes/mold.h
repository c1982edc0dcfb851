// Turning values into text: the form and mold calling protocol.
//
// Every form and mold slot appends to a string buffer and answers the budget it
// was given less the characters it wrote. With a /part limit in force, walks of
// several values stop before the next value once the budget is below 1; the
// caller cuts the text to the limit. Without a limit the budget is no_limit.
//
// The cycle guard is one stack of series nodes shared by every mold, form,
// compare and deep copy that walks nested containers. Walkers hold a
// CycleScope: whatever unwinds through it, the guard is left as deep as it was.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::mold {

constexpr int32_t no_limit = 0x7FFFFFFF;
constexpr int cycle_capacity = 1000;  // a walk may nest at most 999 deep

// --- writing ------------------------------------------------------------------
// Fixed texts are ASCII; each character costs one unit of budget.
int32_t append(Node buffer, std::string_view ascii, int32_t budget);
int32_t append_char(Node buffer, uint32_t cp, int32_t budget);
// Four spaces per level; nothing for a level of 0 or below.
int32_t indent(Node buffer, int32_t level, int32_t budget);

// --- dispatch through the value's own slots -------------------------------------
int32_t form_value(const Cell& value, Node buffer, bool part, int32_t budget);
int32_t mold_value(const Cell& value, Node buffer, actions::MoldFlags flags, bool part,
                   int32_t budget, int32_t indent);

// The form and mold actions: a new string! holding the text of a whole value.
// A limit (/part) of 0 or more cuts the text to that many characters; below 1
// it gives an empty string without forming anything. A negative limit is no
// /part. The caller roots the answer.
Cell form_string(const Cell& value, int32_t limit = -1);
Cell mold_string(const Cell& value, actions::MoldFlags flags = {}, int32_t limit = -1);

// The same as UTF-8, for the runtime's own messages and for tests.
std::string form_text(const Cell& value, int32_t limit = -1);
std::string mold_text(const Cell& value, actions::MoldFlags flags = {}, int32_t limit = -1);

// --- the values of a series ---------------------------------------------------------
// Form: values separated by one space, none after a line feed, carriage return
// or tab. Mold: the line-break and indentation rule of new-line markers.
// Both push the series on the cycle guard while they walk it.
int32_t form_each(Node series, uint32_t index, Node buffer, bool part, int32_t budget);
int32_t mold_each(Node series, uint32_t index, Node buffer, actions::MoldFlags flags, bool part,
                  int32_t budget, int32_t indent);

// --- cycle guard ------------------------------------------------------------------
// Registers the guard's entries with the collector (they are rewritten when
// their nodes move); start-up calls it once.
void init();
// Pushing the 1000th entry empties the guard and raises internal too-deep.
void cycle_push(Node n);
void cycle_pop();
void cycle_drop(int n);
void cycle_reset();
bool cycle_find(Node n);
int cycle_depth();

// For a value whose series (an object's context) is already being walked:
// writes the cycle text, lowers the budget and answers true.
bool cycle_detect(const Cell& value, Node buffer, int32_t& budget, bool mold);

// Pushes a node and, on leaving scope by any road, restores the guard's depth.
class CycleScope {
public:
    explicit CycleScope(Node n);
    CycleScope(Node a, Node b);  // compares walk both operands
    ~CycleScope();
    CycleScope(const CycleScope&) = delete;
    CycleScope& operator=(const CycleScope&) = delete;

private:
    int depth_;
};

}  // namespace zan::mold
