// Unicode conversion: the decoders, the loaders, the exports, and an oracle
// check of every code point against Python's codecs.
#include <cstdio>
#include <utility>
#include <vector>

#include "needs_tool.h"
#include "runtime/unicode.h"
#include "text_fixture.h"

using namespace zuv;
using zuv::test::TextTest;
using zuv::testing::raised;

namespace {

using bytes = std::vector<uint8_t>;

class Unicode : public TextTest {
protected:
    // Loads UTF-8 into a new string; remaining receives the undecoded count.
    cell_t load(const bytes& in, bool fold = false, int64_t* remaining = nullptr) {
        node_t node = unicode::load_utf8(text_source::at(in.data()),
                                         static_cast<int64_t>(in.size()), 0, remaining, fold);
        return cell_t{TYPE_string, 0, node, 0};
    }
    cell_t load16(const std::vector<uint16_t>& units, bool drop_cr = false) {
        bytes in;
        for (uint16_t u : units) {
            in.push_back(static_cast<uint8_t>(u));
            in.push_back(static_cast<uint8_t>(u >> 8));
        }
        node_t node = unicode::load_utf16le(text_source::at(in.data()),
                                            static_cast<int64_t>(units.size()), nullptr, drop_cr);
        return cell_t{TYPE_string, 0, node, 0};
    }
};

TEST_F(Unicode, LoadsUtf8WithMarkFoldingAndTruncation) {
    struct {
        const char* what;
        bytes in;
        bool fold;
        std::u32string expect;
        int64_t remaining;
    } cases[] = {
        {"mark alone", {0xEF, 0xBB, 0xBF}, false, U"", 0},
        {"two mark bytes are no mark: cut sequence", {0xEF, 0xBB}, false, U"", 2},
        {"mark then text", {0xEF, 0xBB, 0xBF, 'a'}, false, U"a", 0},
        {"CR LF folded", {'a', '\r', '\n', 'b'}, true, U"a\nb", 0},
        {"lone CR folded", {'a', '\r', 'b'}, true, U"a\nb", 0},
        {"CR at the end folded", {'a', '\r'}, true, U"a\n", 0},
        {"no folding", {'a', '\r', '\n', 'b', '\r'}, false, U"a\r\nb\r", 0},
        {"cut after a whole character", {'a', 0xE2, 0x82}, false, U"a", 2},
        {"cut four-byte sequence", {0xF0, 0x9F, 0x98}, false, U"", 3},
        {"empty", {}, false, U"", 0},
    };
    for (auto& c : cases) {
        int64_t remaining = -1;
        cell_t s = load(c.in, c.fold, &remaining);
        EXPECT_EQ(chars(&s), c.expect) << c.what;
        EXPECT_EQ(remaining, c.remaining) << c.what;
    }
}

TEST_F(Unicode, LoadWidensOnlyAsFarAsTheTextNeeds) {
    cell_t narrow = load({'a', 0xC3, 0xA9});
    EXPECT_EQ(unit_of(&narrow), 1u);
    cell_t two = load({'A', 0xC3, 0xA9, 0xE2, 0x82, 0xAC});
    EXPECT_EQ(unit_of(&two), 2u);
    EXPECT_EQ(chars(&two), U"A\u00E9\u20AC");
    cell_t four = load({'A', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80});
    EXPECT_EQ(unit_of(&four), 4u);
    EXPECT_EQ(chars(&four), U"A\u00E9\u20AC\U0001F600");
}

// Overlong forms, surrogates and the other invalid sequences must be refused
// by the strict decoder; the shortest forms next to them must pass.
TEST_F(Unicode, StrictDecoderRejectsOverlongAndSurrogates) {
    const bytes rejected[] = {
        {0xC0, 0x80},  // overlong U+0000
        {0xC1, 0xBF},  // overlong U+007F
        {0xE0, 0x80, 0x80},  // overlong U+0000
        {0xE0, 0x9F, 0xBF},  // overlong U+07FF
        {0xF0, 0x80, 0x80, 0x80},  // overlong U+0000
        {0xF0, 0x8F, 0xBF, 0xBF},  // overlong U+FFFF
        {0xED, 0xA0, 0x80},  // U+D800
        {0xED, 0xAF, 0xBF},  // U+DBFF
        {0xED, 0xB0, 0x80},  // U+DC00
        {0xED, 0xBF, 0xBF},  // U+DFFF
        {0xEF, 0xBF, 0xBE},  // U+FFFE
        {0xF4, 0x90, 0x80, 0x80},  // above U+10FFFF
        {0x80},  // stray continuation
        {0xC3, 0x41},  // bad continuation
        {0xF8, 0x88, 0x80, 0x80},  // no such lead
        {0xFF},
    };
    for (const bytes& in : rejected) {
        int64_t count = static_cast<int64_t>(in.size());
        EXPECT_EQ(raised([&] { unicode::decode_utf8_char(in.data(), &count); }), err::invalid_utf8)
            << "lead " << std::hex << int{in[0]};
    }
    struct {
        bytes in;
        int32_t cp;
    } accepted[] = {{{0x7F}, 0x7F},
                    {{0xC2, 0x80}, 0x80},
                    {{0xE0, 0xA0, 0x80}, 0x800},
                    {{0xED, 0x9F, 0xBF}, 0xD7FF},
                    {{0xEE, 0x80, 0x80}, 0xE000},
                    {{0xEF, 0xBF, 0xBF}, 0xFFFF},
                    {{0xF0, 0x90, 0x80, 0x80}, 0x10000},
                    {{0xF4, 0x8F, 0xBF, 0xBF}, 0x10FFFF}};
    for (auto& a : accepted) {
        int64_t count = static_cast<int64_t>(a.in.size());
        EXPECT_EQ(unicode::decode_utf8_char(a.in.data(), &count), a.cp);
        EXPECT_EQ(count, static_cast<int64_t>(a.in.size()));
    }
    int64_t count = 2;
    const uint8_t cut[] = {0xE2, 0x82};
    EXPECT_EQ(unicode::decode_utf8_char(cut, &count), -1);
}

TEST_F(Unicode, ValidityAsTheStrictDecoderJudgesIt) {
    // Each bad sequence also after ASCII runs of 7 to 17 bytes: the ASCII
    // is skipped eight bytes at a time.
    const std::pair<bytes, bool> rows[] = {{{}, true},
                                           {{0x41, 0xC3, 0xA9, 0xF0, 0x9F, 0x98, 0x80}, true},
                                           {{0xC3}, false},  // a lead byte without its continuation
                                           {{0xFF}, false},  // never a UTF-8 byte
                                           {{0xC0, 0x80}, false},  // overlong
                                           {{0xED, 0xA0, 0x80}, false},  // a surrogate
                                           {{0xEF, 0xBF, 0xBE}, false},  // U+FFFE
                                           {{0xF4, 0x90, 0x80, 0x80}, false},  // past U+10FFFF
                                           {{0x80}, false}};  // a stray continuation byte
    for (const auto& [tail, valid] : rows) {
        for (size_t run = 0; run <= 17; run += run == 0 ? 7 : 1) {
            bytes in(run, 'a');
            in.insert(in.end(), tail.begin(), tail.end());
            in.push_back('z');
            const uint8_t* end = in.data() + in.size();
            EXPECT_EQ(unicode::valid_utf8_q(in.data(), end), valid) << run;
            // And cut at the end, where nothing may be read past it.
            EXPECT_EQ(unicode::valid_utf8_q(in.data(), end - 1), valid) << run;
            size_t first = 0;
            while (first < in.size() && in[first] < 0x80) first++;
            EXPECT_EQ(unicode::skip_ascii(in.data(), end), in.data() + first) << run;
        }
    }
}

TEST_F(Unicode, FastDecoderStaysInsideItsEnd) {
    // Heap copies so that a read past the end shows under the sanitizer.
    struct {
        bytes in;
        int64_t chars;
    } cases[] = {{{0x61, 0x80, 0x62}, 3},
                 {{0xE2, 0x82}, 1},
                 {{0xF0}, 1},
                 {{0xE2, 0x82, 0xAC, 0xC3}, 2},
                 {{0xC3, 0x41}, 2}};
    for (auto& c : cases) {
        auto* copy = new uint8_t[c.in.size()];
        std::memcpy(copy, c.in.data(), c.in.size());
        EXPECT_EQ(unicode::count_chars(copy, copy + c.in.size()), c.chars);
        delete[] copy;
    }
    int32_t cp;
    const uint8_t bad[] = {0xE2, 0x41};
    EXPECT_EQ(unicode::fast_decode_utf8_char(bad, bad + 2, &cp), bad + 1)
        << "the offending byte starts the next";
    EXPECT_EQ(cp, -1);
}

TEST_F(Unicode, EncodesAndRefusesBeyondTheLastCodePoint) {
    uint8_t out[4];
    ASSERT_EQ(unicode::cp_to_utf8(0x10FFFF, out), 4);
    EXPECT_EQ(bytes(out, out + 4), (bytes{0xF4, 0x8F, 0xBF, 0xBF}));
    EXPECT_EQ(raised([&] { unicode::cp_to_utf8(0x110000, out); }), err::invalid_char);
    EXPECT_EQ(raised([&] { unicode::cp_utf8_size(0x110000); }), err::invalid_char);
    uint16_t pair[2];
    EXPECT_EQ(unicode::cp_to_utf16(0x110000, pair), 0);
}

TEST_F(Unicode, LoadsUtf16le) {
    cell_t latin = load16({'a', 0xE9});
    EXPECT_EQ(unit_of(&latin), 1u);
    EXPECT_EQ(chars(&latin), U"a\u00E9");
    cell_t pair = load16({0xD83D, 0xDE00});
    EXPECT_EQ(unit_of(&pair), 4u);
    EXPECT_EQ(chars(&pair), U"\U0001F600");
    cell_t dropped = load16({'a', '\r', 'b', '\r', '\n'}, true);
    EXPECT_EQ(chars(&dropped), U"ab\n");
    cell_t empty = load16({});
    EXPECT_EQ(chars(&empty), U"");
}

// Bad UTF-16LE input is an error the script can catch, not the end of the
// process.
TEST_F(Unicode, InvalidUtf16leRaisesInvalidUtf8) {
    const std::vector<uint16_t> bad[] = {
        {0xD83D, 'A'}, {'x', 0xD83D}, {0xDE00, 'A'}, {0xD83D, 0xD83D, 0xDE00}};
    for (auto& units : bad) EXPECT_EQ(raised([&] { load16(units); }), err::invalid_utf8);
}

TEST_F(Unicode, ExportsToUtf8AndUtf16) {
    cell_t s = text(U"a\u00E9\n\u20AC\U00010000", 4);
    EXPECT_EQ(unicode::to_utf8(&s), "a\xC3\xA9\n\xE2\x82\xAC\xF0\x90\x80\x80");
    EXPECT_EQ(unicode::to_utf8(&s, 2), "a\xC3\xA9");
    EXPECT_EQ(unicode::to_utf8(&s, -1, true), "a\xC3\xA9\r\n\xE2\x82\xAC\xF0\x90\x80\x80");
    EXPECT_EQ(unicode::to_utf16(&s), u"a\u00E9\r\n\u20AC\U00010000");

    cell_t wide = text(U"\U00010000\U00010000", 4);
    std::u16string out;
    ASSERT_TRUE(unicode::to_utf16_crlf(&wide, -1, false, &out));
    EXPECT_EQ(out, (std::u16string{0xD800, 0xDC00, 0xD800, 0xDC00}));

    cell_t latin = text(U"a\u00E9");
    uint8_t buffer[4] = {0, 0, 0, 0};
    EXPECT_EQ(unicode::to_utf8_limited(&latin, buffer, 2, -1, false), 2);
    EXPECT_EQ(buffer[0], 0x61);
    EXPECT_EQ(buffer[1], 0xC3);
    EXPECT_EQ(buffer[2], 0) << "nothing past the room";

    // Each export is the caller's own: a second export leaves the first intact.
    std::string first = unicode::to_utf8(&latin);
    cell_t other = text("zz");
    std::string second = unicode::to_utf8(&other);
    EXPECT_EQ(first, "a\xC3\xA9");
    EXPECT_EQ(second, "zz");
}

// Text has no form for a surrogate alone: every text export writes U+FFFD,
// so that nothing written is refused when read back.
TEST_F(Unicode, TextWritesASurrogateAloneAsTheReplacementCharacter) {
    uint8_t out[4];
    for (uint32_t cp : {0xD800u, 0xDBFFu, 0xDC00u, 0xDCE9u, 0xDFFFu}) {
        ASSERT_EQ(unicode::cp_to_utf8(cp, out), 3) << std::hex << cp;
        EXPECT_EQ(bytes(out, out + 3), (bytes{0xEF, 0xBF, 0xBD})) << std::hex << cp;
        EXPECT_EQ(unicode::cp_utf8_size(cp), 3) << "the size counted beforehand holds";
    }
    cell_t s = text(U"a\xDC00"
                    U"b\xD83D\xDE00",
                    2);
    EXPECT_EQ(unicode::to_utf8(&s), "a\xEF\xBF\xBD"
                                    "b\xEF\xBF\xBD\xEF\xBF\xBD");
    std::string buffer(16, '\0');
    int64_t n = unicode::to_utf8_buffer(&s, reinterpret_cast<uint8_t*>(buffer.data()), -1, false);
    EXPECT_EQ(buffer.substr(0, static_cast<size_t>(n)), unicode::to_utf8(&s));
    EXPECT_TRUE(unicode::holds_surrogate_q(&s));
    cell_t plain = text(U"a\xE9\U0001F600", 4);
    EXPECT_FALSE(unicode::holds_surrogate_q(&plain));
}

// Names of the system: every byte that is not UTF-8 becomes U+DC80-U+DCFF and
// goes back as the same byte (as Python's surrogateescape does); what no name
// can hold is refused rather than written as another name.
TEST_F(Unicode, SystemNamesKeepEveryByte) {
    struct {
        bytes in;
        std::u32string chars;
    } cases[] = {
        {{'a', 0xE9, 'b'},
         U"a\xDCE9"
         U"b"},
        {{0xC3, 0xA9}, U"\xE9"},
        {{0xE2, 0x82}, U"\xDCE2\xDC82"},
        {{0xED, 0xB0, 0x80}, U"\xDCED\xDCB0\xDC80"},
        {{0xC0, 0xAF}, U"\xDCC0\xDCAF"},
        {{0xF4, 0x90, 0x80, 0x80}, U"\xDCF4\xDC90\xDC80\xDC80"},
        {{0xEF, 0xBB, 0xBF, 'x'}, U"\xFEFFx"},
        {{0xEF, 0xBF, 0xBE}, U"\xFFFE"},
        {{0xF0, 0x9F, 0x98, 0x80, 0xFF}, U"\U0001F600\xDCFF"},
        {{}, U""},
    };
    for (auto& c : cases) {
        cell_t s{TYPE_string, 0,
                 unicode::load_os_text(c.in.data(), static_cast<int64_t>(c.in.size())), 0};
        EXPECT_EQ(chars(&s), c.chars) << c.chars.size();
        std::string back;
        ASSERT_TRUE(unicode::to_os_text(&s, &back));
        EXPECT_EQ(bytes(back.begin(), back.end()), c.in);
    }
    const std::u32string refused[] = {{U'a', 0, U'b'}, U"\xD800", U"\xDC7F", U"\xDD00", U"\xDFFF"};
    for (const std::u32string& name : refused) {
        cell_t s = text(name, 4);
        std::string out;
        EXPECT_FALSE(unicode::to_os_text(&s, &out))
            << std::hex << static_cast<uint32_t>(name.back());
    }
}

TEST_F(Unicode, WideningKeepsTheText) {
    cell_t s = text("hello");
    series_buffer_t* b = unicode::latin1_to_ucs2(string::buffer_of(&s));
    EXPECT_EQ(b->unit(), 2u);
    EXPECT_EQ(narrow(&s), "hello");
    unicode::ucs2_to_ucs4(string::buffer_of(&s));
    EXPECT_EQ(unit_of(&s), 4u);
    EXPECT_EQ(narrow(&s), "hello");
    cell_t t = text(U"\u00FF\u0001");
    unicode::latin1_to_ucs4(string::buffer_of(&t));
    EXPECT_EQ(chars(&t), U"\u00FF\u0001");
}

// --- oracle ------------------------------------------------------------------

// Runs python3 on a script and returns its standard output; empty when Python
// is not there.
bytes python(const char* script) {
    std::string command = std::string("python3 -c '") + script + "' 2>/dev/null";
    FILE* p = popen(command.c_str(), "r");
    if (!p) return {};
    bytes out;
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, p)) > 0) out.insert(out.end(), chunk, chunk + n);
    pclose(p);
    return out;
}

