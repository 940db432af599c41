// The lexer tables checked cell by cell against an independent transcription
// of their definition: the matrix rows below are written as "state |
// otherwise | target (classes); ..." exactly as the machine is described, and
// the byte classes list every member of every class explicitly.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "lexer/tables.h"
#include "runtime/cell.h"

namespace {

using namespace zuv;
using namespace zuv::lexer;

const char* const class_names[40] = {"blank",
                                     "line",
                                     "digit",
                                     "zero",
                                     "block-open",
                                     "block-close",
                                     "paren-open",
                                     "paren-close",
                                     "brace-open",
                                     "brace-close",
                                     "dquote",
                                     "sharp",
                                     "quote",
                                     "colon",
                                     "x",
                                     "t",
                                     "h",
                                     "e",
                                     "E",
                                     "hex-lower",
                                     "hex-upper",
                                     "slash",
                                     "backslash",
                                     "less",
                                     "greater",
                                     "equal",
                                     "percent",
                                     "comma",
                                     "semicolon",
                                     "at",
                                     "dot",
                                     "dollar",
                                     "plus",
                                     "minus",
                                     "caret",
                                     "control",
                                     "continuation",
                                     "word-char",
                                     "bad-lead",
                                     "end"};

// number name kind
const char* const state_list = R"(0 start none
1 comment none
2 string string!
3 string-escape string!
4 brace-string string!
5 brace-escape string!
6 percent file!
7 file file!
8 file-quoted file!
9 percent-run file!
10 raw-string string!
11 raw-close string!
12 raw-end string!
13 slash word!
14 refinement refinement!
15 slash-run word!
16 sharp issue!
17 binary binary!
18 binary-comment none
19 char char!
20 char-escape char!
21 construct none
22 issue issue!
23 integer integer!
24 decimal-point float!
25 fraction float!
26 exponent float!
27 digits-E float!
28 float-special float!
29 tuple tuple!
30 date date!
31 time-colon time!
32 time time!
33 pair-x pair!
34 pair pair!
35 point point2D!
36 money-sign money!
37 money money!
38 money-fraction money!
39 hex-digits none
40 hex-word integer!
41 hex-word-h word!
42 digits-h integer!
43 less tag!
44 tag tag!
45 tag-dquote tag!
46 tag-squote tag!
47 sign word!
48 prefix-sign word!
49 dot word!
50 dot-digits float!
51 prefix word!
52 word word!
53 word-colon set-word!
54 prefix-percent word!
55 url url!
56 email email!
57 ref ref!
58 equal word!
59 path-element path!
60 path-integer integer!
61 path-prefix word!
62 path-word word!
63 path-sharp issue!
64 path-sign word!
66 F-eof none
67 F-error error!
68 F-block-open none
69 F-block-close none
70 F-paren-open none
71 F-paren-close none
72 F-brace-open none
73 F-brace-close string!
74 F-map-open none
75 F-path-open none
76 F-construct none
77 F-comment none
78 F-comma none
79 F-string string!
80 F-word word!
81 F-issue issue!
82 F-integer integer!
83 F-refinement refinement!
84 F-char char!
85 F-file file!
86 F-binary binary!
87 F-percent percent!
88 F-float float!
89 F-float-special float!
90 F-tuple tuple!
91 F-date date!
92 F-pair pair!
93 F-point point2D!
94 F-time time!
95 F-money money!
96 F-tag tag!
97 F-url url!
98 F-email email!
99 F-hex integer!
100 F-raw-string string!
101 F-ref ref!)";

const char* const matrix_rows =
    R"(0 start | word | start (blank line control); comment (semicolon); string (dquote); percent (percent); slash (slash); sharp (sharp); integer (digit zero); money-sign (dollar); hex-word (E hex-upper); less (less); sign (plus minus); dot (dot); prefix (quote colon); ref (at); equal (equal); F-eof (end); F-error (brace-close backslash continuation bad-lead); F-block-open (block-open); F-block-close (block-close); F-paren-open (paren-open); F-paren-close (paren-close); F-brace-open (brace-open); F-comma (comma)
