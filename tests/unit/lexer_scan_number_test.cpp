// The literal scanners behind conversions of text to integers, floats and
// tuples, over all three character units.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "lexer/lexer.h"

namespace {

using namespace zuv::lexer;

// The same text in 1-, 2- and 4-byte units.
struct texts_t {
    std::string u8;
    std::u16string u16;
    std::u32string u32;
    explicit texts_t(const std::string& s)
        : u8(s), u16(s.begin(), s.end()), u32(s.begin(), s.end()) {}
    int32_t size() const { return static_cast<int32_t>(u8.size()); }
};

TEST(LexerScanNumber, Integers) {
    struct {
        const char* text;
        int32_t value;
        int32_t error;
    } cases[] = {{"0", 0, 0},
                 {"+5", 5, 0},
                 {"-5", -5, 0},
                 {"1'000", 1000, 0},
                 {"1''0'", 10, 0},
                 {"2147483647", 2147483647, 0},
                 {"-2147483648", INT32_MIN, 0},
                 {"2147483648", 0, -2},
                 {"-21474836480", 0, -2},
                 {"99999999999999999999", 0, -2},
                 {"12a", 0, -1},
                 {"1.5", 0, -1},
                 {" 1", 0, -1},
                 {"+-1", 0, -1}};
    for (const auto& c : cases) {
        texts_t t(c.text);
        int32_t error = 99;
        EXPECT_EQ(scan_integer(t.u8.data(), t.size(), 1, &error), c.value) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
        EXPECT_EQ(scan_integer(t.u16.data(), t.size(), 2, &error), c.value) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
        EXPECT_EQ(scan_integer(t.u32.data(), t.size(), 4, &error), c.value) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
}

TEST(LexerScanNumber, Floats) {
    struct {
        const char* text;
        double value;
    } good[] = {{"1.5", 1.5}, {"1,5", 1.5}, {"1'000.5", 1000.5}, {"-2e3", -2000.0},
                {".5", 0.5},  {"1.", 1.0},  {"7", 7.0},          {"1E-2", 0.01}};
    for (const auto& c : good) {
        texts_t t(c.text);
        int32_t error = 99;
        EXPECT_EQ(scan_float(t.u8.data(), t.size(), 1, &error), c.value) << c.text;
        EXPECT_EQ(error, 0) << c.text;
        EXPECT_EQ(scan_float(t.u16.data(), t.size(), 2, &error), c.value) << c.text;
        EXPECT_EQ(scan_float(t.u32.data(), t.size(), 4, &error), c.value) << c.text;
    }
    std::string long_text(313, '1');
    for (const std::string& bad :
         {std::string("."), std::string("+-1"), std::string("1e"), std::string("1x"),
          std::string(""), std::string("1.2.3"), long_text}) {
        texts_t t(bad);
        int32_t error = 0;
        EXPECT_TRUE(std::isnan(scan_float(t.u8.data(), t.size(), 1, &error))) << bad;
        EXPECT_EQ(error, -1) << bad;
    }
    std::string longest(312, '1');
    int32_t error = -1;
    scan_float(longest.data(), 312, 1, &error);
    EXPECT_EQ(error, 0);
}

TEST(LexerScanNumber, FloatSyntax) {
    for (const char* ok :
         {"1", "1.5", "1.5e10", "1e+5", "-1.5E-5", "1'000", ".5", "++1", "1'000.5"})
        EXPECT_TRUE(
            float_syntax_q(reinterpret_cast<const uint8_t*>(ok), static_cast<int32_t>(strlen(ok))))
            << ok;
    for (const char* bad : {"", "e5", "1e", "1.5.", "'1", "1''0", "1x", "1e5.0"})
        EXPECT_FALSE(float_syntax_q(reinterpret_cast<const uint8_t*>(bad),
                                    static_cast<int32_t>(strlen(bad))))
            << bad;
}

TEST(LexerScanNumber, Tuples) {
    uint8_t bytes[12];
    texts_t three("1.2.3");
    ASSERT_EQ(scan_tuple_bytes(three.u16.data(), three.size(), 2, bytes), 3);
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[2], 3);
    texts_t twelve("1.2.3.4.5.6.7.8.9.10.11.255");
    ASSERT_EQ(scan_tuple_bytes(twelve.u8.data(), twelve.size(), 1, bytes), 12);
    EXPECT_EQ(bytes[11], 255);
    for (const char* bad :
         {"1.2.256", "1.2.3.4.5.6.7.8.9.10.11.12.13", "1..2", "1.2.", "", "1.a.3", "1.2.:"}) {
        texts_t t(bad);
        EXPECT_EQ(scan_tuple_bytes(t.u32.data(), t.size(), 4, bytes), -1) << bad;
    }
}

}  // namespace
