// The floating-point math natives against Python's math module: the same
// libm formulas must give the same bits. 10,000 random arguments per native
// inside its domain go to Python as bit patterns and come back as the bits
// of each result; outside the domains a table holds the NaNs and infinities.
#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "datatypes/float.h"
#include "natives/natives.h"
#include "needs_tool.h"
#include "runtime/stack.h"
#include "runtime_fixture.h"

namespace zuv {
namespace {

constexpr int32_t OFF = -1;
constexpr int SAMPLES = 10000;

// One native as Python computes it. `python` is an expression of x (and y
// for two arguments) with math imported and EPS the snapping threshold.
struct native_case_t {
    const char* name;
    native_entry_t entry;
    bool radians;
    bool two_args;
    const char* python;
    std::function<double(std::mt19937_64&)> draw;
};

// A double spread over many magnitudes: a random mantissa scaled by 2^e,
// e in [lo, hi].
double spread(std::mt19937_64& rng, int lo, int hi) {
    double m = std::uniform_real_distribution<double>(1.0, 2.0)(rng);
    return std::ldexp(m, std::uniform_int_distribution<int>(lo, hi)(rng));
}

double signed_spread(std::mt19937_64& rng, int lo, int hi) {
    return (rng() & 1) ? spread(rng, lo, hi) : -spread(rng, lo, hi);
}

double uniform(std::mt19937_64& rng, double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng);
}

// Angles: mostly a few turns, some tiny (the snap below epsilon), some huge.
double angle(std::mt19937_64& rng) {
    switch (rng() % 4) {
    case 0: return signed_spread(rng, -70, -40);
    case 1: return signed_spread(rng, 4, 60);
    default: return uniform(rng, -10.0, 10.0);
    }
}

class NativesMathOracle : public testing::Runtime {
protected:
    static double run(native_entry_t entry, double x, double y, bool two_args, bool radians) {
        int32_t refs[1] = {radians ? 1 : OFF};
        stack::mark_native(nullptr);
        cell_t a{};
        float_::make_at(&a, x);
        stack::push(&a);
        if (two_args) {
            float_::make_at(&a, y);
            stack::push(&a);
        }
        entry(0, refs);
        double r = float_::get(stack::arguments);
        stack::unwind();
        stack::arguments = stack::top_slot = stack::bottom;
        return r;
    }
};

TEST_F(NativesMathOracle, SameBitsAsPythonMath) {
    ZUV_NEEDS_TOOL(access("/usr/bin/python3", X_OK) == 0, "no /usr/bin/python3");
    const std::vector<native_case_t> cases = {
        {"sine", natives::sine, true, false, "(lambda r: 0.0 if abs(r) < EPS else r)(math.sin(x))",
         angle},
        {"cosine", natives::cosine, true, false,
         "(lambda r: 0.0 if abs(r) < EPS else r)(math.cos(x))", angle},
        {"tangent", natives::tangent, true, false,
         "math.inf if x == math.pi / 2 else (-math.inf if x == -math.pi / 2 else math.tan(x))",
         angle},
        {"arcsine", natives::arcsine, true, false, "math.asin(x)",
         [](auto& r) { return uniform(r, -1, 1); }},
        {"arccosine", natives::arccosine, true, false, "math.acos(x)",
         [](auto& r) { return uniform(r, -1, 1); }},
        {"arctangent", natives::arctangent, true, false, "math.atan(x)",
         [](auto& r) { return signed_spread(r, -30, 60); }},
        {"arctangent2", natives::arctangent2, true, true, "math.atan2(x, y)",
         [](auto& r) { return signed_spread(r, -20, 20); }},
        {"arcsine-degrees", natives::arcsine, false, false, "math.asin(x) * 180.0 / math.pi",
         [](auto& r) { return uniform(r, -1, 1); }},
        {"arctangent2-degrees", natives::arctangent2, false, true,
         "math.atan2(x, y) * 180.0 / math.pi", [](auto& r) { return signed_spread(r, -20, 20); }},
        {"log-2", natives::log_2, false, false, "math.log(x) / 0.6931471805599453",
         [](auto& r) { return spread(r, -1070, 1020); }},
        {"log-10", natives::log_10, false, false, "math.log10(x)",
         [](auto& r) { return spread(r, -1070, 1020); }},
        {"log-e", natives::log_e, false, false, "math.log(x)",
         [](auto& r) { return spread(r, -1070, 1020); }},
        {"exp", natives::exp, false, false, "math.pow(math.e, x)",
         [](auto& r) { return uniform(r, -745.0, 709.7); }},
        {"square-root", natives::square_root, false, false, "math.sqrt(x)",
         [](auto& r) { return spread(r, -1074, 1023); }},
    };

    char dir[] = "/tmp/zuv-libm-oracle-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string input = std::string(dir) + "/args.txt", script = std::string(dir) + "/oracle.py";
    std::mt19937_64 rng(31337);
    std::vector<std::vector<std::pair<double, double>>> args(cases.size());
    {
        FILE* f = fopen(input.c_str(), "w");
        ASSERT_NE(f, nullptr);
        for (size_t c = 0; c < cases.size(); c++) {
            for (int i = 0; i < SAMPLES; i++) {
                double x = cases[c].draw(rng), y = cases[c].two_args ? cases[c].draw(rng) : 0.0;
                args[c].push_back({x, y});
                fprintf(f, "%zu %016" PRIx64 " %016" PRIx64 "\n", c, std::bit_cast<uint64_t>(x),
                        std::bit_cast<uint64_t>(y));
            }
        }
        fclose(f);
        f = fopen(script.c_str(), "w");
        ASSERT_NE(f, nullptr);
        fputs("import math, struct, sys\nEPS = 2.220446049250313e-16\nF = [\n", f);
        for (const auto& c : cases) fprintf(f, "    lambda x, y: %s,\n", c.python);
        fputs("]\n"
              "def d(h): return struct.unpack('<d', bytes.fromhex(h)[::-1])[0]\n"
              "for line in open(sys.argv[1]):\n"
              "    c, x, y = line.split()\n"
              "    r = F[int(c)](d(x), d(y))\n"
              "    print(struct.pack('>d', r).hex())\n",
              f);
        fclose(f);
    }
    std::string command = "/usr/bin/python3 " + script + " " + input;
    FILE* p = popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char line[64];
    int mismatches = 0;
    size_t read = 0;
    for (size_t c = 0; c < cases.size(); c++) {
        for (const auto& [x, y] : args[c]) {
            if (!fgets(line, sizeof line, p)) break;
            read++;
            double expected = std::bit_cast<double>(std::strtoull(line, nullptr, 16));
            double ours = run(cases[c].entry, x, y, cases[c].two_args, cases[c].radians);
            if (std::bit_cast<uint64_t>(ours) != std::bit_cast<uint64_t>(expected) &&
                ++mismatches <= 10)
                ADD_FAILURE() << cases[c].name << " of " << x
                              << (cases[c].two_args ? " and " + std::to_string(y) : "") << ": ours "
                              << ours << ", Python " << expected;
        }
    }
    EXPECT_EQ(pclose(p), 0);
    EXPECT_EQ(read, cases.size() * SAMPLES);
    EXPECT_EQ(mismatches, 0);
    std::remove(input.c_str());
    std::remove(script.c_str());
    rmdir(dir);
}

// Outside the domains (where Python raises) the natives give what the libm
// functions give: NaN and infinities, never an error.
TEST_F(NativesMathOracle, OutsideTheDomains) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* name;
        native_entry_t entry;
        double x;
        double expected;
    } cases[] = {
        {"log-2 0", natives::log_2, 0.0, -inf},
        {"log-2 -1", natives::log_2, -1.0, nan},
        {"log-10 0", natives::log_10, 0.0, -inf},
        {"log-10 -0.5", natives::log_10, -0.5, nan},
        {"log-e -0", natives::log_e, -0.0, -inf},
        {"log-e -inf", natives::log_e, -inf, nan},
        {"log-e inf", natives::log_e, inf, inf},
        {"exp 710", natives::exp, 710.0, inf},
        {"exp -746", natives::exp, -746.0, 0.0},
        {"exp -inf", natives::exp, -inf, 0.0},
        {"square-root -1", natives::square_root, -1.0, nan},
        {"square-root inf", natives::square_root, inf, inf},
        {"arcsine 1.5", natives::arcsine, 1.5, nan},
        {"arccosine -2", natives::arccosine, -2.0, nan},
        {"sine inf", natives::sine, inf, nan},
        {"cosine -inf", natives::cosine, -inf, nan},
        {"tangent nan", natives::tangent, nan, nan},
    };
    for (const auto& c : cases) {
        double r = run(c.entry, c.x, 0.0, false, true);
        if (std::isnan(c.expected)) EXPECT_TRUE(std::isnan(r)) << c.name << " gave " << r;
        else
            EXPECT_EQ(std::bit_cast<uint64_t>(r), std::bit_cast<uint64_t>(c.expected))
                << c.name << " gave " << r;
    }
}

}  // namespace
}  // namespace zuv
