// The routine registry: a table of (key, function) pairs, in registration order.
#include "evaluator/routines.h"

#include <string>
#include <vector>

#include "evaluator/stack.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace zan::routines {

namespace {
struct Entry {
    std::string key;
    Fn fn;
};
std::vector<Entry>& table() {
    static std::vector<Entry> t;
    return t;
}
struct BodyEntry {
    std::string key;
    BodyFn fn;
};
std::vector<BodyEntry>& bodies() {
    static std::vector<BodyEntry> t;
    return t;
}
// Every call of a routine or a C++ body looks its function up: a plain array
// (no guard of a function-local static, no vector bounds) serves the first ones.
constexpr uint32_t quick_count = 512;
Fn quick_fns[quick_count];
BodyFn quick_bodies[quick_count];
}  // namespace

uint32_t add(std::string_view key, Fn fn) {
    if (uint32_t i = find(key)) return i;
    table().push_back(Entry{std::string(key), fn});
    if (table().size() <= quick_count) quick_fns[table().size() - 1] = fn;
    return uint32_t(table().size());
}

uint32_t find(std::string_view key) {
    auto& t = table();
    for (size_t i = 0; i < t.size(); ++i)
        if (t[i].key == key) return uint32_t(i + 1);
    return 0;
}

Fn at(uint32_t index) {
    if (index - 1 < quick_count) return quick_fns[index - 1];
    return index >= 1 && index <= table().size() ? table()[index - 1].fn : nullptr;
}

std::string_view key_of(uint32_t index) {
    return index >= 1 && index <= table().size() ? std::string_view(table()[index - 1].key) : std::string_view();
}

uint32_t add_body(std::string_view key, BodyFn fn) {
    if (uint32_t i = find_body(key)) return i;
    bodies().push_back(BodyEntry{std::string(key), fn});
    if (bodies().size() <= quick_count) quick_bodies[bodies().size() - 1] = fn;
    return uint32_t(bodies().size());
}

uint32_t find_body(std::string_view key) {
    auto& t = bodies();
    for (size_t i = 0; i < t.size(); ++i)
        if (t[i].key == key) return uint32_t(i + 1);
    return 0;
}

BodyFn body_at(uint32_t index) {
    if (index - 1 < quick_count) return quick_bodies[index - 1];
    return index >= 1 && index <= bodies().size() ? bodies()[index - 1].fn : nullptr;
}

void exec(const Cell& routine) {
    const Cell& code = memory::buffer(callable_more(routine))->cells()[2];
    Fn fn = is(code, Type::integer) ? at(uint32_t(int_of(code))) : nullptr;
    if (!fn) errors::fire(errors::id::not_done);
    fn(stack::s.base);
}

}  // namespace zan::routines
