// The lexer: UTF-8 text to values.
//
// The state machine of lexer/tables.h finds token boundaries one byte at a
// time; the token loop (lexer::scan_tokens) runs it and hands each finished
// token to the handler pair of its final state: a scanner for structure
// (containers, paths, brace strings, points, comments) and quick checks, and
// a loader that validates a literal (load flag 0) or builds its value and
// appends it to the shared value buffer (load flag 1).
//
// One scan's working state is a state_t record on the caller's C++ stack;
// records of nested scans (a callback that scans again) are chained, and a
// nested scan's values start above the outer scan's in the value buffer.
//
// The rule the rest depends on: nothing here keeps the address of the input
// or of the value buffer across a handler call. Positions are byte offsets
// from the input start and value-buffer places are cell indexes, because a
// handler may allocate (moving a binary! input's buffer) or grow the value
// buffer (moving every cell in it).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lexer/tables.h"
#include "runtime/cell.h"

namespace zuv::lexer {

// Kinds passed to throw_error besides datatype ids.
constexpr int32_t ERR_BAD_CHAR = -1;
constexpr int32_t ERR_BAD_CONSTRUCT = -2;
constexpr int32_t ERR_MISSING = -3;
constexpr int32_t ERR_MISSING_AT_END = -4;
constexpr int32_t NO_START = -1;  // throw_error: start at the innermost opening

// Callback events and their bits in the event mask.
enum event_t : uint32_t {
    EV_PRESCAN = 1,
    EV_SCAN = 2,
    EV_LOAD = 4,
    EV_OPEN = 8,
    EV_CLOSE = 16,
    EV_ERROR = 32,
    EV_ALL = 63,
};

struct state_t;
struct resume_t;

// One token as the machine and its scanners found it.
struct token_t {
    int32_t final_state;  // 66..101
    int32_t kind;  // datatype id after the scanners' refinement; 34 for an error
    int32_t start;
    int32_t end;
    uint32_t flags;
    int32_t line;
};

// A Zuv callback is called through the interpreter's call-back, which the
// interpreter installs here (the lexer sits below it): callee, frame word,
// the arguments (their final values come back in them), count, and the
// result; false when an exit is pending.
using call_back_fn = bool (*)(const cell_t* callee, const cell_t* frame_word, cell_t* args,
                              int32_t count, cell_t* result);
extern call_back_fn call_back_hook;

// A callback written in C++ (the console's checks and the tests use one; a
// Zuv function given to transcode/trace is called through the same slot).
// Answers true to go on. May move s.position to redirect scanning.
using event_fn = bool (*)(state_t& s, event_t event, int32_t kind, const cell_t* value,
                          int32_t start, int32_t end, void* data);

// What a syntax error found; load mode turns it into the error value.
struct syntax_error_t {
    int32_t kind = 0;  // datatype id, or one of the ERR_ kinds
    int32_t start = 0;  // byte offset the near text starts at
    int32_t line = 0;
    char expected = 0;  // for a missing delimiter: "]", "[", ")", "(" or 0
    std::string near;  // at most 30 characters, never past a line end
    std::string line_text;  // "(line N)"
};

struct state_t {
    state_t* next = nullptr;
    state_t* parent = nullptr;
    // Value buffer, as cell indexes.
    int32_t buffer_head = 0;
    int32_t level_head = 0;
    int32_t tail = 0;
    // The input: bytes outside series memory (fixed), or a series buffer at
    // a byte offset; read through bytes() after anything that may allocate.
    const uint8_t* fixed = nullptr;
    node_t node = 0;
    int32_t node_offset = 0;
    int32_t input_end = 0;  // byte count
    int32_t position = 0;
    int32_t token_start = 0;  // of the last token as reported (a whole brace string at its close)
    int32_t token_end = 0;
    int32_t line = 1;
    int32_t token_lines = 0;
    int32_t error_kind = -1;
    int32_t kind = 0;
    int32_t start_state = S_START;
    int32_t previous_state = 0;
    int32_t nesting_kind = 0;
    int32_t previous_kind = 0;
    int32_t brace_start = 0;
    int32_t brace_depth = 0;
    uint32_t brace_flags = 0;
    // The callback: a C++ hook, or (later) the Zuv function in callback.
    event_fn hook = nullptr;
    void* hook_data = nullptr;
    cell_t callback{};
    uint32_t event_mask = 0;
    cell_t input_value{};
    int32_t load = 0;
    syntax_error_t error;  // the last syntax error seen
    std::vector<token_t>* log = nullptr;  // when set, every finished token is listed
    // The last byte offset turned into a character offset, and its answer:
    // the callback's events come in order, so each count goes on from there.
    int32_t counted_bytes = 0;
    int32_t counted_chars = 0;
    // Characters of the input before the scan's start: added to the token
    // offsets the callback gets, so that a scan taking up where another
    // stopped reports offsets as a scan from the head would.
    int32_t char_base = 0;
    // Where the current turn of the token loop began and its line, when it
    // began in the start state (-1 otherwise); the same for the turn that
    // opened the brace string now open.
    int32_t turn_begin = -1;
    int32_t turn_line = 0;
    int32_t brace_turn_begin = -1;
    int32_t brace_turn_line = 0;
    // When set, a syntax error notes here where a scan of the same text with
    // more appended can take up (see resume_t).
    resume_t* resume = nullptr;
    // The containers to open, outermost first, before a scan taking up;
    // their markers are the first `seeded` cells of the scan's values.
    const std::vector<int32_t>* seed = nullptr;
    int32_t seeded = 0;
    // A callback that leaves by an exit makes its event answer false
    // instead of unwinding the token loop (set once the loop has ended).
    bool exits_return = false;