1 comment | comment | F-error (bad-lead); F-comment (line end)
2 string | string | string-escape (caret); F-error (line bad-lead end); F-string (dquote)
3 string-escape | string | F-error (bad-lead end)
4 brace-string | brace-string | brace-escape (caret); F-error (bad-lead end); F-brace-open (brace-open); F-brace-close (brace-close)
5 brace-escape | brace-string | F-error (bad-lead end)
6 percent | file | file-quoted (dquote); percent-run (percent); raw-string (brace-open); prefix-percent (colon); F-error (bad-lead); F-word (blank line block-open block-close paren-open paren-close brace-close semicolon at control end)
7 file | file | F-error (dquote bad-lead); F-file (blank line block-open block-close paren-open paren-close brace-open brace-close colon semicolon at end)
8 file-quoted | file-quoted | F-error (line bad-lead end); F-file (dquote)
9 percent-run | file | percent-run (percent); raw-string (brace-open); F-error (bad-lead); F-word (blank line block-open block-close paren-open paren-close brace-close dquote backslash semicolon control end)
10 raw-string | raw-string | raw-close (brace-close); F-error (bad-lead end)
11 raw-close | raw-string | raw-close (brace-close); raw-end (percent); F-error (bad-lead end)
12 raw-end | F-error | raw-end (percent); F-raw-string (blank line block-open block-close paren-open paren-close brace-open dquote less semicolon control end)
13 slash | refinement | slash-run (slash); word-colon (colon); F-error (comma bad-lead); F-word (blank line block-open block-close paren-open paren-close brace-open brace-close dquote sharp semicolon at control end)
14 refinement | refinement | F-error (colon comma bad-lead); F-refinement (blank line block-open block-close paren-open paren-close brace-open brace-close dquote slash semicolon at control end)
15 slash-run | word | slash-run (slash); F-error (percent comma dollar bad-lead); F-word (blank line block-open block-close paren-open paren-close brace-open brace-close dquote sharp semicolon at control end)
16 sharp | issue | binary (brace-open); char (dquote); construct (paren-open); F-error (blank line block-close paren-close brace-close colon less greater comma bad-lead); F-map-open (block-open); F-issue (semicolon at control end)
17 binary | F-error | binary (blank line digit zero x t h e E hex-lower hex-upper slash equal plus word-char); binary-comment (semicolon); F-binary (brace-close)
18 binary-comment | binary-comment | binary (line); F-error (bad-lead end)
19 char | char | char-escape (caret); F-error (bad-lead end); F-char (dquote)
20 char-escape | char | F-error (bad-lead end)
21 construct | construct | F-error (bad-lead end); F-construct (paren-close)
22 issue | issue | F-error (colon slash bad-lead); F-issue (blank line block-open block-close paren-open paren-close brace-open brace-close dquote semicolon at control end)
23 integer | F-integer | sharp (sharp); integer (digit zero quote); decimal-point (dot); exponent (e); digits-E (E); date (t slash minus); time-colon (colon); pair-x (x); hex-digits (hex-upper); digits-h (h); email (at); F-error (hex-lower backslash greater equal dollar plus caret continuation word-char bad-lead); F-percent (percent)
24 decimal-point | F-error | fraction (digit zero quote); exponent (e E); float-special (sharp); pair-x (x); F-percent (percent); F-float (blank line block-open block-close paren-open paren-close brace-open brace-close dquote slash less comma semicolon control end)
25 fraction | F-float | fraction (digit zero quote); exponent (e E); tuple (dot); pair-x (x); email (at); F-error (sharp t h hex-lower hex-upper backslash greater equal dollar plus minus caret continuation word-char bad-lead); F-percent (percent)
26 exponent | F-error | exponent (digit zero plus minus); email (at); F-percent (percent); F-float (blank line block-open block-close paren-open paren-close brace-open brace-close dquote colon slash less comma semicolon control end)
27 digits-E | F-float | exponent (plus minus); digits-E (digit zero); tuple (dot); hex-word (E hex-upper); digits-h (h); email (at); F-error (sharp quote x t e hex-lower backslash greater equal semicolon dollar caret continuation word-char bad-lead); F-percent (percent)
28 float-special | F-float-special | float-special (x t h e E hex-lower hex-upper greater equal dot plus minus continuation word-char); F-error (sharp quote colon at dollar caret bad-lead); F-percent (percent); F-float (digit)
29 tuple | F-error | tuple (digit zero dot); F-tuple (blank line block-open block-close paren-open paren-close brace-open brace-close dquote colon slash less semicolon control end)
30 date | date | F-error (percent comma at caret continuation bad-lead); F-date (blank line block-open block-close paren-open paren-close brace-open brace-close dquote less semicolon dollar control end)
31 time-colon | F-error | time (digit zero)
32 time | F-error | time (digit zero colon dot); F-time (blank line block-open block-close paren-open paren-close brace-open brace-close dquote slash less semicolon control end)
33 pair-x | F-error | pair (digit zero plus minus); email (at)
34 pair | F-error | pair (digit zero e E dot); email (at); F-pair (blank line block-open block-close paren-open paren-close brace-open brace-close dquote colon slash less semicolon control end)
35 point | F-error | point (blank digit zero block-close sharp e E hex-lower hex-upper comma dot plus minus word-char); F-point (paren-close)
36 money-sign | F-error | money (digit zero)
37 money | F-error | money (digit zero quote); money-fraction (dot); F-money (blank line block-open block-close paren-open paren-close brace-open brace-close dquote sharp colon slash less semicolon control end)
38 money-fraction | F-error | money-fraction (digit zero quote); F-money (blank line block-open block-close paren-open paren-close brace-open brace-close dquote sharp colon slash less semicolon control end)
39 hex-digits | F-error | hex-digits (digit zero E hex-upper); hex-word-h (h); email (at)
40 hex-word | F-word | money (dollar); hex-word (digit zero E hex-upper); hex-word-h (h); word (quote x t e hex-lower less greater equal dot plus minus caret continuation word-char); word-colon (colon); email (at); F-error (percent comma bad-lead); F-path-open (slash)
41 hex-word-h | word | money (dollar); word-colon (colon); email (at); F-error (sharp percent comma bad-lead); F-path-open (slash); F-hex (blank line block-open block-close paren-open paren-close brace-open brace-close dquote backslash semicolon control end)
42 digits-h | F-error | money (dollar); email (at); F-path-open (slash); F-hex (blank line block-open block-close paren-open paren-close brace-open brace-close dquote backslash less semicolon control end)
43 less | tag | less (less); tag-squote (quote); word (greater equal minus); word-colon (colon); F-error (bad-lead); F-word (blank line block-open block-close paren-open paren-close brace-open brace-close dquote semicolon control end)
44 tag | tag | tag-dquote (dquote); tag-squote (quote); F-error (bad-lead end); F-tag (greater)
45 tag-dquote | tag-dquote | tag (dquote); F-error (bad-lead end)
46 tag-squote | tag-squote | tag (quote); F-error (bad-lead end)
47 sign | word | integer (digit zero); money (dollar); dot (dot); F-error (quote percent caret bad-lead); F-path-open (slash); F-word (blank line block-open block-close paren-open paren-close brace-open brace-close dquote sharp backslash semicolon control end)
48 prefix-sign | word | F-error (quote percent dollar caret bad-lead); F-path-open (slash); F-word (blank line block-open block-close paren-open paren-close brace-open brace-close dquote sharp backslash semicolon control end)
49 dot | word | dot-digits (digit zero plus minus); word-colon (colon); email (at); F-error (percent comma dollar bad-lead); F-path-open (slash); F-word (blank line block-open block-close paren-open paren-close brace-open brace-close dquote sharp backslash semicolon control end)
50 dot-digits | F-error | pair-x (x); dot-digits (digit zero e E plus minus); email (at); F-percent (percent); F-float (blank line block-open block-close paren-open paren-close brace-open brace-close dquote colon slash less control end)
51 prefix | F-error | slash (slash); less (less); prefix-sign (plus minus); word (x t h e E hex-lower hex-upper greater dot caret continuation word-char); prefix-percent (percent); equal (equal)
52 word | word | money-sign (dollar); word-colon (colon); email (at); F-error (percent comma bad-lead); F-path-open (slash); F-word (blank line block-open block-close paren-open paren-close brace-open brace-close dquote sharp backslash less semicolon control end)
53 word-colon | url | F-error (less bad-lead); F-word (blank line block-open block-close paren-open paren-close brace-open brace-close dquote backslash semicolon control end)
54 prefix-percent | F-error | prefix-percent (percent); F-word (blank line block-open block-close paren-open paren-close brace-open brace-close backslash semicolon control end)
55 url | url | F-error (greater caret bad-lead); F-url (blank line block-open block-close paren-open paren-close brace-open brace-close dquote backslash less semicolon control end)
56 email | F-email | email (digit zero x t h e E hex-lower hex-upper percent dot plus minus continuation word-char); F-error (sharp quote colon greater equal comma at dollar caret bad-lead)
57 ref | ref | F-error (sharp quote backslash greater equal comma at dollar caret bad-lead); F-ref (blank line block-open block-close paren-open paren-close brace-open brace-close dquote less semicolon control end)
58 equal | word | F-error (sharp percent comma at dollar bad-lead); F-path-open (slash); F-word (blank line block-open block-close paren-open paren-close brace-open brace-close dquote colon backslash semicolon control end)
59 path-element | F-error | string (dquote); money-sign (dollar); less (less); ref (at); path-integer (digit zero); path-prefix (quote colon); path-word (x t h e E hex-lower hex-upper greater equal dot continuation word-char); path-sharp (sharp); path-sign (plus minus); F-paren-open (paren-open); F-paren-close (paren-close)
60 path-integer | F-error | decimal-point (dot); exponent (e E); pair-x (x); email (at); path-integer (digit zero quote); F-integer (blank line block-open block-close paren-open paren-close brace-open brace-close dquote colon slash less semicolon control end); F-percent (percent)
61 path-prefix | F-error | path-word (x t h e E hex-lower hex-upper less greater equal dot plus minus continuation word-char)
62 path-word | path-word | money-sign (dollar); email (at); F-error (sharp percent comma bad-lead); F-word (blank line block-open block-close paren-open paren-close brace-open brace-close dquote colon slash backslash semicolon control end)
63 path-sharp | issue | char (dquote); construct (block-open); F-error (blank line block-close paren-open paren-close brace-open brace-close colon slash less greater equal comma semicolon at control bad-lead end)
64 path-sign | F-word | money-sign (dollar); email (at); path-integer (digit zero); path-word (x t h e E hex-lower hex-upper greater equal dot continuation word-char); path-sign (plus minus); F-error (sharp quote less percent comma caret bad-lead))";

