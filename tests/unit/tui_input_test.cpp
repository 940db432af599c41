// Terminal input decoding: bytes as the terminal sends them, frame by
// frame, and what reaches the event routing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/terminal_keys.h"
#include "datatypes/event.h"
#include "view/backends/terminal/input.h"

namespace zuv::tui {
namespace {

using namespace zuv::terminal;
namespace flag = event::flag;

// Each item as a line: "key K F", "button T X Y F", "motion X Y F",
// "wheel D X Y F", "halt", "report R C".
class recorder final : public input_sink {
public:
    std::vector<std::string> got;
    void key(int32_t k, uint32_t f) override { add("key " + n(k) + " " + h(f)); }
    void button(int32_t t, int32_t x, int32_t y, uint32_t f) override {
        add("button " + n(t) + " " + n(x) + " " + n(y) + " " + h(f));
    }
    void motion(int32_t x, int32_t y, uint32_t f) override {
        add("motion " + n(x) + " " + n(y) + " " + h(f));
    }
    void wheel(int32_t d, int32_t x, int32_t y, uint32_t f) override {
        add("wheel " + n(d) + " " + n(x) + " " + n(y) + " " + h(f));
    }
    void halt() override { add("halt"); }
    void report(int32_t r, int32_t c) override { add("report " + n(r) + " " + n(c)); }

private:
    void add(const std::string& s) { got.push_back(s); }
    static std::string n(int64_t v) { return std::to_string(v); }
    static std::string h(uint32_t v) {
        char b[16];
        snprintf(b, sizeof b, "%x", v);
        return b;
    }
};

std::string key(int32_t k, uint32_t f = 0) {
    char b[48];
    snprintf(b, sizeof b, "key %d %x", k, f);
    return b;
}
std::string special(int32_t k) { return key(k, flag::SPECIAL_KEY); }

// Decodes frames in turn (one decode per frame, as the loop does).
std::vector<std::string> decode(const std::vector<std::string>& frames, int32_t origin_row = 0) {
    input_decoder d;
    d.origin_row = origin_row;
    recorder r;
    for (const std::string& f : frames) {
        d.append(f.data(), f.size());
        d.decode(r);
    }
    return r.got;
}

struct key_case {
    std::string bytes;
    std::vector<std::string> want;
};

TEST(TuiInput, KeysFromSequences) {
    const key_case cases[] = {
        {"\x1b[A\x1b[B\x1b[C\x1b[D",
         {special(KEY_UP), special(KEY_DOWN), special(KEY_RIGHT), special(KEY_LEFT)}},
        {"\x1bOA\x1bOB\x1bOC\x1bOD",
         {special(KEY_UP), special(KEY_DOWN), special(KEY_RIGHT), special(KEY_LEFT)}},
        // Every Home and End form.
        {"\x1b[H\x1b[1~\x1b[7~\x1bOH",
         {special(KEY_HOME), special(KEY_HOME), special(KEY_HOME), special(KEY_HOME)}},
        {"\x1b[F\x1b[4~\x1b[8~\x1bOF",
         {special(KEY_END), special(KEY_END), special(KEY_END), special(KEY_END)}},
        {"\x1b[3~\x1b[5~\x1b[6~",
         {special(KEY_DELETE), special(KEY_PAGE_UP), special(KEY_PAGE_DOWN)}},
        {"\x1bOP\x1bOS\x1b[15~\x1b[19~\x1b[20~\x1b[24~",
         {special(-31), special(-34), special(-35), special(-38), special(-39), special(-42)}},
        // Back-tab: Tab with shift.
        {"\x1b[Z", {key(9, flag::SHIFT)}},
        // Modified forms, Insert and unknown sequences give nothing.
        {"\x1b[1;5A\x1b[15;2~\x1b[2~\x1b[99~\x1b[5A", {}},
        // ESC and two bytes are one unknown pair, both consumed.
        {"\x1bxy", {}},
        {"\x1bxyz", {key('z')}},
        // Backspace and line feed as the keys fields expect; NUL is nothing.
        {"\x08\n\r\t", {key(127), key(13), key(13), key(9)}},
        {std::string("a\0b", 3), {key('a'), key('b')}},
        {"\x7f\x01\x1a", {key(127), key(1), key(26)}},
        // Ctrl-C halts rather than being a key.
        {"a\x03"
         "b",
         {key('a'), "halt", key('b')}},
        // Text, wide characters and four-byte ones; broken UTF-8 is dropped.
        {"h\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80", {key('h'), key(0xE9), key(0x4E2D), key(0x1F600)}},
        {"\xff\xc0\xaf"
         "a\xe0\x80\x80"
         "b\xed\xa0\x80"
         "c",
         {key('a'), key('b'), key('c')}},
        // A sequence abandoned at an ESC: the ESC starts the next one.
        {"\x1b[12\x1b[A", {special(KEY_UP)}},
        // Operating-system commands and device control strings end at BEL
        // or at ESC and a backslash, and are dropped whole.
        {"\x1b]0;title\x07x\x1b]0;t\x1b\\y\x1bPdata\x1b\\z", {key('x'), key('y'), key('z')}},
        // A cursor report.
        {"\x1b[7;12R", {"report 6 11"}},
    };
    for (const key_case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        EXPECT_EQ(decode({c.bytes}), c.want);
    }
}

TEST(TuiInput, LoneEscapeIsTheKey) {
    EXPECT_EQ(decode({"\x1b"}), std::vector<std::string>{key(27)});
    // After other bytes an ESC waits a frame for the rest of its sequence.
    EXPECT_EQ(decode({"a\x1b", ""}), (std::vector<std::string>{key('a'), key(27)}));
    EXPECT_EQ(decode({"a\x1b", "[B"}), (std::vector<std::string>{key('a'), special(KEY_DOWN)}));
}

TEST(TuiInput, SequencesCutByReadsFinishLater) {
    // F5 cut after ESC [ 1: once, when the rest comes.
    EXPECT_EQ(decode({"\x1b[1", "5~"}), std::vector<std::string>{special(-35)});
    EXPECT_EQ(decode({"x\x1b[1", "5", "~y"}),
              (std::vector<std::string>{key('x'), special(-35), key('y')}));
    // A character cut in the middle.
    EXPECT_EQ(decode({"\xf0\x9f", "\x98\x80"}), std::vector<std::string>{key(0x1F600)});
    EXPECT_EQ(decode({"\x1b]2;long", " title", "\x07k"}), std::vector<std::string>{key('k')});
    EXPECT_EQ(decode({"\x1b[<0;10;", "5M"}), std::vector<std::string>{"button 1 9 4 0"});
}

TEST(TuiInput, MouseReports) {
    const key_case cases[] = {
        // Down then up, the inline area starting at row 3 (below).
        {"\x1b[<0;10;5M\x1b[<0;10;5m", {"button 1 9 1 0", "button 2 9 1 0"}},
        // A report while the button is held is a drag: motion with `down`.
        {"\x1b[<0;10;5M\x1b[<32;12;5M", {"button 1 9 1 0", "motion 11 1 2000000"}},
        // Motion with no button.
        {"\x1b[<35;3;4M", {"motion 2 0 0"}},
        // The wheel.
        {"\x1b[<65;1;1M\x1b[<64;2;4M", {"wheel -1 0 -3 0", "wheel 1 1 0 0"}},
        // Modifiers: shift, alt, control.
        {"\x1b[<4;1;4M\x1b[<24;1;4m", {"button 1 0 0 20000000", "button 2 0 0 50000000"}},
        // Middle and right buttons.
        {"\x1b[<1;1;4M\x1b[<1;1;4m\x1b[<2;1;4M\x1b[<2;1;4m",
         {"button 3 0 0 0", "button 4 0 0 0", "button 5 0 0 0", "button 6 0 0 0"}},
        // Two buttons held: each keeps its own state, so two ups.
        {"\x1b[<0;1;4M\x1b[<2;1;4M\x1b[<0;1;4m\x1b[<2;1;4m",
         {"button 1 0 0 0", "button 5 0 0 0", "button 2 0 0 0", "button 6 0 0 0"}},
        // Codes 6 and 7 and reports without three parameters are dropped.
        {"\x1b[<66;1;4M\x1b[<0;1M\x1b[<0;1;2;3M", {}},
    };
    for (const key_case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        EXPECT_EQ(decode({c.bytes}, 3), c.want);
    }
}

TEST(TuiInput, HugeInputStaysBounded) {
    // A parameter of a million digits saturates and the sequence ends.
    std::string big = "\x1b[<" + std::string(1000000, '9') + ";1;1Mq";
    std::vector<std::string> got = decode({big});
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), key('q'));
    // Split across many frames, the same.
    std::vector<std::string> frames;
    frames.push_back("\x1b[");
    for (int i = 0; i < 10; ++i) frames.push_back(std::string(100000, '7'));
    frames.push_back("~q");
    EXPECT_EQ(decode(frames), std::vector<std::string>{key('q')});
    // A string command past its limit is dropped as it comes, up to its end.
    std::vector<std::string> osc = {"\x1b]" + std::string(input_decoder::STRING_LIMIT + 10, 'a')};
    osc.push_back(std::string(100, 'b'));
    osc.push_back("bb\x07z");
    EXPECT_EQ(decode(osc), std::vector<std::string>{key('z')});
    input_decoder d;
    recorder r;
    d.append(osc[0].data(), osc[0].size());
    d.decode(r);
    EXPECT_LT(d.pending(), 2u);
}

