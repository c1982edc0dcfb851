// The error catalogue: ten categories, each with its display name and its ids
// in id order, each id with its message template.
//
// A template is written as the language writes it: a string, a block of
// strings and argument words (:arg1 takes the error's arg1 field), or a word
// naming the error field that holds the template. The table
// keeps that text; the catalogue object built from it holds the same values a
// boot script declaring the catalogue would, so the messages do not change
// when the catalogue moves into the boot scripts.
#include <string_view>

#include "datatypes/error.h"

namespace zan::error::catalog {

namespace {

struct IdEntry {
    const char* name;
    const char* text;  // the template's source text
};

constexpr IdEntry throw_ids[] = {
    {"break", R"t("no loop to break")t"},
    {"return", R"t("return or exit not in function")t"},
    {"throw", R"t(["no catch for throw:" :arg1])t"},
    {"continue", R"t("no loop to continue")t"},
    {"while-cond", R"t("BREAK/CONTINUE cannot be used in WHILE condition block")t"},
};

constexpr IdEntry note_ids[] = {
    {"no-load", R"t(["cannot load: " :arg1])t"},
};

constexpr IdEntry syntax_ids[] = {
    {"invalid", R"t([:arg1 "invalid" :arg2 "at" :arg3])t"},
    {"missing", R"t([:arg1 "missing" :arg2 "at" :arg3])t"},
    {"no-header", R"t(["script is missing a Zan header:" :arg1])t"},
    {"no-rs-header", R"t(["script is missing a Zan/System header:" :arg1])t"},
    {"bad-header", R"t(["script header is not valid:" :arg1])t"},
    {"malconstruct", R"t([:arg1 "invalid construction spec at" :arg2])t"},
    {"bad-char", R"t([:arg1 "invalid character at" :arg2])t"},
};

constexpr IdEntry script_ids[] = {
    {"no-value", R"t([:arg1 "has no value"])t"},
    {"need-value", R"t([:arg1 "needs a value"])t"},
    {"not-defined", R"t([:arg1 "word is not bound to a context"])t"},
    {"not-in-context", R"t(["context for" :arg1 "is not available"])t"},
    {"no-arg", R"t([:arg1 "is missing its" :arg2 "argument"])t"},
    {"expect-arg", R"t([:arg1 "does not allow" :arg2 "for its" :arg3 "argument"])t"},
    {"expect-val", R"t(["expected" :arg1 "not" :arg2])t"},
    {"expect-type", R"t([:arg1 :arg2 "field must be of type" :arg3])t"},
    {"cannot-use", R"t(["cannot use" :arg1 "on" :arg2 "value"])t"},
    {"invalid-arg", R"t(["invalid argument:" :arg1])t"},
    {"invalid-type", R"t([:arg1 "type is not allowed here"])t"},
    {"invalid-type-spec", R"t(["invalid type specifier:" :arg1])t"},
    {"invalid-key-type", R"t(["invalid key type:" :arg1])t"},
    {"invalid-op", R"t(["invalid operator:" :arg1])t"},
    {"no-op-arg", R"t([:arg1 "operator is missing an argument"])t"},
    {"bad-op-spec",
     R"t("making an op! requires a function with only 2 arguments and no lit/get-word on left argument")t"},
    {"invalid-data", R"t(["data not in correct format:" :arg1])t"},
    {"invalid-part", R"t(["invalid /part count:" :arg1])t"},
    {"not-same-type", R"t("values must be of the same type")t"},
    {"not-same-class", R"t(["cannot coerce" :arg1 "to" :arg2])t"},
    {"not-related", R"t(["incompatible argument for" :arg1 "of" :arg2])t"},
    {"bad-func-def", R"t(["invalid function definition:" :arg1])t"},
    {"bad-func-arg", R"t(["function argument" :arg1 "is not valid"])t"},
    {"bad-func-extern", R"t(["invalid /extern value:" :arg1])t"},
    {"no-refine", R"t([:arg1 "has no refinement called" :arg2])t"},
    {"bad-refines", R"t("incompatible or invalid refinements")t"},
    {"bad-refine", R"t(["incompatible refinement:" :arg1])t"},
    {"dup-refine", R"t(["duplicate refinement usage in:" :arg1])t"},
    {"word-first", R"t(["path must start with a word:" :arg1])t"},
    {"empty-path", R"t("cannot evaluate an empty path value")t"},
    {"unset-path", R"t([:arg2 "is unset in path" :arg1])t"},
    {"invalid-path", R"t(["cannot access" :arg2 "in path" :arg1])t"},
    {"invalid-path-set", R"t(["unsupported type in" :arg1 "set-path"])t"},
    {"invalid-path-get", R"t(["unsupported type in" :arg1 "get-path"])t"},
    {"bad-path-type", R"t([:arg3 "returned a" :arg2 "value, so" :arg1 "could not be accessed"])t"},
    {"bad-path-type2", R"t(["cannot access" :arg2 "in a value of type" :arg1])t"},
    {"bad-path-set", R"t(["cannot set" :arg2 "in path" :arg1])t"},
    {"bad-field-set", R"t(["cannot set" :arg1 "field to" :arg2 "datatype"])t"},
    {"dup-vars", R"t(["duplicate variable specified:" :arg1])t"},
    {"past-end", R"t("out of range or past end")t"},
    {"missing-arg", R"t("missing a required argument or refinement")t"},
    {"out-of-range", R"t(["value out of range:" :arg1])t"},
    {"invalid-chars", R"t("contains invalid characters")t"},
    {"invalid-compare", R"t(["cannot compare" :arg1 "with" :arg2])t"},
    {"wrong-type", R"t(["datatype assertion failed for:" :arg1])t"},
    {"invalid-refine-arg", R"t(["invalid" :arg1 "argument:" :arg2])t"},
    {"type-limit", R"t([:arg1 "overflow/underflow"])t"},
    {"size-limit", R"t(["maximum limit reached:" :arg1])t"},
    {"no-return", R"t("block did not return a value")t"},
    {"throw-usage", R"t("invalid use of a thrown error value")t"},
    {"locked-word", R"t(["protected word - cannot modify:" :arg1])t"},
    {"protected", R"t("protected value or series - cannot modify")t"},
    {"bad-bad", R"t([:arg1 "error:" :arg2])t"},
    {"bad-make-arg", R"t(["cannot MAKE" :arg1 "from:" :arg2])t"},
    {"bad-to-arg", R"t(["cannot MAKE/TO" :arg1 "from:" :arg2])t"},
    {"invalid-months", R"t("invalid month names in the locale")t"},
    {"invalid-spec-field", R"t(["invalid" :arg1 "field in spec block"])t"},
    {"missing-spec-field", R"t([:arg1 "not found in spec block"])t"},
    {"move-bad", R"t(["cannot MOVE elements from" :arg1 "to" :arg2])t"},
    {"too-long", R"t("content too long")t"},
    {"invalid-char", R"t(["invalid char! value:" :arg1])t"},
    {"bad-loop-series", R"t(["loop series changed to invalid value:" :arg1])t"},
    {"wrong-denom", R"t([:arg1 "not same denomination as" :arg2])t"},
    {"bad-denom", R"t(["invalid denomination:" :arg1])t"},
    {"invalid-obj-evt", R"t(["invalid object event handler:" :arg1])t"},
    {"parse-rule", R"t(["PARSE - invalid rule or usage of rule:" :arg1])t"},
    {"parse-end", R"t(["PARSE - unexpected end of rule after:" :arg1])t"},
    {"parse-invalid-ref", R"t(["PARSE - get-word refers to a different series!" :arg1])t"},
    {"parse-block", R"t(["PARSE - input must be of any-block! type:" :arg1])t"},
    {"parse-unsupported", R"t("PARSE - matching by datatype not supported for any-string! input")t"},
    {"parse-infinite", R"t(["PARSE - infinite recursion at rule:" :arg1])t"},
    {"parse-stack", R"t("PARSE - stack limit reached")t"},
    {"parse-keep", R"t("PARSE - KEEP is used without a wrapping COLLECT")t"},
    {"parse-into-bad", R"t("PARSE - COLLECT INTO/AFTER expects a series! argument")t"},
    {"parse-into-type", R"t("PARSE - COLLECT INTO/AFTER expects a series! of compatible datatype")t"},
    {"draw-invalid", R"t(["DRAW - invalid input at:" :arg1])t"},
    {"draw-infinite", R"t(["DRAW - infinite recursion at:" :arg1])t"},
    {"invalid-data-facet", R"t(["invalid DATA facet content" :arg1])t"},
    {"face-type", R"t(["VIEW - invalid face type:" :arg1])t"},
    {"not-window", R"t("VIEW - expected a window root face")t"},
    {"bad-window", R"t("VIEW - a window face cannot be nested in another window")t"},
    {"not-linked", R"t("VIEW - face not linked to a window")t"},
    {"not-event-type", R"t(["VIEW - not a valid event type:" :arg1])t"},
    {"invalid-facet-type", R"t(["VIEW - invalid facet value:" :arg1])t"},
    {"vid-invalid-syntax", R"t(["VID - invalid syntax at:" :arg1])t"},
    {"rtd-invalid-syntax", R"t(["RTD - invalid syntax at:" :arg1])t"},
    {"rtd-no-match", R"t(["RTD - opening/closing tag not matching for:" :arg1])t"},
    {"react-bad-func", R"t("REACT - /LINK option requires a function! as argument")t"},
    {"react-not-enough", R"t("REACT - reactive functions must accept at least 2 arguments")t"},
    {"react-no-match", R"t("REACT - objects block length must match reaction function arg count")t"},
    {"react-bad-obj", R"t("REACT - target can only contain object values")t"},
    {"react-gctx", R"t(["REACT - word" :arg1 "is not a reactor's field"])t"},
    {"lib-invalid-arg", R"t(["LIB - invalid argument for" :arg1])t"},
    {"zb-invalid-record", R"t(["ZANBIN - invalid record at index" :arg1])t"},
};

constexpr IdEntry math_ids[] = {
    {"zero-divide", R"t("attempt to divide by zero")t"},
    {"overflow", R"t("math or number overflow")t"},
    {"positive", R"t("positive number required")t"},
};

constexpr IdEntry access_ids[] = {
    {"cannot-open", R"t(["cannot open:" :arg1])t"},
    {"cannot-close", R"t(["cannot close:" :arg1])t"},
    {"invalid-utf8", R"t(["invalid UTF-8 encoding:" :arg1])t"},
    {"not-open", R"t(["port is not open:" :arg1])t"},
    {"no-connect", R"t(["cannot connect:" :arg1 "reason: timeout"])t"},
    {"no-scheme", R"t(["missing port scheme:" :arg1])t"},
    {"unknown-scheme", R"t(["scheme is unknown:" :arg1])t"},
    {"invalid-spec", R"t(["invalid spec or options:" :arg1])t"},
    {"invalid-port", R"t(["invalid port object (invalid field values)"])t"},
    {"invalid-actor", R"t(["invalid port actor (must be handle or object)"])t"},
    {"no-port-action", R"t("port action not supported")t"},
    {"no-create", R"t(["cannot create:" :arg1])t"},
    {"no-codec", R"t(["cannot decode or encode (no codec):" :arg1])t"},
    {"bad-media", R"t(["bad media data (corrupt image, sound, video)"])t"},
    {"invalid-cmd", R"t(["invalid port command:" :arg1])t"},
};

constexpr IdEntry user_ids[] = {
    // The message is the error's own arg1, a string shown as it is.
    {"message", "arg1"},
};

constexpr IdEntry internal_ids[] = {
    {"bad-path", R"t(["bad path:" arg1])t"},
    {"not-here", R"t([arg1 "not supported on your system"])t"},
    {"no-memory", R"t("not enough memory")t"},
    {"wrong-mem", R"t("failed to release memory")t"},
    {"stack-overflow", R"t("stack overflow")t"},
    {"limit-hit", R"t(["internal limit reached:" :arg1])t"},
    {"too-deep", R"t("block or paren series is too deep to process")t"},
    {"no-cycle", R"t("circular reference not allowed")t"},
    {"feature-na", R"t("feature not available")t"},
    {"not-done", R"t("reserved for future use (or not yet implemented)")t"},
    {"invalid-error", R"t(["invalid error object field value:" :arg1])t"},
    {"routines", R"t("routines require compilation, from OS shell: `zan -r <script.zan>`")t"},
    {"zan-system", R"t("contains Zan/System code which requires compilation")t"},
    {"deprecated", R"t([arg1 "is DEPRECATED, please use" arg2 "instead"])t"},
};

struct CategoryEntry {
    const char* name;
    const char* type;
    const IdEntry* ids;
    int count;
};

template <int N>
constexpr CategoryEntry category(const char* name, const char* type, const IdEntry (&ids)[N]) {
    return {name, type, ids, N};
}

constexpr CategoryEntry categories[] = {
    category("throw", "Throw Error", throw_ids),
    category("note", "note", note_ids),
    category("syntax", "Syntax Error", syntax_ids),
    category("script", "Script Error", script_ids),
    category("math", "Math Error", math_ids),
    category("access", "Access Error", access_ids),
    {"reserved1", "Reserved1 Error", nullptr, 0},
    {"reserved2", "Reserved2 Error", nullptr, 0},
    category("user", "User Error", user_ids),
    category("internal", "Internal Error", internal_ids),
};
static_assert(std::size(categories) == category_count);

}  // namespace

int id_count(int category) {
    return category >= 0 && category < category_count ? categories[category].count : 0;
}

const char* category_name(int category) { return categories[category].name; }
const char* category_type(int category) { return categories[category].type; }
const char* id_name(int category, int id) { return categories[category].ids[id].name; }
const char* template_text(int category, int id) { return categories[category].ids[id].text; }

int find_category(std::string_view name) {
    for (int i = 0; i < category_count; ++i)
        if (name == categories[i].name) return i;
    return -1;
}

int find_id(int category, std::string_view name) {
    for (int i = 0; i < id_count(category); ++i)
        if (name == categories[category].ids[i].name) return i;
    return -1;
}

}  // namespace zan::error::catalog
