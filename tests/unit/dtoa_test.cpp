#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "needs_tool.h"
#include "runtime/dtoa.h"

using namespace zuv;

namespace {

double read(const std::string& s, int32_t extra = 0, int32_t* unused = nullptr) {
    return dtoa::strtod(s.data(), s.data() + s.size(), extra, unused);
}

uint64_t bits(double d) {
    uint64_t b;
    std::memcpy(&b, &d, 8);
    return b;
}

double from_bits(uint64_t b) {
    double d;
    std::memcpy(&d, &b, 8);
    return d;
}

const double inf = std::numeric_limits<double>::infinity();

}  // namespace

TEST(Dtoa, FormatTexts) {
    struct {
        double value;
        const char* with_point;
        const char* without_point;
    } cases[] = {
        {1.0, "1.0", "1"},
        {0.1, "0.1", "0.1"},
        {123.456, "123.456", "123.456"},
        {-2.5, "-2.5", "-2.5"},
        {1e16, "10000000000000000.0", "10000000000000000"},
        {1e17, "1.0e17", "1e17"},
        {1.5e300, "1.5e300", "1.5e300"},
        {1e-7, "0.0000001", "0.0000001"},
        {1e-8, "1.0e-8", "1e-8"},
        {1.25e-10, "1.25e-10", "1.25e-10"},
        {std::numeric_limits<double>::max(), "1.7976931348623157e308", "1.7976931348623157e308"},
        {std::numeric_limits<double>::denorm_min(), "5.0e-324", "5e-324"},
        {0.0, "0.0", "0"},
        {-0.0, "-0.0", "-0"},
        {inf, "1.#INF", "1.#INF"},
        {-inf, "-1.#INF", "-1.#INF"},
        {std::numeric_limits<double>::quiet_NaN(), "1.#NaN", "1.#NaN"},
        {-std::numeric_limits<double>::quiet_NaN(), "1.#NaN", "1.#NaN"},
        {0.1 + 0.2, "0.30000000000000004", "0.30000000000000004"},
        {123456789012345678.0, "1.2345678901234568e17", "1.2345678901234568e17"},
    };
    for (auto& c : cases) {
        dtoa::text_t a = dtoa::format(c.value, 0, true);
        EXPECT_STREQ(a.c_str(), c.with_point) << c.value;
        EXPECT_EQ(a.length, static_cast<int32_t>(std::strlen(c.with_point)));
        EXPECT_STREQ(dtoa::format(c.value, 0, false).c_str(), c.without_point) << c.value;
    }
}

TEST(Dtoa, DigitsAndSpecialExponents) {
    dtoa::digits_t g = dtoa::dtoa(-123.5, 0, false);
    EXPECT_STREQ(g.digits(), "1235");
    EXPECT_STREQ(g.text(), "-1235");
    EXPECT_EQ(g.exponent, 3);
    EXPECT_EQ(g.count, 4);
    EXPECT_TRUE(g.negative);

    EXPECT_EQ(dtoa::dtoa(inf, 0, true).exponent, dtoa::EXPONENT_SPECIAL);
    EXPECT_EQ(dtoa::dtoa(std::nan(""), 0, true).exponent, dtoa::EXPONENT_SPECIAL);
    EXPECT_EQ(dtoa::dtoa(-0.0, 0, true).exponent, dtoa::EXPONENT_ZERO);
    EXPECT_STREQ(dtoa::dtoa(-0.0, 0, true).text(), "-0.0");
}

TEST(Dtoa, BoundedPrecisionRoundsHalfToEvenAndDropsTrailingZeros) {
    struct {
        double value;
        int precision;
        const char* text;
    } cases[] = {
        {0.125, 2, "0.12"},
        {0.375, 2, "0.38"},
        {2.0 / 3.0, 6, "0.666667"},
        {1.5, 6, "1.5"},
        {45.5, 6, "45.5"},
        {1e23, 6, "1e23"},
        {123456789.0, 6, "123457000"},
        {59.9999999, 6, "60"},
        {0.1, 22, "0.1000000000000000055511"},
    };
    for (auto& c : cases)
        EXPECT_STREQ(dtoa::format(c.value, c.precision, false).c_str(), c.text) << c.value;
}