struct names_t {
    std::map<std::string, int> states;
    std::map<std::string, int> state_kinds;
    std::map<std::string, int> classes;
};

int type_by_name(const std::string& name) {
    if (name == "none") return 0;
#define ZUV_TYPE(id, ident, text, refs)                                                            \
    if (name == text) return id;
#include "datatypes/types.def"
#undef ZUV_TYPE
    ADD_FAILURE() << "unknown datatype " << name;
    return -1;
}

const names_t& names() {
    static names_t n = [] {
        names_t r;
        std::istringstream in(state_list);
        int number;
        std::string name, kind;
        while (in >> number >> name >> kind) {
            r.states[name] = number;
            r.state_kinds[name] = type_by_name(kind);
        }
        for (int c = 0; c < 40; ++c) r.classes[class_names[c]] = c;
        return r;
    }();
    return n;
}

std::string trim(const std::string& s) {
    size_t a = s.find_first_not_of(' ');
    size_t b = s.find_last_not_of(' ');
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

TEST(LexerTables, StateListIsComplete) {
    ASSERT_EQ(names().states.size(), 65u + 36u);
    EXPECT_EQ(names().states.at("start"), S_START);
    EXPECT_EQ(names().states.at("path-sign"), S_PATH_SIGN);
    EXPECT_EQ(names().states.at("F-eof"), F_EOF);
    EXPECT_EQ(names().states.at("F-ref"), F_REF);
}

TEST(LexerTables, EveryMatrixCellMatches) {
    const names_t& n = names();
    std::istringstream in(matrix_rows);
    std::string line;
    int rows_seen = 0;
    while (std::getline(in, line)) {
        // "N name | otherwise | target (c c); target (c)"
        size_t bar1 = line.find('|');
        size_t bar2 = line.find('|', bar1 + 1);
        ASSERT_NE(bar2, std::string::npos) << line;
        std::istringstream head(line.substr(0, bar1));
        int state;
        std::string state_name;
        head >> state >> state_name;
        ASSERT_EQ(n.states.at(state_name), state) << line;
        ASSERT_EQ(state, rows_seen) << "rows out of order at " << line;
        int expected[40];
        int otherwise = n.states.at(trim(line.substr(bar1 + 1, bar2 - bar1 - 1)));
        bool named[40] = {};
        for (int& e : expected) e = otherwise;
        std::string rest = line.substr(bar2 + 1);
        std::istringstream parts(rest);
        std::string part;
        while (std::getline(parts, part, ';')) {
            part = trim(part);
            size_t open = part.find('(');
            size_t close = part.find(')');
            ASSERT_TRUE(open != std::string::npos && close != std::string::npos) << part;
            int target = n.states.at(trim(part.substr(0, open)));
            std::istringstream cls(part.substr(open + 1, close - open - 1));
            std::string c;
            while (cls >> c) {
                ASSERT_TRUE(n.classes.count(c)) << "unknown class " << c << " in " << line;
                int ci = n.classes.at(c);
                ASSERT_FALSE(named[ci]) << c << " named twice in " << line;
                named[ci] = true;
                expected[ci] = target;
            }
        }
        for (int c = 0; c < 40; ++c)
            EXPECT_EQ(matrix[state][c], expected[c])
                << "state " << state_name << ", class " << class_names[c];
        ++rows_seen;
    }
    EXPECT_EQ(rows_seen, STATE_COUNT);
}

TEST(LexerTables, NoTransitionReachesStateSixtyFive) {
    for (int s = 0; s < STATE_COUNT; ++s)
        for (int c = 0; c < CLASS_COUNT; ++c) EXPECT_NE(matrix[s][c], 65) << s << "," << c;
}

TEST(LexerTables, KindOfEveryState) {
    for (const auto& [name, number] : names().states)
        EXPECT_EQ(kinds[number], names().state_kinds.at(name)) << name;
    EXPECT_EQ(kinds[65], 0);
}

TEST(LexerTables, SkipAndLineTables) {
    for (int s = 0; s < ALL_STATES; ++s) EXPECT_EQ(skip_table[s], s == 0 ? 1 : 0) << s;
    for (int c = 0; c < CLASS_COUNT; ++c) EXPECT_EQ(line_table[c], c == 1 ? 1 : 0) << c;
}

struct member_t {
    int cls;
    int first;
    int last;
    uint32_t flags;
};

TEST(LexerTables, EveryByteHasItsClassAndFlags) {
    const std::vector<member_t> members = {
        {0, 0x09, 0x09, 0},
        {0, 0x0D, 0x0D, 0},
        {0, 0x20, 0x20, 0},
        {1, 0x0A, 0x0A, 0},
        {2, '1', '9', 0},
        {3, '0', '0', 0},
        {4, '[', '[', 0},
        {5, ']', ']', 0},
        {6, '(', '(', 0},
        {7, ')', ')', 0},
        {8, '{', '{', 0},
        {9, '}', '}', 0},
        {10, '"', '"', 0},
        {11, '#', '#', 0x00800000},
        {12, '\'', '\'', 0x02000000},
        {13, ':', ':', 0x04000000},
        {14, 'x', 'x', 0},
        {14, 'X', 'X', 0},
        {15, 'T', 'T', 0},
        {16, 'h', 'h', 0},
        {17, 'e', 'e', 0x01000000},
        {18, 'E', 'E', 0x01000000},
        {19, 'a', 'd', 0},
        {19, 'f', 'f', 0},
        {20, 'A', 'D', 0},
        {20, 'F', 'F', 0},
        {21, '/', '/', 0},
        {22, 0x5C, 0x5C, 0},
        {23, '<', '<', 0x00100000},
        {24, '>', '>', 0x00080000},
        {25, '=', '=', 0},
        {26, '%', '%', 0x00040000},
        {27, ',', ',', 0x08000000},
        {28, ';', ';', 0},
        {29, '@', '@', 0},
        {30, '.', '.', 0x10000000},
        {31, '$', '$', 0},
        {32, '+', '+', 0x00200000},
        {33, '-', '-', 0x00200000},
        {34, '^', '^', 0x20000000},
        {35, 0x01, 0x08, 0},
        {35, 0x0B, 0x0C, 0},
        {35, 0x0E, 0x1F, 0},
        {36, 0x7F, 0xBF, 0},
        {37, '!', '!', 0},
        {37, '&', '&', 0},
        {37, '*', '*', 0},
        {37, '?', '?', 0},
        {37, 'G', 'S', 0},
        {37, 'U', 'W', 0},
        {37, 'Y', 'Y', 0},
        {37, 'Z', 'Z', 0},
        {37, '_', '_', 0},
        {37, '`', '`', 0},
        {37, 'g', 'g', 0},
        {37, 'i', 'w', 0},
        {37, 'y', 'y', 0},
        {37, 'z', 'z', 0},
        {37, 0x7C, 0x7C, 0},
        {37, '~', '~', 0},
        {37, 0xC2, 0xEF, 0x40000000},
        {37, 0xF0, 0xF7, 0x80000000},
        {38, 0xC0, 0xC1, 0},
        {38, 0xF8, 0xFF, 0},
        {39, 0x00, 0x00, 0x00400000},
    };
    int seen[256] = {};
    for (const member_t& m : members) {
        for (int b = m.first; b <= m.last; ++b) {
            ++seen[b];
            EXPECT_EQ(byte_classes[b] & 0xFF, static_cast<uint32_t>(m.cls)) << "byte " << b;
            EXPECT_EQ(byte_classes[b] & ~0xFFu, m.flags) << "byte " << b;
        }
    }
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(seen[b], 1) << "byte " << b << " is in " << seen[b] << " classes";
}

TEST(LexerTables, UnitFromFlags) {
    EXPECT_EQ(unit_of(0), 1u);
    EXPECT_EQ(unit_of(FLAG_UTF8_2_3 | FLAG_DOT), 2u);
    EXPECT_EQ(unit_of(FLAG_UTF8_4), 4u);
    EXPECT_EQ(unit_of(FLAG_UTF8_2_3 | FLAG_UTF8_4), 4u);  // 1 << 3 is capped
}

TEST(LexerTables, HexDigits) {
    for (int c = 0; c < 128; ++c) {
        int expected = 255;
        if (c >= '0' && c <= '9') expected = c - '0';
        if (c >= 'a' && c <= 'f') expected = c - 'a' + 10;
        if (c >= 'A' && c <= 'F') expected = c - 'A' + 10;
        EXPECT_EQ(hex_digits[c], expected) << c;
    }
    EXPECT_EQ(hex_value(0x100 + 'A'), 255);
}

}  // namespace