// Every scalar value, in order, encoded by Python's codecs; the test encodes
// the same sequence itself and loads Python's bytes back.
TEST_F(Unicode, AgreesWithPythonCodecsOnEveryCodePoint) {
    const char* utf8_script =
        "import sys; s = \"\".join(chr(c) for c in range(0x110000) if not 0xD800 <= c <= 0xDFFF); "
        "sys.stdout.buffer.write(s.encode(\"utf-8\"))";
    const char* utf16_script =
        "import sys; s = \"\".join(chr(c) for c in range(0x110000) if not 0xD800 <= c <= 0xDFFF); "
        "sys.stdout.buffer.write(s.encode(\"utf-16-le\"))";
    bytes py8 = python(utf8_script);
    bytes py16 = python(utf16_script);
    ZUV_NEEDS_TOOL(!py8.empty() && !py16.empty(), "python3 is not available");

    std::u32string all;
    for (char32_t c = 0; c <= 0x10FFFF; c++)
        if (c < 0xD800 || c > 0xDFFF) all.push_back(c);

    // Encoding: every code point, both codecs.
    cell_t s = text(all, 4);
    std::string mine8 = unicode::to_utf8(&s);
    ASSERT_EQ(mine8.size(), py8.size());
    EXPECT_TRUE(std::memcmp(mine8.data(), py8.data(), py8.size()) == 0);
    std::u16string mine16;
    ASSERT_TRUE(unicode::to_utf16_crlf(&s, -1, false, &mine16));
    ASSERT_EQ(mine16.size() * 2, py16.size());
    EXPECT_TRUE(std::memcmp(mine16.data(), py16.data(), py16.size()) == 0);

    // Decoding UTF-16LE: all of it.
    cell_t back16 =
        cell_t{TYPE_string, 0,
               unicode::load_utf16le(text_source::at(py16.data()),
                                     static_cast<int64_t>(py16.size() / 2), nullptr, false),
               0};
    EXPECT_TRUE(chars(&back16) == all);

    // Decoding UTF-8: all of it except U+FFFE, which the strict decoder
    // refuses by design (its own test above); Python's bytes for it are cut
    // out of the stream here.
    const uint8_t fffe[] = {0xEF, 0xBF, 0xBE};
    bytes stream;
    for (size_t i = 0; i < py8.size(); i++) {
        if (i + 3 <= py8.size() && std::memcmp(&py8[i], fffe, 3) == 0) {
            i += 2;
            continue;
        }
        stream.push_back(py8[i]);
    }
    std::u32string expect;
    for (char32_t c : all)
        if (c != 0xFFFE) expect.push_back(c);
    int64_t remaining = -1;
    cell_t back8 = load(stream, false, &remaining);
    EXPECT_EQ(remaining, 0);
    EXPECT_TRUE(chars(&back8) == expect);
}

// The sequences the strict decoder refuses are refused by Python too.
TEST_F(Unicode, PythonAlsoRejectsWhatTheStrictDecoderRejects) {
    bytes verdicts =
        python("import sys\n"
               "cases = [b\"\\xc0\\x80\", b\"\\xe0\\x80\\x80\", b\"\\xf0\\x80\\x80\\x80\", "
               "b\"\\xed\\xa0\\x80\", "
               "b\"\\xed\\xb0\\x80\", b\"\\xf4\\x90\\x80\\x80\", b\"\\x80\", b\"\\xc3\\x41\"]\n"
               "for c in cases:\n"
               "    try:\n"
               "        c.decode(\"utf-8\"); sys.stdout.write(\"1\")\n"
               "    except UnicodeDecodeError:\n"
               "        sys.stdout.write(\"0\")\n");
    ZUV_NEEDS_TOOL(!verdicts.empty(), "python3 is not available");
    EXPECT_EQ(std::string(verdicts.begin(), verdicts.end()), "00000000");
}

}  // namespace