// A sink whose key runs a nested loop's decoding of the same buffer, as a
// modal requester opened from an actor does.
class nesting final : public input_sink {
public:
    input_decoder* d = nullptr;
    std::vector<int32_t> keys;
    bool clear_inside = false;
    void key(int32_t k, uint32_t) override {
        keys.push_back(k);
        if (k == 'n') {
            if (clear_inside) d->clear();
            else d->decode(*this);
        }
    }
    void button(int32_t, int32_t, int32_t, uint32_t) override {}
    void motion(int32_t, int32_t, uint32_t) override {}
    void wheel(int32_t, int32_t, int32_t, uint32_t) override {}
    void halt() override {}
    void report(int32_t, int32_t) override {}
};

TEST(TuiInput, NestedDecodingSharesTheBuffer) {
    for (bool clear : {false, true}) {
        SCOPED_TRACE(clear);
        input_decoder d;
        nesting sink;
        sink.d = &d;
        sink.clear_inside = clear;
        d.append("ansb", 4);
        d.decode(sink);
        // Each key once; emptied inside, nothing after the nested loop.
        EXPECT_EQ(sink.keys, clear ? (std::vector<int32_t>{'a', 'n'})
                                   : (std::vector<int32_t>{'a', 'n', 's', 'b'}));
        EXPECT_EQ(d.pending(), 0u);
    }
}

}  // namespace
}  // namespace zuv::tui
