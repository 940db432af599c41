// The C++ half of the JSON codec: decoding the escapes of a JSON string.
// The grammar, the tree building and the encoder are library code in Zuv
// (boot/35-json.zuv).
#pragma once

#include "runtime/cell.h"

namespace zuv::json {

// Decodes the JSON escapes of a string in place, from its head: the text
// only shrinks, so every result character is written over what was read.
// A character wider than the buffer's unit widens the buffer first. Raises
// script invalid-data with the string for a bad or cut escape. An escaped
// high surrogate followed by an escaped low one gives one character; a
// surrogate escaped alone gives that surrogate (to-json writes one so).
void unescape(cell_t* str);

namespace routines {
void unescape();  // str [string!] -> the same string
}  // namespace routines

}  // namespace zuv::json
