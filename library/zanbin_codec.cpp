// The Zanbin codec's routines: encode* and decode of system/codecs/zanbin.
#include <cstring>
#include <vector>

#include "codecs/zanbin.h"
#include "datatypes/binary.h"
#include "evaluator/routines.h"
#include "library/library.h"
#include "runtime/collector.h"
#include "runtime/errors.h"

namespace zan::library {

namespace {

// zanbin-encode data compact?: a binary! of compact or fixed records.
void encode(Cell* args) {
    bool compact = is(args[1], Type::logic) && logic_of(args[1]);
    args[0] = zanbin::encode_binary(args[0], compact);
}

// zanbin-decode payload: one root gives the value, none or several a block.
void decode(Cell* args) {
    Cell payload = args[0];
    collector::Root keep(payload);
    Cell bin = payload;
    collector::Root keep_bin(bin);
    if (is(bin, Type::file) || is(bin, Type::url)) bin = eval_text("read/binary", &bin);
    if (!is(bin, Type::binary)) errors::fire(errors::id::invalid_data, &payload);
    uint32_t n = binary::rs_length_q(bin);
    std::vector<uint8_t> bytes(n);
    if (n) std::memcpy(bytes.data(), binary::rs_head(bin), n);
    args[0] = zanbin::decode_value(bytes.data(), bytes.size(), payload);
}

}  // namespace

void register_codec_routines() {
    routines::add("zanbin-encode", encode);
    routines::add("zanbin-decode", decode);
}

}  // namespace zan::library
