// The value loaders and the value-building steps that scanners share with
// them. Every function that builds a value appends it to the value buffer
// and copies what it reads from the input first, so that the allocation that
// builds the value can move a binary! input without harm.
#pragma once

#include <cstdint>
#include <vector>

#include "lexer/lexer.h"

namespace zuv::lexer {

// Decodes [from, to) of the input into code points: caret escapes when
// escapes is set, UTF-8 always. Returns false at a malformed sequence or
// escape.
bool decode_text(const uint8_t* p, const uint8_t* end, bool escapes, std::vector<uint32_t>& out);
// The character unit of a string built from text with these flags: the
// widest UTF-8 sequence, raised by "^(...)" escapes of more than 2 or 4 hex
// digits.
uint32_t string_unit(const uint8_t* p, const uint8_t* end, uint32_t flags);

// Appends a string-kind value (string!, file!, url!, tag!, email!, ref!) of
// the given code points and unit.
void append_text_value(state_t& s, const std::vector<uint32_t>& codes, uint32_t unit, uint8_t type);
// Checks [from, to) as string text (a fault is an error of kind at
// token_start) and, with load, appends it as a string!.
void load_string_text(state_t& s, int32_t token_start, int32_t from, int32_t to, uint32_t flags,
                      int32_t kind, int32_t load);
// Appends a word of the kind named by [from, to), bound to the global
// context (an issue! is never bound to a slot).
void append_word(state_t& s, int32_t from, int32_t to, uint8_t type);
// Appends the value of a construction (#(true), #(none), #(integer!) ...).
void append_construct(state_t& s, int32_t kind, bool value);
// Turns the marker at index m into the finished container of kind result:
// the values after it become its series. Raises a syntax error when a point
// or a map cannot be built from them.
void finish_container(state_t& s, int32_t m, int32_t result, int32_t start, int32_t end);

// Raises the syntax error that e describes (kind as for throw_error).
[[noreturn]] void raise_syntax_error(const syntax_error_t& e, int32_t kind);
// Calls the scan's callback function for one event; answers whether to go on.
bool call_callback(state_t& s, event_t event, int32_t kind, const cell_t* value, int32_t start,
                   int32_t end);

// The loaders of the handler table.
void load_string(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load);
void load_word(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load);
void load_issue(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load);
void load_integer(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load);
void load_refinement(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load);
void load_char(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load);
void load_file(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load);
void load_binary(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load);
void load_percent(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load);
void load_float(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load);
void load_float_special(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load);
void load_tuple(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load);
void load_date(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load);
void load_pair(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load);
void load_point(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load);
void load_time(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load);
void load_money(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load);
void load_tag(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load);
void load_url(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load);
void load_email(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load);
void load_hex(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load);
void load_raw_string(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load);
void load_ref(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load);

// Date text to its cell fields; false when the text is not a valid date.
struct date_fields_t {
    int32_t year = 0, month = 0, day = 0;
    bool has_time = false;
    double seconds = 0;  // local time of day
    bool has_zone = false;
    int32_t zone_minutes = 0;  // signed offset east of UTC
};
bool parse_date(const uint8_t* p, int32_t length, date_fields_t* out);
// The packed date word and stored time of a date! cell.
void build_date(cell_t* cell, const date_fields_t& d);

}  // namespace zuv::lexer
