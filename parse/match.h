// Literal rules: matching, searching and counting one rule value against the
// input of a parse, and the copies of matched parts.
//
// The engine (parse/engine.cpp) hands these functions the input as a series
// cell (its node and type; the index is passed separately) and a rule value.
// Nothing here evaluates code; only the copy functions allocate. The hot
// cases run on raw units: a text with one byte per character searched with
// memchr/memmem, runs of a character or a bitset counted in a tight loop.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zuv::parser::match {

// What an input is made of.
enum input_kind : uint8_t { K_BLOCK, K_STRING, K_BINARY };

input_kind kind_of(uint8_t input_type);

// Whether the rule value can be matched, searched and counted here
// directly: a char, text, tag, bitset or binary on texts and binaries (and
// an integer on binaries), any value but a block, paren or word on blocks,
// datatypes and typesets on blocks.
bool literal_q(const cell_t* rule, input_kind k);

// The number of elements the rule matches at index i (i < end, or i == end
// for a rule that can match nothing), -1 when it does not match.
int32_t match_at(const cell_t* input, int32_t i, int32_t end, const cell_t* rule, bool case_);

// The first index from i on (before end) where the rule matches, -1 when
// none; *length the elements it spans there.
int32_t find(const cell_t* input, int32_t i, int32_t end, const cell_t* rule, bool case_,
             int32_t* length);

// Consecutive matches from i on, at most max (-1: no maximum); returns the
// index after the last one and sets *count. A rule matching nothing counts
// once (it makes no progress).
int32_t count(const cell_t* input, int32_t i, int32_t end, const cell_t* rule, bool case_,
              int32_t max, int32_t* count);

// Whether the element at i of a block input has the type the datatype! or
// typeset! names.
bool type_match_q(const cell_t* input, int32_t i, const cell_t* types);

// out (a rooted cell) becomes a copy of elements [from, to) of the input, of
// the input's type.
void copy_part(cell_t* out, const cell_t* input, int32_t from, int32_t to);

// out becomes the element at i as a value: the cell for blocks, a char! for
// texts, an integer! for binaries.
void element(cell_t* out, const cell_t* input, int32_t i);

}  // namespace zuv::parser::match
