// file!: a string naming a file or folder in the language's own path syntax.
//
// Local file names are POSIX paths: the language's path is the operating
// system's path, "/" separates folders, and there are no drive letters and
// no backslashes. The conversions below are therefore identities apart from
// making a relative path absolute when asked.
#pragma once

#include <cstdint>
#include <string>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv::file {

// Whether the ASCII character is in the safe set of percent encoding (mold
// keeps a file! bare only with these, and not all of them).
bool safe_q(uint32_t c);

// Appends the operating system's form of the path to target (a string);
// full: a relative path is prefixed with the current folder.
void to_local_path(const cell_t* file, cell_t* target, bool full);
// The operating system's bytes for the path (unicode::to_os_text), relative
// paths kept; false when no path can hold the name (a NUL, a surrogate that
// stands for no byte): any other path would name another file.
bool to_os_path(const cell_t* file, std::string* out);
// Pushes the process's current folder as a string ending with "/".
cell_t* get_current_dir();

// The file services the actions run. The I/O layer (io/simple_io.h), which
// sits above the datatypes, installs them at start-up.
struct services_t {
    bool (*delete_)(const cell_t* file);
    bool (*rename)(const cell_t* from, const cell_t* to);
    cell_t* (*query)(const cell_t* file);
    cell_t* (*read)(const cell_t* file, const cell_t* part, const cell_t* seek, bool binary,
                    bool lines);
    int64_t (*write)(const cell_t* file, const cell_t* data, const cell_t* part, const cell_t* seek,
                     bool binary, bool append, bool lines);
};
extern services_t services;

// --- action entries ------------------------------------------------------------
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
cell_t* delete_(cell_t* file);
cell_t* query(cell_t* file);
cell_t* read(cell_t* source, cell_t* part, cell_t* seek, bool binary, bool lines, bool info,
             cell_t* as);
cell_t* rename(cell_t* from, cell_t* to);
cell_t* write(cell_t* destination, cell_t* data, bool binary, bool lines, bool info, bool append_,
              cell_t* part, cell_t* seek, cell_t* allow, cell_t* as);

// Registers file! (id 8, parent url!).
void init();

}  // namespace zuv::file
