// Hands the codecs to the natives that front them: checksum, compress and
// decompress.
#pragma once

namespace zan::codecs {

// Sets the checksum and compression fields of the text natives' services,
// keeping every other field as it is.
void install();

}  // namespace zan::codecs
