// Zanbin: values to bytes and back.
//
// One buffer holds a sequence of top-level values (the roots) with everything
// they reach: series contents, contexts with their words and values, objects,
// functions, errors. Two record flavours share one header: compact records
// (LEB128 integers, the boot image and the codec's default) and fixed records
// (32-bit little-endian words). A series, context or error met a second time
// is written as a reference: the path of positions at which it was first
// written, so sharing and cycles survive the round trip.
//
// Codec mode (save/load) binds a word either to the global context or to an
// object!, function! or error! written beside it. Boot mode decodes the boot
// image into the root block: definitions set words as they go, and words name
// their context by the root index of a context record.
//
// Every malformed input raises script error zb-invalid-record with the 1-based
// byte position of the fault; a bad magic or bad compressed data raises
// invalid-data (codec mode). Decoding and encoding run with the collector on:
// the input is read from a copy the collector does not move, every decoded
// value hangs from the target block as soon as it is made, and the writer's
// table of written nodes is a collector root.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/cell.h"

namespace zan::zanbin {

constexpr char magic[] = "ZANBIN";
constexpr uint8_t version = 2;

namespace flags {
constexpr uint8_t compact = 1;
constexpr uint8_t compressed = 2;
constexpr uint8_t symbols = 4;
}  // namespace flags

// Deepest nesting of containers either direction accepts; deeper raises
// internal too-deep (so does a native stack running short first).
constexpr uint32_t max_depth = 250000;

// --- writers ----------------------------------------------------------------------

// The value and all it reaches as one Zanbin buffer: compact or fixed records.
// Raises access no-codec (with the value) for what cannot be written.
std::vector<uint8_t> encode(const Cell& value, bool compact);
// The same as a new binary! value (once binary! is registered).
Cell encode_binary(const Cell& value, bool compact);

// --- reader -------------------------------------------------------------------------

// Decodes every top-level record of a buffer of `size` bytes into the target
// block (appended at its tail), in codec mode. Answers the number of cells
// appended. The bytes are copied first, so they may live in a series.
uint32_t decode(const uint8_t* data, size_t size, const Cell& target);

// The codec's decode: a binary! (or its bytes) of more than 10 bytes; one root
// answers that value, none or several a block of them. `payload` is named by
// invalid-data errors.
Cell decode_value(const uint8_t* data, size_t size, const Cell& payload);

// --- boot mode ----------------------------------------------------------------------

// Decodes the boot image into the root block with the collector held off:
// definitions, words bound by root index, class ids kept. A bad magic or a
// failed decode is reported on standard error and ends the process with a
// non-zero status. Answers the number of root cells. Meant for the image built
// into zan, which the generator decoded with every check: bounds are checked,
// names' UTF-8 and function specs are not checked again.
uint32_t load_payload(const uint8_t* data, size_t size);
// The same, raising the reader's errors instead of ending the process (for
// tests and the image generator's self-check). `target` receives the roots.
uint32_t decode_boot(const uint8_t* data, size_t size, const Cell& target);

// Root cell i of the last boot decode (into the root block or the target of
// decode_boot), and the context node it holds (a context record's root).
Cell* root_cell(uint32_t index);
Node root_node(uint32_t index);
uint32_t root_count();

// Writes a boot image: compact records, version 1, a symbol table, not
// compressed. Definitions set a word to a value and leave no root; roots are
// numbered in the order they are added. A word bound to the global context
// is written plainly; a word of another context names the root that holds
// that context (add the context first with add_context), else the write
// raises zb-invalid-record naming the word.
class BootWriter {
public:
    BootWriter();
    ~BootWriter();
    BootWriter(const BootWriter&) = delete;
    BootWriter& operator=(const BootWriter&) = delete;

    // name: value, no root left behind.
    void add_definition(const Cell& word, const Cell& value);
    // A root value; answers its root index.
    uint32_t add_root(const Cell& value);
    // A context record as a root (its values follow when it has some); words
    // of this context written afterwards are bound to it by root index.
    uint32_t add_context(Node ctx);
    // The finished image.
    std::vector<uint8_t> finish();

private:
    struct State;
    State* s_;
};

}  // namespace zan::zanbin
