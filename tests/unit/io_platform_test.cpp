// The command line, the environment map and the system description.
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "io/platform_io.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "runtime_fixture.h"

extern char** environ;

namespace zuv::testing {
namespace {

using IoPlatform = Runtime;

TEST_F(IoPlatform, KernelReleaseBecomesAClampedTuple) {
    struct row {
        const char* release;
        uint8_t a, b, c;
    };
    const row rows[] = {{"6.1.0-18-amd64", 6, 1, 0},
                        {"5.15.153.1-microsoft-standard-WSL2", 5, 15, 153},
                        {"4.19", 4, 19, 0},
                        {"300.1000.256", 255, 255, 255},
                        {"7", 7, 0, 0},
                        {"", 0, 0, 0},
                        {"x.1", 0, 0, 0},
                        {"99999999999999999999.2.3", 255, 2, 3}};
    for (const row& r : rows) {
        SCOPED_TRACE(r.release);
        uint8_t out[3];
        platform::parse_release(r.release, out);
        EXPECT_EQ(out[0], r.a);
        EXPECT_EQ(out[1], r.b);
        EXPECT_EQ(out[2], r.c);
    }
}

TEST_F(IoPlatform, BuildNumberFromTheKernelVersion) {
    const std::pair<const char*, int32_t> rows[] = {
        {"#1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1 (2024-02-01)", 1},
        {"#104-Ubuntu SMP Tue Jan 9 15:25:40 UTC 2024", 104},
        {"#2147483647", 2147483647},
        {"#2147483648 SMP", 0},
        {"SMP #3", 0},
        {"#", 0},
        {"", 0}};
    for (auto [version, build] : rows) EXPECT_EQ(platform::build_number(version), build) << version;
}

TEST_F(IoPlatform, ArchitectureWords) {
    const std::pair<const char*, const char*> rows[] = {
        {"x86_64", "x86-64"}, {"i686", "x86-32"}, {"i386", "x86-32"},     {"aarch64", "ARM64"},
        {"armv7l", "ARM"},    {"ia64", "IA-64"},  {"riscv64", "Unknown"}, {"", "Unknown"}};
    for (auto [machine, arch] : rows) EXPECT_STREQ(platform::arch_name(machine), arch) << machine;
}

TEST_F(IoPlatform, OsInfoObject) {
    cell_t* obj = platform::get_os_info();
    ASSERT_EQ(type_of(obj), TYPE_object);
    struct utsname u;
    ASSERT_EQ(::uname(&u), 0);
    node_t ctx = object::context_of(obj);
    auto field = [&](const char* name) { return _context::get_in(symbol::make(name), ctx); };
    ASSERT_NE(field("name"), nullptr);
    EXPECT_EQ(unicode::to_utf8(field("name")), "Linux");
    EXPECT_EQ(type_of(field("arch")), TYPE_word);
    EXPECT_STREQ(symbol::get_utf8(word::symbol_of(field("arch"))), platform::arch_name(u.machine));
    cell_t* version = field("version");
    ASSERT_EQ(type_of(version), TYPE_tuple);
    uint8_t want[3];
    platform::parse_release(u.release, want);
    EXPECT_EQ(tuple::length_of(version), 3);
    EXPECT_EQ(std::memcmp(tuple::bytes_of(version), want, 3), 0);
    ASSERT_EQ(type_of(field("build")), TYPE_integer);
    EXPECT_EQ(integer::get(field("build")), platform::build_number(u.version));
    // The four fields, in order.
    ASSERT_EQ(object::word_count(obj), 4);
    const char* order[] = {"name", "arch", "version", "build"};
    for (int32_t i = 0; i < 4; i++)
        EXPECT_STREQ(symbol::get_utf8(word::symbol_of(object::get_word(ctx, i))), order[i]);
}

TEST_F(IoPlatform, CommandLineStartsWithTheProgramPath) {
    std::string line = platform::command_line_text();
    char exe[4096];
    ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    exe[n] = 0;
    std::string path(exe);
    bool quoted = path.find_first_of(" \t") != std::string::npos;
    EXPECT_EQ(line.rfind(quoted ? "\"" + path + "\"" : path, 0), 0u) << line;
}

TEST_F(IoPlatform, ListEnvHoldsExactlyTheEnvironment) {
    // As under `env -i`: only the variables given.
    std::vector<std::string> saved;
    for (char** e = environ; *e; e++) saved.emplace_back(*e);
    ASSERT_EQ(::clearenv(), 0);
    static char odd[] = "=x=1";  // a name may begin with "="; the value starts after the second one
    ::setenv("A", "1", 1);
    ::setenv("EMPTY", "", 1);
    ::setenv("UTF", "\xC3\xA9t\xC3\xA9", 1);
    ::setenv("EQ", "a=b", 1);
    ::putenv(odd);

    std::map<std::string, std::string> got;
    cell_t* m = platform::list_env();
    ASSERT_EQ(type_of(m), TYPE_map);
    cell_t entries;
    block::init_value(&entries, TYPE_block, map::block_of(m));
    for (int32_t i = 0; i + 1 < block::abs_length(&entries); i += 2) {
        cell_t* value = block::rs_abs_at(&entries, i + 1);
        if (value->header == 0) continue;
        got[unicode::to_utf8(block::rs_abs_at(&entries, i))] = unicode::to_utf8(value);
    }
    std::map<std::string, std::string> want{
        {"A", "1"}, {"EMPTY", ""}, {"UTF", "\xC3\xA9t\xC3\xA9"}, {"EQ", "a=b"}, {"=x", "1"}};
    EXPECT_EQ(got, want);

    ::clearenv();
    for (const std::string& e : saved) {
        size_t eq = e.find('=', 1);
        if (eq != std::string::npos) ::setenv(e.substr(0, eq).c_str(), e.c_str() + eq + 1, 1);
    }
}

}  // namespace
}  // namespace zuv::testing
