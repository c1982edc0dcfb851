// The script library's C++ side: the routines its boot scripts declare, and
// the library context that keeps its calls working when a script redefines a
// global word.
#pragma once

#include <string_view>

#include "runtime/cell.h"

namespace zan::library {

// Evaluates script text in the global context, with `last` appended to the
// loaded code when given, and answers the value.
Cell eval_text(std::string_view code, const Cell* last = nullptr);

// Puts the base routines and the type predicates into the routine registry;
// start-up calls both once the symbol table exists, before the boot scripts.
void register_routines();
void register_predicates();
// Puts the C++ bodies of hot library functions into their registry.
void register_bodies();
// The routines behind system/codecs/zanbin.
void register_codec_routines();
void register_image_codec_routines();
// The routines behind load-json, to-json, load-csv and to-csv.
void register_json_routines();
void register_csv_routines();

// After the boot scripts: rebinds the words of every library function's body
// that name a function to a context of their own holding the values they had
// then, so that a script redefining `pick` keeps `first` working; and takes
// away the words only the boot scripts use.
void finish_boot();
// The library context made by finish_boot, and the one a decoded boot image
// brings back (kept alive from then on).
Node context_node();
void adopt_context(Node ctx);
// The value a library word holds, as library code sees it: the library
// context's, else the global one, else none.
Cell value_of(uint32_t sym);
// Attaches the C++ bodies of hot library functions to the functions the
// global words hold, by name.
void attach_bodies();

}  // namespace zan::library
