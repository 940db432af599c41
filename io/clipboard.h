// The clipboard: text, lists of files and images exchanged between scripts.
//
// The clipboard of record lives in the process: the last value written (a
// copy), so a script reads back what it wrote with or without a desktop.
// When a desktop tool is at hand (clipboard_tools.h), a write also goes to
// the desktop and a read asks the desktop: text as UTF-8 with LF line ends
// (CR LF folded on reading), files as a text/uri-list of file:// URIs of
// their absolute paths, images as PNG (JPEG, GIF and BMP also read). A
// desktop clipboard that nobody owns reads as none, an empty text as "";
// xclip, which cannot give the selection up, empties it by holding nothing
// under a type of our own (tools::EMPTY_TYPE). Failures are results
// (false), never errors; a value it cannot hold is invalid-arg.
#pragma once

#include "runtime/cell.h"

namespace zuv::clipboard {

// Pushes the clipboard's value: a string!, a block of file!, an image!, none
// when it is empty, or false when it cannot be read.
cell_t* read();
// Takes a string!, a block of file!, an image! or none (which empties);
// invalid-arg for any other value, or for a block with a value other than a
// file!. An image of zero pixels empties the clipboard.
bool write(const cell_t* value);

// The library's routines (entries read stack::arguments, leave the result there).
namespace routines {
void read();  // -> string! block! image! none! logic!
void write();  // data (any value; invalid-arg for what it cannot hold) -> logic!
}  // namespace routines

}  // namespace zuv::clipboard
