// file!: a string value naming a file, molded with a leading % and quoted
// when it holds characters a bare file cannot.
//
// On Linux the local form of a file is its POSIX path itself. Reading,
// writing, querying, renaming and deleting go through the file services,
// installed through set_services by the platform layer; until then they
// raise access cannot-open with the file.
#pragma once

#include <cstdint>
#include <string>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zan::file {

using actions::Args;

// Appends the local form of the path to the target string; with full, a
// relative path gets the current directory in front.
void to_local_path(const Cell& file, Node target, bool full);
// The local form as UTF-8, as the operating system takes it.
std::string to_os_path(const Cell& file);
// The process's current directory, ending in "/".
Cell os_current_dir();

struct Services {
    Cell (*read)(const Cell& file, const Cell& part, const Cell& seek, bool binary,
                 bool lines) = nullptr;
    void (*write)(const Cell& file, const Cell& data, const Cell& part, const Cell& seek,
                  bool binary, bool append, bool lines) = nullptr;
    bool (*delete_)(const Cell& file) = nullptr;
    bool (*rename)(const Cell& from, const Cell& to) = nullptr;
    Cell (*query)(const Cell& file) = nullptr;
};
void set_services(const Services& s);

// --- actions ------------------------------------------------------------------------

int32_t mold(const Cell& value, Node buffer, actions::MoldFlags flags, bool part, int32_t budget,
             int32_t indent);
void delete_(Args args);
void query(Args args);
void read(Args args, const actions::ReadRefs& r);
void rename(Args args);
void write(Args args, const actions::WriteRefs& r);

// Registers file! (parent url!).
void init();

}  // namespace zan::file
