// Files and directories: the file! actions read, write, delete, rename and
// query, and the routines create-dir, exists?, get-current-dir,
// set-current-dir and write-stdout.
#pragma once

#include <string>

#include "runtime/cell.h"

namespace zan::platform::files {

// Whether a file! names a directory by its spelling: it ends in a slash (or
// backslash), or it is ".", "..", or ends in "/." or "/..".
bool dir_path_q(const Cell& file);

// The file's contents as a string! (text), binary! or block! of lines; a
// directory spelling lists the directory. Raises access cannot-open.
Cell read(const Cell& file, const Cell& part, const Cell& seek, bool binary, bool lines);
// Writes data into the file; dest null writes to standard output.
void write(const Cell* dest, const Cell& data, const Cell& part, const Cell& seek, bool binary,
           bool append, bool lines);
// The directory's entries, sorted, directories with a trailing "/".
Cell read_dir(const Cell& dir);

// Installs the file! services and registers the routines.
void install();

}  // namespace zan::platform::files
