#include <gtest/gtest.h>

#include <cmath>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "runtime/build_info.h"
#include "runtime/lowrt.h"
#include "runtime/platform/dynamic_library.h"
#include "runtime/platform/platform.h"

using namespace zuv;

TEST(Platform, WaitNeverSleepsLessThanOneMillisecond) {
    struct {
        double seconds;
        int64_t ms;
    } cases[] = {{0, 1}, {0.0004, 1}, {0.0025, 2}, {1.5, 1500}, {-3, 1}, {NAN, 1}};
    for (auto& c : cases) EXPECT_EQ(platform::wait_ms(c.seconds), c.ms) << c.seconds;
}

TEST(Platform, ZonePacking) {
    struct {
        int minutes;
        uint32_t hours, quarters;
        bool west;
    } cases[] = {{330, 5, 2, false}, {-210, 3, 2, true}, {0, 0, 0, false},
                 {-480, 8, 0, true}, {345, 5, 3, false}, {-45, 0, 3, true}};
    for (auto& c : cases) {
        uint32_t z = platform::pack_zone(c.minutes);
        EXPECT_EQ((z >> 2) & 0x0F, c.hours) << c.minutes;
        EXPECT_EQ(z & 3, c.quarters) << c.minutes;
        EXPECT_EQ((z & 0x40) != 0, c.west) << c.minutes;
    }
}

TEST(Platform, TimeOfDayIsWholeSecondsUnlessPrecise) {
    double t = platform::get_time(false);
    EXPECT_EQ(t, std::floor(t));
    EXPECT_GE(t, 0);
    EXPECT_LT(t, 86400);
}

TEST(Platform, DateFields) {
    uint32_t d = platform::get_date(true);
    EXPECT_GE(d >> 17, 2024u);
    uint32_t month = (d >> 12) & 0x1F, day = (d >> 7) & 0x1F;
    EXPECT_GE(month, 1u);
    EXPECT_LE(month, 12u);
    EXPECT_GE(day, 1u);
    EXPECT_LE(day, 31u);
    EXPECT_EQ(d & 0x7F, 0u);  // UTC has no zone
}

TEST(Platform, CurrentDirRoundTrip) {
    std::string here = platform::get_current_dir();
    ASSERT_FALSE(here.empty());
    EXPECT_TRUE(platform::set_current_dir("/"));
    EXPECT_EQ(platform::get_current_dir(), "/");
    EXPECT_TRUE(platform::set_current_dir(here.c_str()));
    EXPECT_FALSE(platform::set_current_dir("/no/such/folder/here"));
}

// A library table as the loaders write it: one function of a soname.
template <const char* Soname, const char* Function> struct one_function_api {
    decltype(&::strlen) length;
    static constexpr const char* SONAME = Soname;
    bool bind(void* library) { return platform::bind_function(library, Function, &length); }
};
constexpr char LIBC[] = "libc.so.6", ABSENT_LIBRARY[] = "libzuv-absent.so.0";
constexpr char STRLEN[] = "strlen", ABSENT_FUNCTION[] = "zuv_absent_function";

TEST(Platform, LibrariesLoadedAtFirstUse) {
    using libc_api = one_function_api<LIBC, STRLEN>;
    using no_library_api = one_function_api<ABSENT_LIBRARY, STRLEN>;
    using no_function_api = one_function_api<LIBC, ABSENT_FUNCTION>;
    const libc_api* libc = platform::load_library<libc_api>();
    ASSERT_NE(libc, nullptr);
    EXPECT_EQ(libc->length("four"), 4u);
    EXPECT_EQ(platform::load_library<libc_api>(), libc);
    // Neither a missing library nor a missing function gives a table.
    EXPECT_EQ(platform::load_library<no_library_api>(), nullptr);
    EXPECT_EQ(platform::load_library<no_function_api>(), nullptr);
    // A missing function leaves no stale pointer behind.
    decltype(&::strlen) length = &::strlen;
    EXPECT_FALSE(platform::bind_function(platform::open_library(LIBC), ABSENT_FUNCTION, &length));
    EXPECT_EQ(length, nullptr);
}

TEST(Lowrt, RuntimeErrorBlock) {
    char text[160];
    lowrt::format_error(94, 0x1A2B, text, sizeof text);
    EXPECT_STREQ(text, "\n*** Runtime Error 94: out of memory\n*** at: 00001A2Bh\n");
    lowrt::format_error(7, 0xDEADBEEF, text, sizeof text);
    EXPECT_STREQ(text, "\n*** Runtime Error 7: float divide by zero\n*** at: DEADBEEFh\n");
    EXPECT_STREQ(lowrt::message(6), "float denormal operan");
    EXPECT_STREQ(lowrt::message(57), "unknown error code!");
}

TEST(Lowrt, SignalsMapToRuntimeErrors) {
    struct {
        int sig, code;
        bool guard;
        int error;
    } cases[] = {{SIGSEGV, SEGV_MAPERR, false, 32},
                 {SIGSEGV, SEGV_ACCERR, true, 19},
                 {SIGFPE, FPE_INTDIV, false, 13},
                 {SIGFPE, FPE_FLTDIV, false, 7},
                 {SIGFPE, 0, false, 33},
                 {SIGILL, ILL_ILLOPN, false, 23},
                 {SIGILL, ILL_BADSTK, false, 19},
                 {SIGBUS, BUS_ADRALN, false, 2},
                 {SIGBUS, 0, false, 34}};
    for (auto& c : cases)
        EXPECT_EQ(lowrt::signal_error(c.sig, c.code, c.guard), c.error) << c.sig << "/" << c.code;
}

TEST(Build, DateTextIsADateLiteral) {
    std::string text = zuv::build::date_text();
    // d-Mmm-yyyy/hh:mm:ss
    int day = 0, year = 0, h = -1, m = -1, s = -1;
    char month[4] = {};
    ASSERT_EQ(
        std::sscanf(text.c_str(), "%d-%3[A-Za-z]-%d/%d:%d:%d", &day, month, &year, &h, &m, &s), 6)
        << text;
    EXPECT_TRUE(day >= 1 && day <= 31 && year >= 2024 && h >= 0 && h < 24 && m >= 0 && m < 60 &&
                s >= 0 && s < 60)
        << text;
    EXPECT_TRUE(std::isupper(static_cast<unsigned char>(month[0]))) << text;
}
