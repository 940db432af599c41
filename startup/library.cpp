// The library's values made from C++ tables (see library.h).
#include "startup/library.h"

#include <array>
#include <cstring>
#include <string>
#include <utility>

#include "codecs/json.h"
#include "codecs/zuvbin.h"
#include "datatypes/action.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/file.h"
#include "datatypes/float.h"
#include "datatypes/handle.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/routine.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "interpreter/interpreter.h"
#include "interpreter/trace.h"
#include "io/clipboard.h"
#include "io/platform_io.h"
#include "io/simple_io.h"
#include "lexer/lexer.h"
#include "natives/values.h"
#include "runtime/build_info.h"
#include "runtime/collector.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/lowrt.h"
#include "runtime/platform/platform.h"
#include "runtime/stack.h"
#include "view/backends/terminal/event_fields.h"
#include "view/backends/terminal/flags.h"
#include "view/backends/terminal/platform_routines.h"
#include "view/backends/terminal/widget.h"

#include <unistd.h>

namespace zuv::library {
namespace {

// --- helpers -----------------------------------------------------------------------

cell_t global_word(const char* name) {
    return _context::add_global(symbol::make_alt(name, static_cast<int32_t>(std::strlen(name))),
                                false, false);
}

void set_global(const char* name, const cell_t* value) {
    cell_t w = global_word(name);
    _context::set(&w, value);
}

// The word naming a routine or argument in an error report.
cell_t error_word(const char* name) {
    return word::make_global(symbol::make_alt(name, static_cast<int32_t>(std::strlen(name))));
}

[[noreturn]] void fire_expect(const char* routine_name, int32_t expected_type, const cell_t* given,
                              const char* arg) {
    cell_t fn = error_word(routine_name);
    cell_t type;
    datatype::make_at(&type, expected_type ? expected_type : type_of(given));
    cell_t a = error_word(arg);
    fire(err::expect_arg, &fn, &type, &a);
}

inline cell_t* arg(int32_t i) { return stack::arguments + i; }

// --- the actions ---------------------------------------------------------------------

struct action_spec_t {
    int32_t number;
    const char* spec;
};

// Doc strings and argument types of the actions; refinements in the order
// their entries read them. Slots 7-9 have no word and no value.
// clang-format off
const action_spec_t action_specs[] = {
    {ACT_make, R"~("Returns a new value made from a spec for that value's type" type [any-type!] "The datatype, an example or prototype value" spec [any-type!] "The description of the new value" return: [any-type!] "Returns the specified datatype")~"},
    {ACT_random, R"~("Returns a random value of the same datatype; or shuffles series" value "Maximum value of result (modified when series)" /seed "Restart or randomize" /secure "Returns a cryptographically secure random number" /only "Pick a random value from a series" return: [any-type!])~"},
    {ACT_reflect, R"~("Returns internal details about a value via reflection" value [any-type!] field [word!] "spec, body, words, etc. Each datatype defines its own reflectors")~"},
    {ACT_to, R"~("Converts to a specified datatype" type [any-type!] "The datatype or example value" spec [any-type!] "The attributes of the new value")~"},
    {ACT_form, R"~("Returns a user-friendly string representation of a value" value [any-type!] /part "Limit the length of the result" limit [integer!] return: [string!])~"},
    {ACT_mold, R"~("Returns a source format string representation of a value" value [any-type!] /only "Exclude outer brackets if value is a block" /all "Return value in loadable format" /flat "Exclude all indentation" /part "Limit the length of the result" limit [integer!] return: [string!])~"},
    {ACT_absolute, R"~("Returns the non-negative value" value [number! money! char! pair! any-point! time!] return: [number! money! char! pair! any-point! time!])~"},
    {ACT_add, R"~("Returns the sum of the two values" value1 [scalar! vector!] "The augend" value2 [scalar! vector!] "The addend" return: [scalar! vector!] "The sum")~"},
    {ACT_divide, R"~("Returns the quotient of two values" value1 [scalar! vector!] "The dividend (numerator)" value2 [scalar! vector!] "The divisor (denominator)" return: [scalar! vector!] "The quotient")~"},
    {ACT_multiply, R"~("Returns the product of two values" value1 [scalar! vector!] "The multiplicand" value2 [scalar! vector!] "The multiplier" return: [scalar! vector!] "The product")~"},
    {ACT_negate, R"~("Returns the opposite (additive inverse) value" number [number! money! bitset! pair! any-point! time!] return: [number! money! bitset! pair! any-point! time!])~"},
    {ACT_power, R"~("Returns a number raised to a given power (exponent)" number [number!] "Base value" exponent [integer! float!] "The power (index) to raise the base value by" return: [number!])~"},
    {ACT_remainder, R"~("Returns what is left over when one value is divided by another" value1 [number! money! char! pair! tuple! vector! time!] value2 [number! money! char! pair! tuple! vector! time!] return: [number! money! char! pair! tuple! vector! time!])~"},
    {ACT_round, R"~("Returns the nearest integer. Halves round up (away from zero) by default" n [number! money! time! pair! any-point!] /to "Return the nearest multiple of the scale parameter" scale [number! money! time! pair!] "Must be a non-zero value" /even "Halves round toward even results" /down "Round toward zero, ignoring discarded digits. (truncate)" /half-down "Halves round toward zero" /floor "Round in negative direction" /ceiling "Round in positive direction" /half-ceiling "Halves round in positive direction")~"},
    {ACT_subtract, R"~("Returns the difference between two values" value1 [scalar! vector!] "The minuend" value2 [scalar! vector!] "The subtrahend" return: [scalar! vector!] "The difference")~"},
    {ACT_even_q, R"~("Returns true if the number is evenly divisible by 2" number [number! money! char! time!] return: [logic!])~"},
    {ACT_odd_q, R"~("Returns true if the number has a remainder of 1 when divided by 2" number [number! money! char! time!] return: [logic!])~"},
    {ACT_and_t, R"~("Returns the first value ANDed with the second" value1 [logic! integer! char! bitset! binary! typeset! pair! tuple! vector!] value2 [logic! integer! char! bitset! binary! typeset! pair! tuple! vector!] return: [logic! integer! char! bitset! binary! typeset! pair! tuple! vector!])~"},
    {ACT_complement, R"~("Returns the opposite (complementing) value of the input value" value [logic! integer! tuple! bitset! typeset! binary!] return: [logic! integer! tuple! bitset! typeset! binary!])~"},
    {ACT_or_t, R"~("Returns the first value ORed with the second" value1 [logic! integer! char! bitset! binary! typeset! pair! tuple! vector!] value2 [logic! integer! char! bitset! binary! typeset! pair! tuple! vector!] return: [logic! integer! char! bitset! binary! typeset! pair! tuple! vector!])~"},
    {ACT_xor_t, R"~("Returns the first value exclusive ORed with the second" value1 [logic! integer! char! bitset! binary! typeset! pair! tuple! vector!] value2 [logic! integer! char! bitset! binary! typeset! pair! tuple! vector!] return: [logic! integer! char! bitset! binary! typeset! pair! tuple! vector!])~"},
    {ACT_append, R"~("Inserts value(s) at series tail; returns series head" series [series! port! bitset!] value [any-type!] /part "Limit the number of values inserted" length [number! series!] /only "Insert block types as single values (overrides /part)" /dup "Duplicate the inserted values" count [integer!] return: [series! port! bitset!])~"},
    {ACT_at, R"~("Returns a series at a given index" series [series! port!] index [integer! pair!] return: [series! port!])~"},
    {ACT_back, R"~("Returns a series at the previous index" series [series! port!] return: [series! port!])~"},
    {ACT_change, R"~("Changes a value in a series and returns the series after the change" series [series! port!] "Series at point to change" value [any-type!] "The new value" /part "Limits the amount to change to a given length or position" range [number! series!] /only "Changes a series as a series" /dup "Duplicates the change a specified number of times" count [number!])~"},
    {ACT_clear, R"~("Removes series values from current index to tail; returns new tail" series [series! port! bitset! map! none!] return: [series! port! bitset! map! none!])~"},
    {ACT_copy, R"~("Returns a copy of a non-scalar value" value [series! any-object! bitset! map!] /part "Limit the length of the result" length [number! series! pair!] /deep "Copy nested values" /types "Copy only specific types of non-scalar values" kind [datatype! typeset!] return: [series! any-object! bitset! map!])~"},
    {ACT_find, R"~("Returns the series where a value is found, or NONE" series [series! bitset! typeset! port! map! none!] value [any-type!] /part "Limit the length of the search" length [number! series!] /only "Treat a series search value as a single value" /case "Perform a case-sensitive search" /same "Use same? as comparator" /any "TBD: Use * and ? wildcards in string searches" /with "TBD: Use custom wildcards in place of * and ?" wild [string!] /skip "Treat the series as fixed size records" size [integer!] /last "Find the last occurrence of value, from the tail" /reverse "Find the last occurrence of value, from the current index" /tail "Return the tail of the match found, rather than the head" /match "Match at current index only and return tail of match")~"},
    {ACT_head, R"~("Returns a series at its first index" series [series! port!] return: [series! port!])~"},
    {ACT_head_q, R"~("Returns true if a series is at its first index" series [series! port!] return: [logic!])~"},
    {ACT_index_q, R"~("Returns the current index of series relative to the head, or of word in a context" series [series! port! any-word!] return: [integer!])~"},
    {ACT_insert, R"~("Inserts value(s) at series index; returns series past the insertion" series [series! port! bitset!] value [any-type!] /part "Limit the number of values inserted" length [number! series!] /only "Insert block types as single values (overrides /part)" /dup "Duplicate the inserted values" count [integer!] return: [series! port! bitset!])~"},
    {ACT_length_q, R"~("Returns the number of values in the series, from the current index to the tail" series [series! port! bitset! map! tuple! none!] return: [integer! none!])~"},
    {ACT_move, R"~("Moves one or more elements from one series to another position or series" origin [series! port!] target [series! port!] /part "Limit the number of values inserted" length [integer!] return: [series! port!])~"},
    {ACT_next, R"~("Returns a series at the next index" series [series! port!] return: [series! port!])~"},
    {ACT_pick, R"~("Returns the series value at a given index" series [series! port! bitset! pair! tuple! any-point! date! time! money! external!] index [scalar! any-string! any-word! block! logic! time!] return: [any-type!])~"},
    {ACT_poke, R"~("Replaces the series value at a given index, and returns the new value" series [series! port! bitset!] index [scalar! any-string! any-word! block! logic!] value [any-type!] return: [series! port! bitset!])~"},
    {ACT_put, R"~("Replaces the value following a key, and returns the new value" series [series! port! map! object!] key [scalar! any-string! any-word! binary!] value [any-type!] /case "Perform a case-sensitive search" return: [series! port! map! object!])~"},
    {ACT_remove, R"~("Returns the series at the same index after removing a value" series [series! port! bitset! map! none!] /part "Removes a number of values, or values up to the given series index" length [number! char! series!] /key "Removes a key in map" key-arg [scalar! any-string! any-word! binary! block!] return: [series! port! bitset! map! none!])~"},
    {ACT_reverse, R"~("Reverses the order of elements; returns at same position" series [series! port! pair! tuple! any-point!] /part "Limits to a given length or position" length [number! series!] /skip "Treat the series as fixed size records" size [integer!] return: [series! port! pair! tuple! any-point!])~"},
    {ACT_select, R"~("Find a value in a series and return the next value, or NONE" series [series! any-object! map! none!] value [any-type!] /part "Limit the length of the search" length [number! series!] /only "Treat a series search value as a single value" /case "Perform a case-sensitive search" /same "Use same? as comparator" /any "TBD: Use * and ? wildcards in string searches" /with "TBD: Use custom wildcards in place of * and ?" wild [string!] /skip "Treat the series as fixed size records" size [integer!] /last "Find the last occurrence of value, from the tail" /reverse "Find the last occurrence of value, from the current index" return: [any-type!])~"},
    {ACT_sort, R"~("Sorts a series (modified); default sort order is ascending" series [series! port!] /case "Perform a case-sensitive sort" /skip "Treat the series as fixed size records" size [integer!] /compare "Comparator offset, block (TBD) or function" comparator [integer! block! any-function!] /part "Sort only part of a series" length [number! series!] /all "Compare all fields (used with /skip)" /reverse "Reverse sort order" /stable "Stable sorting" return: [series!])~"},
    {ACT_skip, R"~("Returns the series relative to the current index" series [series! port!] offset [integer! pair!] return: [series! port!])~"},
    {ACT_swap, R"~("Swaps elements between two series or the same series" series1 [series! port!] series2 [series! port!] return: [series! port!])~"},
    {ACT_tail, R"~("Returns a series at the index after its last value" series [series! port!] return: [series! port!])~"},
    {ACT_tail_q, R"~("Returns true if a series is past its last value" series [series! port!] return: [logic!])~"},
    {ACT_take, R"~("Removes and returns one or more elements" series [series! port! none!] /part "Specifies a length or end position" length [number! series!] /deep "Copy nested values" /last "Take it from the tail end")~"},
    {ACT_trim, R"~("Removes space from a string or NONE from a block" series [series! port!] /head "Removes only from the head" /tail "Removes only from the tail" /auto "Auto indents lines relative to first line" /lines "Removes all line breaks and extra spaces" /all "Removes all whitespace" /with "Same as /all, but removes characters in 'str'" str [char! string! binary! integer!])~"},
    {ACT_create, R"~("Send port a create request" port [port! file! url! block!])~"},
    {ACT_close, R"~("Closes a port" port [port!])~"},
    {ACT_delete_, R"~("Deletes the specified file or empties the target" file [any-type!])~"},
    {ACT_modify, R"~("Change mode for target aggregate value" target [object! series!] field [word!] value [any-type!] /case "Perform a case-sensitive lookup")~"},
    {ACT_open, R"~("Opens a port; makes a new port from a spec if necessary" port [port! file! url! any-block!] /new "Create new file - if it exists, deletes it" /read "Open for read access" /write "Open for write access" /seek "Optimize for random access" /allow "Specifies right access attributes" access [block!])~"},
    {ACT_open_q, R"~("Returns TRUE if port is open" port [port!])~"},
    {ACT_query, R"~("Returns information about a file" target [port! file! url!])~"},
    {ACT_read, R"~("Reads from a file, URL, or other port" source [file! url! port!] /part "Partial read a given number of units (source relative)" length [number!] /seek "Read from a specific position (source relative)" index [number!] /binary "Preserves contents exactly" /lines "Convert to block of strings" /info /as "Read with the specified encoding, default is 'UTF-8" encoding [word!])~"},
    {ACT_rename, R"~("Rename a file" from [port! file! url!] to [port! file! url!])~"},
    {ACT_update, R"~("Updates external and internal states (normally after read/write)" port [port!])~"},
    {ACT_write, R"~("Writes to a file, URL, or other port" destination [file! url! port!] data [any-type!] /binary "Preserves contents exactly" /lines "Write each value in a block as a separate line" /info /append "Write data at end of file" /part "Partial write a given number of units" length [number!] /seek "Write at a specific position" index [number!] /allow "Specifies protection attributes" access [block!] /as "Write with the specified encoding, default is 'UTF-8" encoding [word!])~"},
};
// clang-format on

#define ZUV_ACTION(num, ident, word) word,
const char* const action_words[ACTION_COUNT] = {
#include "datatypes/actions.def"
};
#undef ZUV_ACTION

// --- the typesets -----------------------------------------------------------------

struct typeset_def_t {
    const char* name;
    const char* members;  // datatype and typeset names, blank-separated
};

// In definition order: each may use the ones above it.
const typeset_def_t typeset_defs[] = {
    {"internal!", "unset! symbol! context!"},
    {"external!", "event!"},
    {"number!", "integer! float! percent!"},
    {"planar!", "pair! point2D!"},
    {"any-point!", "point2D! point3D!"},
    {"scalar!", "number! any-point! money! char! pair! tuple! time! date!"},
    {"any-word!", "word! set-word! get-word! lit-word!"},
    {"all-word!", "any-word! refinement! issue!"},
    {"any-list!", "block! paren! hash!"},
    {"any-path!", "path! set-path! get-path! lit-path!"},
    {"any-block!", "any-path! any-list!"},
    {"any-function!", "native! action! op! function! routine!"},
    {"any-object!", "object! error! port!"},
    {"any-string!", "string! file! url! tag! email! ref!"},
    {"series!", "binary! image! vector! any-block! any-string!"},
    {"immediate!", "scalar! all-word! none! logic! datatype! typeset! handle!"},
    {"default!", "series! immediate! any-object! external! any-function! map! bitset!"},
    {"any-type!", "default! internal!"},
};

#define ZUV_TYPE(id, ident, name, refs) {name, id},
const struct {
    const char* name;
    int32_t id;
} type_names[] = {
#include "datatypes/types.def"
};
#undef ZUV_TYPE

int32_t type_id_of(const std::string& name) {
    for (const auto& t : type_names)
        if (name == t.name) return t.id;
    return 0;
}

const char* type_name_of(int32_t id) {
    for (const auto& t : type_names)
        if (t.id == id) return t.name;
    return "";
}

// --- routines: the type predicates ----------------------------------------------------

// The datatype predicates, in definition order.
constexpr uint8_t predicate_types[] = {
    TYPE_bitset,   TYPE_binary,   TYPE_block,    TYPE_char_,      TYPE_email,    TYPE_file,
    TYPE_float_,   TYPE_get_path, TYPE_get_word, TYPE_hash,       TYPE_integer,  TYPE_issue,
    TYPE_lit_path, TYPE_lit_word, TYPE_logic,    TYPE_map,        TYPE_none,     TYPE_pair,
    TYPE_paren,    TYPE_path,     TYPE_percent,  TYPE_refinement, TYPE_set_path, TYPE_set_word,
    TYPE_string,   TYPE_tag,      TYPE_time,     TYPE_typeset,    TYPE_tuple,    TYPE_unset,
    TYPE_url,      TYPE_word,     TYPE_image,    TYPE_date,       TYPE_money,    TYPE_ref,
    TYPE_point2d,  TYPE_point3d,  TYPE_handle,   TYPE_error,      TYPE_action,   TYPE_native,
    TYPE_datatype, TYPE_function, TYPE_object,   TYPE_op,         TYPE_routine,  TYPE_vector,
    TYPE_event,
};
constexpr int32_t DATATYPE_PREDICATES = sizeof predicate_types;
static_assert(DATATYPE_PREDICATES == 49, "one predicate per datatype of interest");

// The typeset predicates, in definition order.
const char* const predicate_typesets[] = {
    "any-list!",   "any-block!", "any-function!", "any-object!", "any-path!",
    "any-string!", "any-word!",  "series!",       "number!",     "immediate!",
    "scalar!",     "all-word!",  "any-point!",    "planar!",
};
constexpr int32_t TYPESET_PREDICATES = sizeof predicate_typesets / sizeof predicate_typesets[0];
static_assert(TYPESET_PREDICATES == 14, "one predicate per typeset of interest");

// The global words of the typesets, made once: the predicates read the
// word's current value at every call, so rebinding the word changes them.
cell_t typeset_words[TYPESET_PREDICATES];

template <int I> void datatype_predicate() {
    cell_t* a = stack::arguments;
    bool yes = type_of(a) == predicate_types[I];
    logic::make_at(a, yes);
}

template <int I> void typeset_predicate() {
    cell_t* a = stack::arguments;
    const cell_t* set = _context::get(&typeset_words[I]);
    bool yes = type_of(set) == TYPE_typeset && typeset::has_q(set, type_of(a));
    logic::make_at(a, yes);
}

template <int... I> constexpr auto datatype_entries(std::integer_sequence<int, I...>) {
    return std::array<routine::entry_t, sizeof...(I)>{&datatype_predicate<I>...};
}
template <int... I> constexpr auto typeset_entries(std::integer_sequence<int, I...>) {
    return std::array<routine::entry_t, sizeof...(I)>{&typeset_predicate<I>...};
}

// --- routines: the low-level routines ---------------------------------------------------

void quit_return() {
    int status = integer::get(arg(0));
    lowrt::run_exit_hooks();
    _exit(status);
}

void set_quiet() {
    cell_t* w = arg(0);
    uint8_t t = type_of(w);
    if (t != TYPE_word && t != TYPE_set_word && t != TYPE_get_word && t != TYPE_lit_word)
        fire_expect("set-quiet", 0, w, "word");
    cell_t word = *w;
    cell_t value = *arg(1);
    _context::set_in(&word, &value, word.data1, false);
    stack::set_last(&value);
}

// The runtime's float text flags follow system/options/float: word names
// the field, value its new value (any value; its truth counts).
void set_float_flag() {
    const cell_t* w = arg(0);
    if (type_of(w) != TYPE_word) return;
    bool on = logic::truthy(arg(1));
    int32_t id = symbol::resolve(word::symbol_of(w));
    if (id == symbol::resolve(symbol::make("pretty?"))) float_::pretty = on;
    else if (id == symbol::resolve(symbol::make("full?"))) float_::full = on;
}

void set_slot_quiet() {
    cell_t* s = arg(0);
    uint8_t t = type_of(s);
    if (t != TYPE_block && t != TYPE_paren && t != TYPE_path && t != TYPE_lit_path &&
        t != TYPE_set_path && t != TYPE_get_path)
        fire_expect("set-slot-quiet", TYPE_block, s, "series");
    int32_t i = block::head_index(s);
    if (i >= 0 && i < block::abs_length(s)) *block::rs_abs_at(s, i) = *arg(1);
}

void shift_right() {
    integer::make_at(arg(0), shift(integer::get(arg(0)), integer::get(arg(1)), false, false));
}
void shift_left() {
    integer::make_at(arg(0), shift(integer::get(arg(0)), integer::get(arg(1)), true, false));
}
void shift_logical() {
    integer::make_at(arg(0), shift(integer::get(arg(0)), integer::get(arg(1)), false, true));
}

void last_lf_q() { logic::make_at(arg(0), natives::last_lf != 0); }

// The build date and the commit record, as text for the library to load.
void build_info() {
    std::string text = std::string(zuv::build::date_text()) + " " + zuv::build::git_text();
    cell_t* value = string::load(reinterpret_cast<const uint8_t*>(text.data()),
                                 static_cast<int64_t>(text.size()), string::ENCODING_UTF8);
    stack::set_last_keep(value);
}

void get_current_dir() {
    cell_t dir = *file::get_current_dir();
    stack::set_last(&dir);
}

void set_current_dir() {
    std::string path;
    if (!file::to_os_path(arg(0), &path) || !platform::set_current_dir(path.c_str()))
        fire(err::cannot_open, arg(0));
    stack::set_last(&unset_value);
}

// Negative arguments are refused; each component is reduced modulo 256.
void make_tuple(int32_t count) {
    uint8_t bytes[4];
    for (int32_t i = 0; i < count; i++) {
        int32_t v = integer::get(arg(i));
        if (v < 0) fire(err::invalid_arg, arg(i));
        bytes[i] = static_cast<uint8_t>(v & 0xFF);
    }
    cell_t t;
    tuple::make_at(&t, bytes, count);
    stack::set_last(&t);
}
void as_color() { make_tuple(3); }
void as_ipv4() { make_tuple(4); }

void count_chars() {
    cell_t* start = arg(0);
    int32_t from = static_cast<int32_t>(start->data1);
    int32_t to = static_cast<int32_t>(arg(1)->data1);
    series_buffer_t* s = alloc::buffer(start->data2);
    int32_t used = s->used();
    if (to > used) to = used;
    const uint8_t* p = s->head_ptr();
    int32_t n = 0;
    for (int32_t i = from < 0 ? 0 : from; i < to; n++) {
        uint8_t b = p[i];
        i += b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    }
    integer::make_at(arg(0), n);
}

void stack_size_q() {
    integer::make_at(arg(0), static_cast<int32_t>(stack::top_slot - stack::bottom));
}

void pick_stack() {
    int32_t i = integer::get(arg(0));
    int32_t size = static_cast<int32_t>(stack::top_slot - stack::bottom);
    cell_t v = i > 0 && i < size ? stack::bottom[i - 1] : none_value;
    stack::set_last(&v);
}

void frame_index_q() {
    integer::make_at(arg(0), static_cast<int32_t>(stack::arguments - stack::bottom));
}

void collect_calls() {
    cell_t blk = *arg(0);
    exits::collect_calls(&blk);
    stack::set_last(&unset_value);
}

// Library tools ask on behalf of the traced code that called them, which
// runs with tracing while the library itself runs silent.
void tracing_q() { logic::make_at(arg(0), interpreter::tracing_anywhere()); }

// `trace true`/`trace false`: the calling user code's tracing, on only while
// a tracer is installed. Answers whether an earlier `trace false` had paused
// it (the guided tracer then has events missing).
void set_tracing() {
    bool paused = interpreter::caller_tracing_request == 0;
    interpreter::request_caller_tracing(logic::truthy(arg(0)));
    logic::make_at(arg(0), paused);
}

// --- routines: internal (the library's start-up only) ------------------------------------

// system/words: an object over the global context, also kept as the global
// context's own object value.
void words_object() {
    cell_t obj = *object::push_context(_context::global_node, -1);
    *_context::get_self_value(_context::global_node) = obj;
    stack::set_last(&obj);
}

void error_catalog() {
    cell_t c = error::catalog() ? *error::catalog() : none_value;
    stack::set_last(&c);
}

void error_prototype() {
    cell_t p = error::prototype() ? *error::prototype() : none_value;
    stack::set_last(&p);
}

// Whether a frame on the call stack was pushed by the interpreter.
void interpreted_q() {
    bool yes = false;
    for (const call_frame_t* f = stack::cbottom; f < stack::ctop && !yes; f++)
        yes = (f->header & frame::INTERPRETED) != 0;
    logic::make_at(arg(0), yes);
}

void gc_active_q() { logic::make_at(arg(0), collector::active); }
void gc_series_cycles() { integer::make_at(arg(0), static_cast<int32_t>(collector::cycles)); }
void gc_nodes_cycles() { integer::make_at(arg(0), static_cast<int32_t>(collector::evacuations)); }

// The raw command line as the platform layer rebuilds it.
void command_line() {
    cell_t line = *platform::command_line();
    stack::pop(1);
    stack::set_last(&line);
}

void command_args() {
    cell_t args = *platform::command_arguments();
    stack::pop(1);
    stack::set_last(&args);
}

// --- the routine table -------------------------------------------------------------------

struct routine_def_t {
    const char* word;
    const char* spec;
    const char* body;  // kept for reflection only
    routine::entry_t entry;  // nullptr: not built on this platform yet (not-done)
    int32_t return_type;  // a datatype id, -1 for none
};

// clang-format off
const routine_def_t routine_defs[] = {
    {"quit-return", R"~("Stops evaluation and exits the program with a given status" status [integer!] "Process termination value to return")~", "[lowrt/exit-process status]", quit_return, -1},
    {"set-quiet", R"~("Set an object's field to a value without triggering eventual object's events" word value)~", "[_context/set-in word value no-events]", set_quiet, -1},
    {"set-slot-quiet", R"~("Set a value in series without triggering eventual owner's events" series value)~", "[block/poke-quiet series value]", set_slot_quiet, -1},
    {"shift-right", R"~("Shift bits to the right" data [integer!] bits [integer!] return: [integer!])~", "[shift data bits]", shift_right, -1},
    {"shift-left", R"~("Shift bits to the left" data [integer!] bits [integer!] return: [integer!])~", "[shift/left data bits]", shift_left, -1},
    {"shift-logical", R"~("Shift bits to the right (unsigned)" data [integer!] bits [integer!] return: [integer!])~", "[shift/logical data bits]", shift_logical, -1},
    {"last-lf?", R"~("Internal Use Only" return: [logic!])~", "[natives/last-lf?]", last_lf_q, TYPE_logic},
    {"get-current-dir", R"~("Returns the platform's current directory for the process")~", "[platform/get-current-dir]", get_current_dir, -1},
    {"set-current-dir", R"~("Sets the platform's current process directory" path [file!])~", "[platform/set-current-dir path]", set_current_dir, -1},
    {"send-event-os", R"~("Hands an event to the windowing system; false when it was not delivered" evt [event!] queued? [logic!] return: [logic!])~", "[gui/OS-send-event evt queued?]", tui::routines::send_event_os, TYPE_logic},
    {"find-flag?", R"~("Returns true if a face's flags hold the flag" flags [any-type!] flag [any-word!] return: [logic!])~", "[gui/find-flag? flags flag]", tui::routines::find_flag_q, TYPE_logic},
    {"create-dir", R"~("Create the given directory" path [file!])~", "[simple-io/make-dir path]", simple_io::routines::create_dir, -1},
    {"exists?", R"~("Returns TRUE if the file exists" path [file!] return: [logic!])~", "[simple-io/file-exists? path]", simple_io::routines::exists_q, TYPE_logic},
    {"__build-info", R"~("Internal Use Only" return: [string!])~", "[build/info]", build_info, -1},
    {"os-info", R"~("Returns detailed operating system version information")~", "[__get-OS-info]", platform::routines::os_info, -1},
    {"as-color", R"~("Combine R, G and B values into a tuple" r [integer!] g [integer!] b [integer!])~", "[tuple/make-rgba r g b]", as_color, -1},
    {"as-ipv4", R"~("Combine a, b, c and d values into a tuple" a [integer!] b [integer!] c [integer!] d [integer!])~", "[tuple/make-rgba a b c d]", as_ipv4, -1},
    {"as-rgba", R"~("Combine R, G, B and A color components into a tuple" r [integer!] g [integer!] b [integer!] a [integer!])~", "[tuple/make-rgba r g b a]", as_ipv4, -1},
    {"count-chars", R"~("Count UTF-8 encoded characters between two positions in a binary series" start [binary!] pos [binary!] return: [integer!])~", "[unicode/count-chars start pos]", count_chars, TYPE_integer},
    {"stack-size?", R"~(return: [integer!])~", "[stack/top - stack/bottom]", stack_size_q, TYPE_integer},
    {"pick-stack", R"~(idx [integer!])~", "[stack/bottom/:idx]", pick_stack, -1},
    {"frame-index?", R"~(return: [integer!])~", "[stack/arguments - stack/bottom]", frame_index_q, TYPE_integer},
    {"collect-calls", R"~(blk [block!])~", "[stack/collect-calls blk]", collect_calls, -1},
    {"tracing?", R"~(return: [logic!])~", "[interpreter/tracing?]", tracing_q, TYPE_logic},
    {"read-clipboard", R"~("Return the contents of the system clipboard" return: [logic! none! string! block! image!] "false on failure, none if empty, otherwise: string!, block! of files!, or an image!")~", "[clipboard/read]", clipboard::routines::read, -1},
    {"write-clipboard", R"~("Write content to the system clipboard" data "string!, block! of files!, an image! or none!" return: [logic!] "indicates success")~", "[clipboard/write data]", clipboard::routines::write, TYPE_logic},
    {"unescape", R"~("Decodes the JSON escapes of a string in place" str [string!] return: [string!])~", "[json/unescape str]", json::routines::unescape, -1},
    {"write-stdout", R"~("Write data to STDOUT" data [any-type!])~", "[simple-io/write-stdout data]", simple_io::routines::write_stdout, -1},
};

// Routines that only the library's start-up calls; their words are unset
// once it is done.
const routine_def_t internal_defs[] = {
    {"__set-tracing", R"~("Internal Use Only" on [logic!] return: [logic!])~", "[interpreter/tracing?: on]", set_tracing, TYPE_logic},
    {"__words-object", R"~("Returns the object of the global context" return: [object!])~", "[system/make-words-object]", words_object, -1},
    {"__error-catalog", R"~("Returns the error catalog object" return: [object!])~", "[error/catalog]", error_catalog, -1},
    {"__error-prototype", R"~("Returns the prototype object of error values" return: [object!])~", "[error/prototype]", error_prototype, -1},
    {"__interpreted?", R"~("Return TRUE if called from the interpreter" return: [logic!])~", "[stack/interpreted-frame?]", interpreted_q, TYPE_logic},
    {"__gc-active?", R"~(return: [logic!])~", "[collector/active?]", gc_active_q, TYPE_logic},
    {"__gc-series-cycles", R"~(return: [integer!])~", "[collector/cycles]", gc_series_cycles, TYPE_integer},
    {"__gc-nodes-cycles", R"~(return: [integer!])~", "[collector/node-cycles]", gc_nodes_cycles, TYPE_integer},
    {"__command-line", R"~("Returns the raw command line" return: [string!])~", "[platform/command-line]", command_line, -1},
    {"__command-args", R"~("Returns the program's path and its arguments as the process received them" return: [block!])~", "[platform/command-args]", command_args, -1},
    {"__set-float-flag", R"~(word [word!] value)~", "[float/set-flag word value]", set_float_flag, -1},
    {"__image-encode", R"~("Encodes an image to a file format" img [image!] where index [integer!] return: [binary!])~", "[image/encode img where index]", image::routines::encode, -1},
    {"__image-decode", R"~("Decodes binary data or a file into an image" data return: [image!])~", "[image/decode data]", image::routines::decode, -1},
    {"__replace-runs", R"~("Replaces the runs between marks in one pass; FALSE when it cannot" series marks replacement return: [logic!])~", "[series/replace-runs series marks replacement]", series::routines::replace_runs, TYPE_logic},
    {"__tui-focused?", R"~("Whether the face's widget has the keyboard focus" face return: [logic!])~", "[gui/has-focus? face]", tui::routines::focused_q, TYPE_logic},
    {"__tui-drawn?", R"~("Whether the terminal draws faces of the face's type" face [object!] return: [logic!])~", "[gui/drawn? face]", tui::routines::drawn_q, TYPE_logic},
    {"__tui-widget-data", R"~("The per-kind data of the face's widget" face return: [integer!])~", "[gui/widget-data face]", tui::routines::widget_data, TYPE_integer},
    {"__tui-set-face-ui", R"~("Gives the face's widget the text it shows" face ui [string!])~", "[gui/set-widget-ui face ui]", tui::routines::set_face_ui, -1},
    {"__tui-make-view", R"~("Makes the face's widget and returns its handle" face [object!] parent [handle!] return: [handle!])~", "[gui/OS-make-view face parent]", tui::routines::make_view, -1},
    {"__tui-update-view", R"~("Applies the pending changes of a face or a block of faces" face)~", "[gui/OS-update-view face]", tui::routines::update_view, -1},
    {"__tui-destroy-view", R"~("Removes the widgets of a face and its pane" face [object!] empty? [logic!])~", "[gui/OS-destroy-view face empty?]", tui::routines::destroy_view, -1},
    {"__tui-redraw", R"~("Asks for a repaint when the face's window is active" face [object!])~", "[gui/OS-redraw face]", tui::routines::redraw, -1},
    {"__tui-refresh-window", R"~("Asks for a repaint when the window is active" h [handle!])~", "[gui/OS-refresh-window h]", tui::routines::refresh_window, -1},
    {"__tui-show-window", R"~("Brings a window up when nothing above it is active" id [handle!])~", "[gui/OS-show-window id]", tui::routines::show_window, -1},
    {"__tui-screen-size", R"~("The terminal's size in cells" id [integer!] return: [pair!])~", "[gui/get-screen-size id]", tui::routines::get_screen_size, -1},
    {"__tui-size-text", R"~("The columns and lines of a text, or of the face's text" face [object!] value [any-type!])~", "[gui/get-text-size face value]", tui::routines::size_text, -1},
    {"__tui-text-box-metrics", R"~("Where characters of a rich-text face sit" box [object!] arg0 type [integer!])~", "[gui/OS-text-box-metrics box arg0 type]", tui::routines::text_box_metrics, -1},
    {"__tui-init", R"~("Starts the terminal backend with a colour mode: 4 true colour, else 256 colours" mode [integer!])~", "[gui/init mode]", tui::routines::init, -1},
    {"__tui-do-event-loop", R"~("Runs the event loop, or one pass of it" no-wait? [logic!] return: [logic!])~", "[gui/do-events no-wait?]", tui::routines::do_event_loop, TYPE_logic},
    {"__tui-exit-event-loop", R"~("Ends the innermost running event loop")~", "[gui/post-quit-msg]", tui::routines::exit_event_loop, -1},
    {"__tui-on-change-facet", R"~("Brings a face's widget up to date after a facet changed" owner [object!] word [any-word!] value action [word!] new index [integer!] part [integer!])~", "[gui/OS-update-facet owner word value action new index part]", tui::routines::on_change_facet, -1},
    {"__tui-update-font", R"~("Drops a font's platform font" font [object!] flags [integer!])~", "[gui/update-font font flags]", tui::routines::update_font, -1},
    {"__tui-update-para", R"~("Marks a face's paragraph as changed" face [object!] flags [integer!])~", "[gui/update-para face flags]", tui::routines::update_para, -1},
    {"__tui-draw-image", R"~("Runs Draw commands on an image" image [image!] cmds [block!])~", "[gui/OS-do-draw image cmds]", tui::routines::draw_image, -1},
    {"__tui-detach-image", R"~("Cuts an image's link to the face that owns it" img [image!])~", "[gui/detach-image img]", tui::routines::detach_image, -1},
    {"__replace-all", R"~("Replaces every match in one pass; FALSE when it cannot" series pattern replacement size [integer!] case return: [logic!])~", "[series/replace-all series pattern replacement size case]", series::routines::replace_all, TYPE_logic},
    {"__zuvbin-encode*", R"~(data [any-type!] compact? [logic!] return: [binary!])~", "[either compact? [zuvbin/encode-cp data] [zuvbin/encode data]]", zuvbin::encode_star_routine, -1},
    {"__zuvbin-decode", R"~(payload [any-type!])~", "[zuvbin/decode payload]", zuvbin::decode_routine, -1},
};
// clang-format on

void define_routine(const char* name, const char* spec_text, const char* body_text,
                    routine::entry_t entry, int32_t return_type) {
    cell_t* spec = lexer::push_loaded(spec_text);
    cell_t* body = lexer::push_loaded(body_text);
    cell_t* made = body;
    // A body text holds one block; reflection shows that block.
    if (type_of(body) == TYPE_block && block::rs_length_q(body) == 1) {
        cell_t inner = *block::rs_abs_at(body, block::head_index(body));
        if (type_of(&inner) == TYPE_block) *made = inner;
    }
    int32_t code = entry ? routine::add_entry(entry) : 0;
    cell_t r = *routine::push(spec, body, code, return_type, false);
    set_global(name, &r);
    stack::pop(3);
}

}  // namespace

int32_t shift(int32_t data, int32_t bits, bool left, bool logical) {
    if (bits < 0) bits = 0;
    if (left) return bits > 31 ? 0 : static_cast<int32_t>(static_cast<uint32_t>(data) << bits);
    if (logical) return bits > 31 ? 0 : static_cast<int32_t>(static_cast<uint32_t>(data) >> bits);
    if (bits > 31) return data < 0 ? -1 : 0;
    return data >> bits;
}

// The actions as made, by number - 1 (a root block cell).
cell_t* action_values = nullptr;

const cell_t* action_value(int32_t number) {
    if (action_values == nullptr || number < 1 || number > block::abs_length(action_values))
        return nullptr;
    const cell_t* v = block::rs_abs_at(action_values, number - 1);
    return type_of(v) == TYPE_action ? v : nullptr;
}

void define_actions() {
    action_values = block::make_in(&block::root, action::COUNT);
    for (int32_t i = 0; i < action::COUNT; i++) block::rs_append(action_values, &unset_value);
    for (const action_spec_t& a : action_specs) {
        // [spec number] on the stack, as make action! takes it.
        stack::mark_native(nullptr);
        stack::push_slot()->header = TYPE_unset;
        cell_t* made = stack::push_slot();
        made->header = TYPE_unset;  // the collector may scan it during the allocation below
        block::make_at(made, 2);
        cell_t* spec = lexer::push_loaded(a.spec);
        block::rs_append(made, spec);
        cell_t n;
        integer::make_at(&n, a.number);
        block::rs_append(made, &n);
        cell_t proto;
        datatype::make_at(&proto, TYPE_action);
        cell_t value = *action::make(&proto, made, TYPE_action);
        stack::unwind();
        stack::pop(1);
        *block::rs_abs_at(action_values, a.number - 1) = value;
        set_global(action_words[a.number - 1], &value);
    }
}

void define_literals() {
    for (const typeset_def_t& d : typeset_defs) {
        cell_t t{TYPE_typeset, 0, 0, 0};
        const char* p = d.members;
        while (*p) {
            while (*p == ' ') p++;
            const char* end = p;
            while (*end && *end != ' ') end++;
            if (end == p) break;
            std::string name(p, static_cast<size_t>(end - p));
            // A typeset defined above wins over a datatype of the same name
            // (series! is both).
            bool is_typeset = false;
            for (const typeset_def_t* e = typeset_defs; e != &d; e++)
                is_typeset = is_typeset || name == e->name;
            int32_t id = is_typeset ? 0 : type_id_of(name);
            if (id != 0) {
                typeset::set_bit(&t, id);
            } else {
                cell_t w = global_word(name.c_str());
                cell_t member = *_context::get(&w);
                if (type_of(&member) != TYPE_typeset) fire(err::invalid_type_spec, &w);
                typeset::add(&t, &member);
            }
            p = end;
        }
        set_global(d.name, &t);
    }
    cell_t null_handle{};
    handle::make_at(&null_handle, 0, 0);
    set_global("null-handle", &null_handle);
}

void define_routines() {
    for (const routine_def_t& r : routine_defs)
        define_routine(r.word, r.spec, r.body, r.entry, r.return_type);
    for (const routine_def_t& r : internal_defs)
        define_routine(r.word, r.spec, r.body, r.entry, r.return_type);

    static constexpr auto datatype_table =
        datatype_entries(std::make_integer_sequence<int, DATATYPE_PREDICATES>{});
    static constexpr auto typeset_table =
        typeset_entries(std::make_integer_sequence<int, TYPESET_PREDICATES>{});
    for (int32_t i = 0; i < DATATYPE_PREDICATES; i++) {
        // From the list, not the registry: event! registers after the routines are made.
        const std::string type_name = type_name_of(predicate_types[i]);
        std::string name = type_name;
        name.back() = '?';
        std::string body = "[" + type_name + " = type? :value]";
        define_routine(
            name.c_str(),
            R"~("Returns true if the value is this type" value [any-type!] return: [logic!])~",
            body.c_str(), datatype_table[static_cast<size_t>(i)], TYPE_logic);
    }
    for (int32_t i = 0; i < TYPESET_PREDICATES; i++) {
        std::string set = predicate_typesets[i];
        typeset_words[i] = global_word(set.c_str());
        std::string name = set;
        name.back() = '?';
        std::string spec = "\"Returns true if the value is any type of " +
                           set.substr(0, set.size() - 1) + "\" value [any-type!] return: [logic!]";
        std::string body = "[to logic! find " + set + " type? :value]";
        define_routine(name.c_str(), spec.c_str(), body.c_str(),
                       typeset_table[static_cast<size_t>(i)], TYPE_logic);
    }
}

void drop_internal_routines() {
    for (const routine_def_t& r : internal_defs) set_global(r.word, &unset_value);
}

}  // namespace zuv::library
