// The natives table: every native's word names a native! value whose spec
// block (what spec-of shows) has the listed title, arguments, refinements and
// result types, and whose number selects its slot.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/native.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "datatypes/actions.h"
#include "natives/natives.h"
#include "runtime/collector.h"
#include "runtime/stack.h"
#include "tests/unit/runtime_fixture.h"

namespace zuv::testing {
namespace {

struct row_t {
    int32_t number;
    const char* word;
    const char* arguments;    // "name [types], ..."
    const char* refinements;  // "/name arg [types]; ..."
    const char* result;       // "[types]" or ""
    const char* title;
};

const row_t rows[] = {
    {1, "if", "cond [any-type!], then-blk [block!]", "", "", "If conditional expression is truthy, evaluate block; else return NONE"},
    {2, "unless", "cond [any-type!], then-blk [block!]", "", "", "If conditional expression is falsy, evaluate block; else return NONE"},
    {3, "either", "cond [any-type!], true-blk [block!], false-blk [block!]", "", "", "If conditional expression is truthy, evaluate the first branch; else evaluate the alternative"},
    {4, "any", "conds [block!]", "", "", "Evaluates and returns the first truthy value, if any; else NONE"},
    {5, "all", "conds [block!]", "", "", "Evaluates and returns the last value if all are truthy; else NONE"},
    {6, "while", "cond [block!], body [block!]", "", "", "Evaluates body as long as condition block evaluates to truthy value"},
    {7, "until", "body [block!]", "", "", "Evaluates body until it is truthy"},
    {8, "loop", "count [integer! float!], body [block!]", "", "", "Evaluates body a number of times"},
    {9, "repeat", "'word [word!], value [integer! float!], body [block!]", "", "", "Evaluates body a number of times, tracking iteration count"},
    {10, "forever", "body [block!]", "", "", "Evaluates body repeatedly forever"},
    {11, "foreach", "'word [word! block!], series [series! map!], body [block!]", "", "", "Evaluates body for each value in a series"},
    {12, "forall", "'word [word!], body [block!]", "", "", "Evaluates body for all values in a series"},
    {13, "remove-each", "'word [word! block!], data [series!], body [block!]", "", "", "Removes values for each block that returns truthy value"},
    {14, "func", "spec [block!], body [block!]", "", "", "Defines a function with a given spec and body"},
    {15, "function", "spec [block!], body [block!]", "/extern", "", "Defines a function, making all set-words found in body, local"},
    {16, "does", "body [block!]", "", "", "Defines a function with no arguments or local variables"},
    {17, "has", "vars [block!], body [block!]", "", "", "Defines a function with local variables, but no arguments"},
    {18, "switch", "value [any-type!], cases [block!]", "/default case [block!]", "", "Evaluates the first block following the value found in cases"},
    {19, "case", "cases [block!]", "/all", "", "Evaluates the block following the first truthy condition"},
    {20, "do", "value [any-type!]", "/expand; /args arg; /next position [word!]; /trace callback [function! [event [word!] code [any-block! none!] offset [integer!] value [any-type!] ref [any-type!] frame [pair!]]]", "", "Evaluates a value, returning the last evaluation result"},
    {21, "get", "word [any-word! any-path! object!]", "/any; /case", "[any-type!]", "Returns the value a word refers to"},
    {22, "set", "word [any-word! block! object! any-path!], value [any-type!]", "/any; /case; /only; /some", "[any-type!]", "Sets the value(s) one or more words refer to"},
    {23, "print", "value [any-type!]", "", "", "Outputs a value followed by a newline"},
    {24, "prin", "value [any-type!]", "", "", "Outputs a value"},
    {25, "equal?", "value1 [any-type!], value2 [any-type!]", "", "", "Returns TRUE if two values are equal"},
    {26, "not-equal?", "value1 [any-type!], value2 [any-type!]", "", "", "Returns TRUE if two values are not equal"},
    {27, "strict-equal?", "value1 [any-type!], value2 [any-type!]", "", "", "Returns TRUE if two values are equal, and also the same datatype"},
    {28, "lesser?", "value1 [any-type!], value2 [any-type!]", "", "", "Returns TRUE if the first value is less than the second"},
    {29, "greater?", "value1 [any-type!], value2 [any-type!]", "", "", "Returns TRUE if the first value is greater than the second"},
    {30, "lesser-or-equal?", "value1 [any-type!], value2 [any-type!]", "", "", "Returns TRUE if the first value is less than or equal to the second"},
    {31, "greater-or-equal?", "value1 [any-type!], value2 [any-type!]", "", "", "Returns TRUE if the first value is greater than or equal to the second"},
    {32, "same?", "value1 [any-type!], value2 [any-type!]", "", "", "Returns TRUE if two values have the same identity"},
    {33, "not", "value [any-type!]", "", "", "Returns the logical complement of a value (truthy or falsy)"},
    {34, "type?", "value [any-type!]", "/word", "", "Returns the datatype of a value"},
    {35, "reduce", "value [any-type!]", "/into out [any-block!]", "", "Returns a copy of a block, evaluating all expressions"},
    {36, "compose", "value [block!]", "/deep; /only; /into out [any-block!]", "", "Returns a copy of a block, evaluating only parens"},
    {37, "stats", "", "/show; /info", "[integer! block!]", "Returns interpreter statistics"},
    {38, "bind", "word [block! any-word!], context [any-word! any-object! function!]", "/copy", "[block! any-word!]", "Bind words to a context; returns rebound words"},
    {39, "in", "object [any-object! any-function!], word [any-word! refinement!]", "", "", "Returns the given word bound to the object's context"},
    {40, "parse", "input [binary! any-block! any-string!], rules [block!]", "/case; /part length [number! series!]; /trace callback [function! [event [word!] match? [logic!] rule [block!] input [series!] stack [block!] return: [logic!]]]", "[logic! block!]", "Process a series using dialected grammar rules"},
    {41, "union", "set1 [block! hash! string! bitset! typeset!], set2 [block! hash! string! bitset! typeset!]", "/case; /skip size [integer!]", "[block! hash! string! bitset! typeset!]", "Returns the union of two data sets"},
    {42, "intersect", "set1 [block! hash! string! bitset! typeset!], set2 [block! hash! string! bitset! typeset!]", "/case; /skip size [integer!]", "[block! hash! string! bitset! typeset!]", "Returns the intersection of two data sets"},
    {43, "unique", "set [block! hash! string!]", "/case; /skip size [integer!]", "[block! hash! string!]", "Returns the data set with duplicates removed"},
    {44, "difference", "set1 [block! hash! string! bitset! typeset! date!], set2 [block! hash! string! bitset! typeset! date!]", "/case; /skip size [integer!]", "[block! hash! string! bitset! typeset! time!]", "Returns the special difference of two data sets"},
    {45, "exclude", "set1 [block! hash! string! bitset! typeset!], set2 [block! hash! string! bitset! typeset!]", "/case; /skip size [integer!]", "[block! hash! string! bitset! typeset!]", "Returns the first data set less the second data set"},
    {46, "complement?", "bits [bitset!]", "", "", "Returns TRUE if the bitset is complemented"},
    {47, "dehex", "value [any-string!]", "", "[string!]", "Converts URL-style hex encoded (%xx) strings"},
    {48, "enhex", "value [any-string!]", "", "[string!]", "Encode URL-style hex encoded (%xx) strings"},
    {49, "negative?", "number [number! money! time!]", "", "[logic!]", "Returns TRUE if the number is negative"},
    {50, "positive?", "number [number! money! time!]", "", "[logic!]", "Returns TRUE if the number is positive"},
    {51, "max", "value1 [scalar! series!], value2 [scalar! series!]", "", "", "Returns the greater of the two values"},
    {52, "min", "value1 [scalar! series!], value2 [scalar! series!]", "", "", "Returns the lesser of the two values"},
    {53, "shift", "data [integer!], bits [integer!]", "/left; /logical", "[integer!]", "Perform a bit shift operation. Right shift (decreasing) by default"},
    {54, "to-hex", "value [integer!]", "/size length [integer!]", "[issue!]", "Converts numeric value to a hex issue! datatype (with leading # and 0's)"},
    {55, "sine", "angle [float! integer!]", "/radians", "[float!]", "Returns the trigonometric sine"},
    {56, "cosine", "angle [float! integer!]", "/radians", "[float!]", "Returns the trigonometric cosine"},
    {57, "tangent", "angle [float! integer!]", "/radians", "[float!]", "Returns the trigonometric tangent"},
    {58, "arcsine", "sine [float! integer!]", "/radians", "[float!]", "Returns the trigonometric arcsine in degrees in range [-90,90]"},
    {59, "arccosine", "cosine [float! integer!]", "/radians", "[float!]", "Returns the trigonometric arccosine in degrees in range [0,180]"},
    {60, "arctangent", "tangent [float! integer!]", "/radians", "[float!]", "Returns the trigonometric arctangent in degrees in range [-90,90]"},
    {61, "arctangent2", "y [float! integer!], x [float! integer!]", "/radians", "[float!]", "Returns the smallest angle between the vectors (1,0) and (x,y) in degrees (-180,180]"},
    {62, "NaN?", "value [number!]", "", "[logic!]", "Returns TRUE if the number is Not-a-Number"},
    {63, "log-2", "value [float! integer! percent!]", "", "[float!]", "Return the base-2 logarithm"},
    {64, "log-10", "value [float! integer! percent!]", "", "[float!]", "Returns the base-10 logarithm"},
    {65, "log-e", "value [float! integer! percent!]", "", "[float!]", "Returns the natural (base-E) logarithm of the given value"},
    {66, "exp", "value [float! integer! percent!]", "", "[float!]", "Raises E (the base of natural logarithm) to the power specified"},
    {67, "square-root", "value [float! integer! percent!]", "", "[float!]", "Returns the square root of a number"},
    {68, "construct", "block [block!]", "/with object [object!]; /only", "", "Makes a new object from an unevaluated spec; standard logic words are evaluated"},
    {69, "value?", "value [word!]", "", "[logic!]", "Returns TRUE if the word has a value"},
    {70, "try", "block [block!]", "/all; /keep", "", "Tries to DO a block and returns its value or an error"},
    {71, "uppercase", "string [any-string! char!]", "/part limit [number! any-string!]", "[any-string! char!]", "Converts string of characters to uppercase"},
    {72, "lowercase", "string [any-string! char!]", "/part limit [number! any-string!]", "[any-string! char!]", "Converts string of characters to lowercase"},
    {73, "as-pair", "x [integer! float!], y [integer! float!]", "", "", "Combine X and Y values into a pair"},
    {74, "as-point2D", "x [integer! float!], y [integer! float!]", "", "", "Combine X and Y values into a 2D point"},
    {75, "as-point3D", "x [integer! float!], y [integer! float!], z [integer! float!]", "", "", "Combine X, Y and Z values into a 3D point"},
    {76, "as-money", "currency [word!], amount [integer! float!]", "", "[money!]", "Combine currency code and amount into a monetary value"},
    {77, "break", "", "/return value [any-type!]", "", "Breaks out of a loop, while, until, repeat, foreach, etc"},
    {78, "continue", "", "", "", "Throws control back to top of loop"},
    {79, "exit", "", "", "", "Exits a function, returning no value"},
    {80, "return", "value [any-type!]", "", "", "Returns a value from a function"},
    {81, "throw", "value [any-type!]", "/name word [word!]", "", "Throws control back to a previous catch"},
    {82, "catch", "block [block!]", "/name word [word! block!]", "", "Catches a throw from a block and returns its value"},
    {83, "extend", "obj [object! map!], spec [block! hash! map!]", "/case", "", "Extend an object or map value with list of key and value pairs"},
    {84, "debase", "value [string!]", "/base base-value [integer!]", "", "Decodes binary-coded string (BASE-64 default) to binary value"},
    {85, "to-local-file", "path [file! string!]", "/full", "[string!]", "Converts a Zuv file path to the local system file path"},
    {86, "wait", "value [number! time! block! none!]", "/all", "", "Waits for a duration in seconds or specified time"},
    {87, "checksum", "data [binary! string! file!], method [word!]", "/with spec [any-string! binary! integer!]", "[integer! binary!]", "Computes a checksum, CRC, hash, or HMAC"},
    {88, "unset", "word [word! block!]", "", "", "Unsets the value of a word in its current context"},
    {89, "new-line", "position [any-list!], value [logic!]", "/all; /skip size [integer!]", "[any-list!]", "Sets or clears the new-line marker within a list series"},
    {90, "new-line?", "position [any-list!]", "", "[logic!]", "Returns the state of the new-line marker within a list series"},
    {91, "enbase", "value [binary! string!]", "/base base-value [integer!]", "", "Encodes a string into a binary-coded string (BASE-64 default)"},
    {92, "context?", "word [any-word!]", "", "[object! function! none!]", "Returns the context to which a word is bound"},
    {93, "set-env", "var [any-string! any-word!], value [string! none!]", "", "", "Sets the value of an operating system environment variable (for current process)"},
    {94, "get-env", "var [any-string! any-word!]", "", "[string! none!]", "Returns the value of an OS environment variable (for current process)"},
    {95, "list-env", "", "", "[map!]", "Returns a map of OS environment variables (for current process)"},
    {96, "now", "", "/year; /month; /day; /time; /zone; /date; /weekday; /yearday; /precise; /utc", "[date! time! integer!]", "Returns date and time"},
    {97, "sign?", "number [number! money! time!]", "", "[integer!]", "Returns sign of N as 1, 0, or -1 (to use as a multiplier)"},
    {98, "as", "type [datatype! block! paren! any-path! any-string!], spec [block! paren! any-path! any-string!]", "", "", "Coerce a series into a compatible datatype without copying it"},
    {99, "call", "cmd [string! file!]", "/wait; /show; /console; /shell; /input in [string! file! binary!]; /output out [string! file! binary!]; /error err [string! file! binary!]", "[integer!]", "Executes a shell command to run another process"},
    {100, "zero?", "value [number! money! pair! time! char! tuple! any-point!]", "", "[logic!]", "Returns TRUE if the value is zero"},
    {101, "size?", "file [file!]", "", "[integer! none!]", "Returns the size of a file content"},
    {102, "browse", "url [url! file!]", "", "", "Opens the URL in a web browser or the file in the associated application"},
    {103, "compress", "data [any-string! binary!], method [word!]", "/level lvl [integer!]", "[binary!]", "Compresses data"},
    {104, "decompress", "data [binary!], method [word!]", "/size sz [integer!]", "[binary!]", "Decompresses data"},
    {105, "recycle", "", "/on; /off", "[integer! unset!]", "Recycles unused memory and returns memory amount still in use"},
    {106, "transcode", "src [binary! string!]", "/next; /one; /prescan; /scan; /part length [integer! binary!]; /into dst [block!]; /trace callback [function! [event [word!] input [binary! string!] type [word! datatype!] line [integer!] token return: [logic!]] routine! [event [word!] input [binary! string!] type [word! datatype!] line [integer!] token return: [logic!]]]", "[block!]", "Translates UTF-8 binary source to values. Returns one or several values in a block"},
    {107, "apply", "func [word! path! any-function!], args [block!]", "/all; /safer", "", "Apply a function to a reduced block of arguments"},
};

std::string text_of(const cell_t* s) {
    std::string out;
    series_buffer_t* b = string::buffer_of(s);
    uint32_t unit = b->unit();
    for (int32_t i = static_cast<int32_t>(s->data1); i < b->used() / static_cast<int32_t>(unit); i++)
        out.push_back(static_cast<char>(string::get_char(b->head_ptr() + static_cast<size_t>(i) * unit, unit)));
    return out;
}

std::string molded(const cell_t* v) {
    // Copied before anything allocates: a collection may move the block v lies in.
    cell_t copy = *v;
    collector::root_cell keep_copy(&copy);
    cell_t out;
    string::make_at(&out, 64);
    collector::root_cell keep_out(&out);
    actions::mold(&copy, &out, false, false, true, false, 0x7FFFFFFF, 0);
    return text_of(&out);
}

// The spec block laid out as the table's columns.
struct columns_t {
    std::string title, arguments, refinements, result;
};

columns_t columns_of(const cell_t* spec) {
    columns_t c;
    int32_t n = block::abs_length(spec);
    std::string* list = &c.arguments;
    const char* sep = ", ";
    for (int32_t i = 0; i < n; i++) {
        const cell_t* v = block::rs_abs_at(spec, i);
        uint8_t t = type_of(v);
        if (t == TYPE_string) {
            c.title = text_of(v);
            continue;
        }
        if (t == TYPE_set_word) {  // return:
            if (i + 1 < n) c.result = molded(block::rs_abs_at(spec, ++i));
            continue;
        }
        if (t == TYPE_refinement) {
            list = &c.refinements;
            sep = "; ";
            if (!list->empty()) *list += sep;
            *list += molded(v);
            continue;
        }
        std::string item = molded(v);
        if (i + 1 < n && type_of(block::rs_abs_at(spec, i + 1)) == TYPE_block)
            item += " " + molded(block::rs_abs_at(spec, ++i));
        if (!list->empty()) *list += (list == &c.refinements ? " " : sep);
        *list += item;
    }
    return c;
}

class NativesTable : public Runtime {};

TEST_F(NativesTable, EveryNativeHasItsListedSpec) {
    ASSERT_EQ(sizeof rows / sizeof rows[0], static_cast<size_t>(natives::COUNT));
    for (const row_t& r : rows) {
        SCOPED_TRACE(r.word);
        cell_t w = word::make_global(symbol::make_alt(r.word, static_cast<int32_t>(std::strlen(r.word))));
        const cell_t* v = _context::get(&w);
        ASSERT_EQ(type_of(v), TYPE_native);
        EXPECT_EQ(native::number_of(v), r.number);
        cell_t spec;
        block::init_value(&spec, TYPE_block, native::spec_node(v));
        columns_t c = columns_of(&spec);
        EXPECT_EQ(c.title, r.title);
        EXPECT_EQ(c.arguments, r.arguments);
        EXPECT_EQ(c.refinements, r.refinements);
        EXPECT_EQ(c.result, r.result);
    }
}

TEST_F(NativesTable, SlotsByNumber) {
    EXPECT_EQ(natives::next_number, natives::COUNT + 1);
    EXPECT_EQ(natives::table[0], &natives::if_);
    EXPECT_EQ(natives::table[5], &natives::while_);
    EXPECT_EQ(natives::table[105], &natives::transcode);
    for (int32_t i = natives::COUNT; i < natives::TABLE_SLOTS; i++) EXPECT_EQ(natives::table[i], nullptr);
    EXPECT_EQ(interpreter::native_table, natives::table);
    // The list is indexed by number, not by the order the words are read in.
    EXPECT_STREQ(natives::info(84).word, "debase");
    EXPECT_STREQ(natives::info(91).word, "enbase");
    EXPECT_EQ(natives::number_of("remove-each"), 13);
    EXPECT_EQ(natives::number_of("no-such-native"), 0);
}

}  // namespace
}  // namespace zuv::testing