TEST(Dtoa, StrtodValues) {
    struct {
        const char* text;
        int32_t extra;
        double value;
    } cases[] = {
        {"0.1", 0, 0.1},
        {"9007199254740993", 0, 9007199254740992.0},
        {"9007199254740995", 0, 9007199254740996.0},
        {"1e400", 0, inf},
        {"-1e400", 0, -inf},
        {"1e-400", 0, 0.0},
        {"12.5", -2, 0.125},
        {"+2.5E3", 0, 2500.0},
        {"000123.4500", 0, 123.45},
        {".5", 0, 0.5},
        {"5.", 0, 5.0},
        {"", 0, 0.0},
        {"0.000", 0, 0.0},
        {"1.7976931348623157e308", 0, std::numeric_limits<double>::max()},
        {"1.7976931348623159e308", 0, inf},
        {"4.9406564584124654e-324", 0, std::numeric_limits<double>::denorm_min()},
        {"2.4703282292062327e-324", 0, 0.0},  // below half the smallest subnormal
        {"2.4703282292062328e-324", 0, std::numeric_limits<double>::denorm_min()},
        {"1e99999999999999999999", 0, inf},  // the exponent must not wrap
        {"1e-99999999999999999999", 0, 0.0},
        {"0.00000000000000000000000000000000000000000000001e46", 0, 0.1},
    };
    for (auto& c : cases) {
        double got = read(c.text, c.extra);
        EXPECT_EQ(bits(got), bits(c.value)) << c.text << " gave " << got;
    }
}

TEST(Dtoa, StrtodNegativeZeroAndSpecialTexts) {
    // A negative zero keeps its sign, as format writes it ("-0.0").
    EXPECT_TRUE(std::signbit(read("-0")));
    EXPECT_TRUE(std::signbit(read("-0.0e5")));
    EXPECT_TRUE(std::signbit(read("-1e-400")));
    EXPECT_FALSE(std::signbit(read("0.0")));
    EXPECT_FALSE(std::signbit(read("+0.0")));
    EXPECT_TRUE(std::signbit(read(dtoa::format(-0.0, 0, true).c_str())));
    EXPECT_EQ(read("1.#INF"), inf);
    EXPECT_EQ(read("-1.#INF"), -inf);
    EXPECT_EQ(read("1.#inf"), inf);
    double nan = read("1.#NaN");
    EXPECT_TRUE(std::isnan(nan));
    EXPECT_EQ(bits(nan) >> 32, 0x7FF80000u);
    // The formatted specials read back as themselves.
    for (double d : {inf, -inf}) {
        dtoa::text_t t = dtoa::format(d, 0, true);
        EXPECT_EQ(read(t.c_str()), d);
    }
}

TEST(Dtoa, StrtodReportsUnusedCharacters) {
    int32_t unused = -1;
    read("12.5", 0, &unused);
    EXPECT_EQ(unused, 0);
    read("12.5x7", 0, &unused);
    EXPECT_EQ(unused, 2);
    read("3e", 0, &unused);  // an "e" with nothing after it is not an exponent
    EXPECT_EQ(unused, 1);
    read("1.#INF", 0, &unused);
    EXPECT_EQ(unused, 0);
}

TEST(Dtoa, LongDigitStringsRoundCorrectly) {
    // 2^-1074 x (2k+1)/2 ties need every digit; these are the halfway point
    // between 1 and its successor, written out in full, then nudged.
    std::string half = "1.00000000000000011102230246251565404236316680908203125";
    EXPECT_EQ(read(half), 1.0);  // exact tie: even mantissa wins
    EXPECT_EQ(read(half + "0000000000000000000000000001"), std::nextafter(1.0, 2.0));
    std::string below = "1.000000000000000111022302462515654042363166809082031249999999";
    EXPECT_EQ(read(below), 1.0);
    // 41+ significant digits.
    EXPECT_EQ(read("3.14159265358979323846264338327950288419716939937510"), 3.141592653589793);
    // More digits than any rounding decision can need: the tail is sticky.
    std::string many = "1." + std::string(900, '0') + "1";
    EXPECT_EQ(read(many), 1.0);
    std::string big = "9" + std::string(1000, '9');
    EXPECT_EQ(read(big), inf);
    std::string tie_plus = half.substr(0, half.size()) + std::string(900, '0') + "1";
    EXPECT_EQ(read(tie_plus), std::nextafter(1.0, 2.0));
}

