// Processes: the body of the call native. A command runs directly when it is
// a file! or a plain list of words, through /bin/sh -c otherwise; its standard
// streams can be fed from and collected into values or files.
#pragma once

#include <string>
#include <vector>

#include "runtime/cell.h"

namespace zan::platform::process {

// Whether a command needs the shell: it holds one of | & ; < > ( ) { } [ ] $
// \ " ' * ? ~ # ` or a line break.
bool needs_shell(std::string_view command);
// The words of a plain command, split at blanks and tabs.
std::vector<std::string> split_words(std::string_view command);

// call: the exit status when waiting (128 + the signal when killed), else the
// process id; -1 when a file, a pipe or the process cannot be made.
int32_t run(const Cell& command, bool wait, bool show, bool console, bool shell, const Cell* in,
            const Cell* out, const Cell* err);

void install();

}  // namespace zan::platform::process