    const uint8_t* bytes() const;
    // A C++ hook, or a callback function (the cell stays empty otherwise).
    bool has_callback() const {
        return hook != nullptr || (callback.header & HEADER_TYPE_MASK) != 0;
    }
};

// Raised when a scan that took up meets what depends on the values before
// its place (a comma that makes a paren opened there a point): the text
// must be scanned from the head.
struct lexer_restart {};

// Raised to end the token loop without an error (a syntax error in a
// scan-only mode, a callback that drops an error). With resume set the loop
// goes on with the next token from s.position.
struct lexer_stop {
    bool resume;
};

using handler_fn = void (*)(state_t& s, int32_t start, int32_t end, uint32_t flags, int32_t load);

struct handler_pair {
    handler_fn scanner;
    handler_fn loader;
};

// The 36 handler pairs, indexed by final state - 66.
extern handler_pair handlers[FINAL_COUNT];

// ---- The value buffer (lexer/value_buffer.cpp) -------------------------
// Open-container markers are cells of type triple! in the buffer: data1 the
// number of values of the enclosing level before it, data2 the container's
// datatype id (low 16 bits) and its comma count (high 16), data3 the offset
// of the opening character.
constexpr uint8_t MARKER_TYPE = TYPE_triple;

cell_t* value_at(int32_t index);
// Appends an unset cell (with the new-line flag when the token began a new
// line) and returns its index.
int32_t push_value(state_t& s);
bool is_marker(int32_t index);
// Index of the innermost open marker of this scan, or -1.
int32_t innermost_marker(const state_t& s);
inline int32_t marker_kind(const cell_t* m) { return static_cast<int32_t>(m->data2 & 0xFFFFu); }
inline int32_t marker_commas(const cell_t* m) { return static_cast<int32_t>(m->data2 >> 16); }
// Links a record at the end of the chain of live scans and unlinks it.
void link_state(state_t& s);
void unlink_state(state_t& s);
state_t* last_state();

// ---- The token loop (lexer/scan_tokens.cpp) ----------------------------
void scan_tokens(state_t& s, bool one_value, bool prescan);

// ---- Containers, events and errors -------------------------------------
void open_container(state_t& s, int32_t kind, int32_t start, int32_t end);
// The marker of a container opening at start, without an event.
void push_marker(state_t& s, int32_t kind, int32_t start);
void close_container(state_t& s, int32_t start, int32_t end, int32_t kind, bool silent);
void close_all(state_t& s);
// The path-close step after a path element (start state 59).
void close_path_element(state_t& s);
bool fire_event(state_t& s, event_t event, int32_t kind, const cell_t* value, int32_t start,
                int32_t end);
[[noreturn]] void throw_error(state_t& s, int32_t start, int32_t end, int32_t kind);
// What throw_error does but for ending the token loop: raises the error,
// or answers whether the loop may go on (a callback that drops the error)
// or not (a scan-only mode, a callback that leaves by an exit: the latter
// returns here only with s.exits_return set).
bool report_error(state_t& s, int32_t start, int32_t end, int32_t kind);
// "(line N)" and the near text: at most 30 characters from start, never past
// a line end or the input end.
std::string line_text(int32_t line);
std::string near_text(const uint8_t* input, int32_t input_end, int32_t start);
// The text with its control characters (below 32, 127-159) written as mold
// writes them in a string ("^@", "^-", "^(80)").
std::string escape_controls(const std::string& text);

// Characters of the input before byte offset at (bytes for a binary!).
int32_t offset_in_input(state_t& s, int32_t at);

// ---- Text helpers shared by scanners and loaders -----------------------
// Decodes one UTF-8 character at p (p < end): returns the position after it
// and sets *cp, or returns nullptr for a malformed, overlong or surrogate
// sequence.
const uint8_t* decode_utf8(const uint8_t* p, const uint8_t* end, int32_t* cp);
// The code points that separate tokens besides the ASCII blanks.
bool is_blank_code_point(int32_t cp);
// Decodes the caret escape whose "^" is at p: returns the position after it
// and sets *cp, or nullptr when the escape is malformed.
const uint8_t* decode_escape(const uint8_t* p, const uint8_t* end, int32_t* cp);

// ---- Taking up a traced scan where an earlier one stopped -------------
// The console checks the text it gathers after every line; scanning it all
// again each time costs the square of its length. A traced scan of a text
// that ends in a line feed, ending with a syntax error (a container, brace
// string, tag or binary left open) while only blocks and parens are open,
// notes where the turn of the token loop that met it began (for a brace
// string, the turn that opened it), when that turn began in the start
// state: the place, its line and the open containers' kinds. A scan of the
// same text with more appended can start there with those containers open:
// every scanner looks no further than a line feed, so the tokens before the
// place end as they would with more text after. A map, point or path checks
// the values it holds when it closes, and those are not kept, so none of
// them may be open there.
struct resume_t {
    int32_t from = -1;  // characters of the input before the place; -1: none
    int32_t line = 1;
    std::vector<int32_t> kinds;  // outermost first
};

// Scans the string as transcode/trace does (load mode; the values are
// dropped, and out gets them as transcode would). When resume.from is set
// (by a scan of the same string, to which text has only been appended
// since) the scan starts there; afterwards resume says where a scan of the
// string with more appended can start (from -1: at the head). Answers
// false, having stopped early, when the text after the place depends on
// values before it (a point begun there): the caller undoes what the
// callback did and scans again from the head. What the callback is given
// matches a scan from the head, but for errors at a container opened
// before the place (their start is the place) and the values it sees
// loaded (the ones before the place are missing).
bool trace_resumable(cell_t* out, const cell_t* string, const cell_t* callback, resume_t& resume);

// ---- Token listing (lexer/tokens.cpp) ----------------------------------
struct token_list_t {
    std::vector<token_t> tokens;
    int32_t kind = 0;  // kind of the last token; error! when the text has a syntax error
    syntax_error_t error;  // meaningful when kind is error!
};

// Scans the whole text without building values: structure (containers,
// paths, brace strings, points) is followed and checked, literals are
// delimited. A syntax error ends the list with an error token.
token_list_t tokens(const uint8_t* text, int32_t length);

// ---- The driver (lexer/scan.cpp) ---------------------------------------
// How a scan runs; `{}` loads every value into a new block.
struct scan_mode_t {
    // Stop after the first complete value.
    bool one_value = false;
    // Build values and raise syntax errors; else only check (scan-only).
    bool load = true;
    // With load, write the result: in one-value mode without wrap the first
    // value (or none when there is none) to out or appended to into;
    // otherwise a new block of all values to out, or all values appended to
    // into. Scan-only modes set out to none.
    bool store = true;
    // In one-value mode, still write a block (of the one value).
    bool wrap = false;
};

// Scans length bytes of UTF-8 text. Returns the kind of the last token: a
// datatype id, 0 when none, error! when a scan-only mode met a syntax error.
// - consumed (may be nullptr): the position reached, in bytes, or in
//   characters when input_value is a string!.
// - callback: a function! or routine! called for the events (nullptr: none).
// - input_value: the series scanned, handed to the callback; a binary! is
//   read through its node (text is ignored then), never through an address
//   that an allocation could move.
// out and into must stay valid across allocations (argument-stack slots, or
// rooted cells).
int32_t scan(cell_t* out, const uint8_t* text, int32_t length, scan_mode_t mode, int32_t* consumed,
             const cell_t* callback, const cell_t* input_value, cell_t* into);
// The same with a C++ hook for the events of event_mask instead of a
// callback value (the console's checks, tests, tools).
int32_t scan_hooked(cell_t* out, const uint8_t* text, int32_t length, scan_mode_t mode,
                    int32_t* consumed, event_fn hook, void* hook_data, uint32_t event_mask,
                    const cell_t* input_value, cell_t* into);
// Scans count characters (-1: all) of any-string from its head, encoded to
// UTF-8 in the scratch first; consumed counts characters.
int32_t scan_string(cell_t* out, const cell_t* string, int32_t count, scan_mode_t mode,
                    int32_t* consumed, const cell_t* callback, cell_t* into);
// Loads one value from the whole string into out; false (out none) when the
// string holds no value or more than one. Syntax errors are raised.
bool scan_one_value_last(cell_t* out, const cell_t* string);
// Loads a NUL-terminated UTF-8 text (the runtime's own: a routine's spec or
// body) into a new block left pushed on the argument stack.
cell_t* push_loaded(const char* text);

// Step "lexer": the value buffer, the scratch, the event words.
void init();
// Collector hook: marks, for each live scan, its values, its input series
// and its callback and input cells.
void mark_states();
// For the collector: calls cells(first, count) on every live scan's values
// and kept cells, and node(n) on every input series node.
void walk_states(void (*cells)(cell_t* first, int32_t count), void (*node)(node_t n));

// Whether a datatype's module has registered it, so that its literals load;
// a literal of a type that has not landed is an invalid-literal error.
bool landed_q(int32_t type);

// ---- Literal scanners for conversions (lexer/scan_number.cpp) ----------
// Text is (head, character count, unit size 1, 2 or 4).
// 0 ok; -1 a character that is neither a digit nor "'"; -2 overflow.
int32_t scan_integer(const void* text, int32_t count, int32_t unit, int32_t* error);
// A quiet NaN and error -1 when the text is not a float literal.
double scan_float(const void* text, int32_t count, int32_t unit, int32_t* error);
// The components of a tuple (1 to 12, each 0-255) into bytes; returns the
// count, or -1 when the text is not a tuple.
int32_t scan_tuple_bytes(const void* text, int32_t count, int32_t unit, uint8_t bytes[12]);
// The parts of a money literal: optional sign, optional 3-letter currency
// code, "$", integer digits (apostrophes between them; leading zeros
// dropped, at most 17 others), then "." or "," and 1 to 5 fraction digits.
struct money_text_t {
    bool negative;
    char code[4];  // "" for none
    char whole[18];
    int32_t whole_count;
    char fraction[6];
    int32_t fraction_count;
};
// false when the text is no money literal.
bool split_money(const void* text, int32_t count, int32_t unit, money_text_t* out);
// The float syntax check of the float, percent and point literals.
bool float_syntax_q(const uint8_t* text, int32_t count);

}  // namespace zuv::lexer
