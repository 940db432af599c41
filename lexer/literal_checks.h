// Checks of literal text that need no datatype: they validate a token and
// consume the delimiter that closes it, so token boundaries are right before
// the value loaders exist. A loader that builds the value takes over each
// one's handler slot and keeps its checks.
#pragma once

#include "lexer/lexer.h"

namespace zuv::lexer {

// Validates string text in [from, to): caret escapes when the flags say
// there are any, and UTF-8 when they say it is not ASCII. A fault is a
// syntax error of `kind` whose near text starts at token_start.
void check_string_text(state_t& s, int32_t token_start, int32_t from, int32_t to, uint32_t flags,
                       int32_t kind);

void check_char(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load);
// The point token begins after the "(" that its paren scanner consumed.
void check_point(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load);
// 2 to 8 hexadecimal digits, then "h".
void check_hex(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load);
void check_raw_string(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load);

}  // namespace zuv::lexer