namespace {

// Digits and decimal exponent (value = 0.d1...dn x 10^k) of a plain or
// exponent-notation number text, signs included in the digits.
std::pair<std::string, int> normalise(const std::string& text) {
    std::string digits;
    int point = -1;
    int exp = 0;
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && text[i] == '-') negative = true, i++;
    for (; i < text.size(); i++) {
        char c = text[i];
        if (c == '.') {
            point = static_cast<int>(digits.size());
        } else if (c == 'e' || c == 'E') {
            exp = std::atoi(text.c_str() + i + 1);
            break;
        } else {
            digits += c;
        }
    }
    if (point < 0) point = static_cast<int>(digits.size());
    size_t lead = 0;
    while (lead < digits.size() && digits[lead] == '0') lead++;
    digits.erase(0, lead);
    point -= static_cast<int>(lead);
    while (!digits.empty() && digits.back() == '0') digits.pop_back();
    return {(negative ? "-" : "") + digits, point + exp};
}

}  // namespace

// A million random doubles of every magnitude (subnormals and the extremes
// included) go through the formatter and back bit-identical, and their
// digits agree with CPython's repr, an independent shortest-digits printer.
TEST(Dtoa, OracleRoundTripAndPythonRepr) {
    const int count = 1000000;
    std::vector<double> values;
    values.reserve(count);
    values.push_back(std::numeric_limits<double>::max());
    values.push_back(-std::numeric_limits<double>::max());
    values.push_back(std::numeric_limits<double>::min());
    values.push_back(std::numeric_limits<double>::denorm_min());
    values.push_back(from_bits(0x000FFFFFFFFFFFFFull));  // largest subnormal
    values.push_back(9007199254740993.0);
    std::mt19937_64 gen(20240518);
    std::uniform_int_distribution<int> small(-999999, 999999);
    while (static_cast<int>(values.size()) < count) {
        uint64_t b = gen();
        switch (values.size() % 8) {
        case 0:  // a subnormal
            b &= 0x800FFFFFFFFFFFFFull;
            break;
        case 1:  // a short decimal, the common case in scripts
            values.push_back(small(gen) / 1000.0);
            continue;
        case 2:  // near the top of the range
            b |= 0x7FE0000000000000ull;
            b &= 0xFFEFFFFFFFFFFFFFull;
            break;
        default: break;
        }
        double d = from_bits(b);
        if (!std::isfinite(d) || (d == 0.0 && std::signbit(d))) continue;
        values.push_back(d);
    }

    std::vector<std::string> ours(values.size());
    for (size_t i = 0; i < values.size(); i++) {
        dtoa::text_t t = dtoa::format(values[i], 0, true);
        double back = dtoa::strtod(t.chars, t.chars + t.length, 0);
        ASSERT_EQ(bits(back), bits(values[i])) << t.c_str();
        ours[i] = t.c_str();
    }

    ZUV_NEEDS_TOOL(access("/usr/bin/python3", X_OK) == 0,
                   "no /usr/bin/python3 for the repr comparison");
    char dir[] = "/tmp/zuv_dtoa_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string in = std::string(dir) + "/values.bin";
    std::string out = std::string(dir) + "/repr.txt";
    {
        std::ofstream f(in, std::ios::binary);
        f.write(reinterpret_cast<const char*>(values.data()),
                static_cast<std::streamsize>(values.size() * 8));
    }
    std::string cmd = "/usr/bin/python3 -c \"import sys,array; a=array.array('d'); "
                      "a.frombytes(open(sys.argv[1],'rb').read()); "
                      "open(sys.argv[2],'w').write('\\n'.join(map(repr,a)))\" " +
                      in + " " + out;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::ifstream f(out);
    std::string line;
    size_t i = 0, mismatches = 0;
    while (std::getline(f, line) && i < values.size()) {
        if (normalise(line) != normalise(ours[i])) {
            if (++mismatches <= 10) ADD_FAILURE() << "python " << line << " ours " << ours[i];
        }
        i++;
    }
    EXPECT_EQ(i, values.size());
    EXPECT_EQ(mismatches, 0u);
    std::remove(in.c_str());
    std::remove(out.c_str());
    rmdir(dir);
}
