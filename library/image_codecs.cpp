// The image codecs' routines: encode and decode of system/codecs/png, jpeg,
// bmp, gif and tiff. They differ only in the format number; any of them
// decodes every format, which is told by the first bytes; a url is read first.
#include "datatypes/image_backend.h"
#include "evaluator/routines.h"
#include "library/library.h"
#include "runtime/collector.h"
#include "runtime/errors.h"

namespace zan::library {

namespace {

template <int format>
void encode(Cell* args) {
    if (!is(args[0], Type::image)) errors::fire(errors::id::invalid_arg, &args[0]);
    args[0] = image::encode(args[0], format);
}

void decode(Cell* args) {
    Cell source = args[0];
    collector::Root keep(source);
    if (is(source, Type::url)) source = eval_text("read/binary", &source);
    if (!is(source, Type::binary) && !is(source, Type::file)) errors::fire(errors::id::invalid_arg, &source);
    args[0] = image::decode(source);
}

}  // namespace

void register_image_codec_routines() {
    routines::add("image-encode-bmp", encode<image::bmp>);
    routines::add("image-encode-png", encode<image::png>);
    routines::add("image-encode-gif", encode<image::gif>);
    routines::add("image-encode-jpeg", encode<image::jpeg>);
    routines::add("image-encode-tiff", encode<image::tiff>);
    routines::add("image-decode", decode);
}

}  // namespace zan::library
