// The system clipboard: text, file lists and (once image! exists) images,
// through GTK's CLIPBOARD selection. Without a display both directions answer
// false, as for a clipboard that cannot be opened.
#pragma once

#include "runtime/cell.h"

namespace zan::platform::clipboard {

// A string!, a block! of file!, none when the clipboard holds nothing usable,
// or false when there is no clipboard.
Cell read();
// Puts a string!, a block! of file! (or string!) or none (empties it);
// another value raises invalid-arg. Answers whether it was set.
bool write(const Cell& value);

void install();

}  // namespace zan::platform::clipboard
