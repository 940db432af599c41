// Zuvbin in boot mode: definitions, words bound by root position (both
// layouts), root bases, and the end of a start-up whose image is damaged.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "codecs/zuvbin.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime_fixture.h"

using namespace zuv;

namespace {

using bytes = std::vector<uint8_t>;

// A compact stream, version 1, with a symbol table of the given names.
bytes compact(const std::vector<std::string>& names, const bytes& records) {
    bytes s = {'Z', 'U',
               'V', 'B',
               'I', 'N',
               1,   static_cast<uint8_t>(names.empty() ? 1 : 5),
               1,   static_cast<uint8_t>(records.size())};
    if (!names.empty()) {
        std::string area;
        bytes offsets;
        for (const auto& n : names) {
            uint32_t off = static_cast<uint32_t>(area.size());
            for (int i = 0; i < 4; i++) offsets.push_back(static_cast<uint8_t>(off >> (8 * i)));
            area += n;
            area.push_back('\0');
        }
        s.push_back(static_cast<uint8_t>(names.size()));
        s.push_back(static_cast<uint8_t>(area.size()));
        s.insert(s.end(), offsets.begin(), offsets.end());
        s.insert(s.end(), area.begin(), area.end());
    }
    s.insert(s.end(), records.begin(), records.end());
    return s;
}

void put32(bytes& b, uint32_t v) {
    for (int i = 0; i < 4; i++) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A plain stream with one name (padded to 8) and the given record words.
bytes plain(const std::string& name, const std::vector<uint32_t>& words) {
    bytes s = {'Z', 'U', 'V', 'B', 'I', 'N', 1, 4};
    std::string area = name;
    area.push_back('\0');
    while (area.size() % 8) area.push_back('\0');
    put32(s, 1);
    put32(s, static_cast<uint32_t>(words.size() * 4));
    put32(s, 1);
    put32(s, static_cast<uint32_t>(area.size()));
    put32(s, 0);
    s.insert(s.end(), area.begin(), area.end());
    for (uint32_t w : words) put32(s, w);
    return s;
}

class ZuvbinBoot : public zuv::testing::Runtime {
protected:
    cell_t* target() {
        cell_t* t = stack::push_slot();
        t->header = TYPE_unset;
        block::make_at(t, 4);
        return t;
    }
    static int32_t global_integer(const char* name) {
        cell_t w = word::make_global(symbol::make(name));
        const cell_t* v = _context::get(&w);
        EXPECT_EQ(type_of(v), TYPE_integer);
        return integer::get(v);
    }
};

TEST_F(ZuvbinBoot, DefinitionsSetTheirWordAndLeaveNothing) {
    // zbt-def: 42, then 7 as an ordinary root value.
    cell_t* t = target();
    bytes s = compact({"zbt-def"}, {0xC4, 0x10, 0x00, 0x0B, 0x54, 0x87});
    EXPECT_EQ(zuvbin::decode(s.data(), static_cast<int64_t>(s.size()), t, false), 0);
    ASSERT_EQ(block::abs_length(t), 1);
    EXPECT_EQ(integer::get(block::rs_abs_at(t, 0)), 7);
    EXPECT_EQ(global_integer("zbt-def"), 42);
}

TEST_F(ZuvbinBoot, PlainDefinitionUsesHeaderBit25) {
    cell_t* t = target();
    bytes s = plain("zbt-plain",
                    {TYPE_set_word | 1u << 25, 0, 0xFFFFFFFFu, 0xFFFFFFFFu, TYPE_integer, 9});
    zuvbin::decode(s.data(), static_cast<int64_t>(s.size()), t, false);
    EXPECT_EQ(block::abs_length(t), 0);
    EXPECT_EQ(global_integer("zbt-plain"), 9);
}

TEST_F(ZuvbinBoot, WordsBindByRootPositionFromTheRootBase) {
    cell_t* t = target();
    // Two cells already there: positions count from the third.
    cell_t n;
    integer::make_at(&n, 0);
    block::rs_append(t, &n);
    block::rs_append(t, &n);
    // Root 0: an object [a: 5 b: 6]; root 1: the word b bound by index 1;
    // root 2: the word a looked up by name (index -1).
    bytes records = {0x20, 0x02, 0x0E, 0x1A, 0x02, 0x00, 0x01, 0x85, 0x86,
                     0x4F, 0x01, 0x00, 0x02, 0x4F, 0x00, 0x00, 0x01};
    bytes s = compact({"a", "b"}, records);
    EXPECT_EQ(zuvbin::decode(s.data(), static_cast<int64_t>(s.size()), t, false), 2);
    ASSERT_EQ(block::abs_length(t), 5);
    cell_t b = *block::rs_abs_at(t, 3);
    cell_t a = *block::rs_abs_at(t, 4);
    EXPECT_EQ(integer::get(_context::get(&b)), 6);
    EXPECT_EQ(integer::get(_context::get(&a)), 5);
    EXPECT_EQ(b.data1, block::rs_abs_at(t, 2)->data1);
}

TEST_F(ZuvbinBoot, PlainBootWordsAndUnboundWordsGoGlobal) {
    cell_t* t = target();
    // An unbound word (root position -1) is bound to the global context.
    bytes s = plain("zbt-global", {TYPE_word, 0, 0xFFFFFFFFu, 0xFFFFFFFFu});
    zuvbin::decode(s.data(), static_cast<int64_t>(s.size()), t, false);
    ASSERT_EQ(block::abs_length(t), 1);
    EXPECT_EQ(block::rs_abs_at(t, 0)->data1, _context::global_node);
}

TEST_F(ZuvbinBoot, BadRootPositionsAreRecordFaults) {
    const std::vector<bytes> cases = {
        {0x4F, 0x00, 0x05, 0x00},  // no root value at 5
        {0x85, 0x4F, 0x00, 0x00, 0x00},  // root 0 is an integer
        {0xC4, 0x85},  // a definition before an integer
        {0xC4, 0x05, 0x00},  // a definition before a block
    };
    for (const bytes& records : cases) {
        cell_t* t = target();
        bytes s = compact({"a"}, records);
        EXPECT_EQ(zuv::testing::raised(
                      [&] { zuvbin::decode(s.data(), static_cast<int64_t>(s.size()), t, false); }),
                  err::rb_invalid_record);
    }
}

TEST_F(ZuvbinBoot, InvalidDataNamesTheBytesWhenNoArgumentIsGiven) {
    cell_t* t = target();
    bytes s = {'Z', 'U', 'V', 'B', 'I', 'N', 2, 3, 4, 0, 0, 0, 9, 9, 9, 9};
    EXPECT_EQ(zuv::testing::raised(
                  [&] { zuvbin::decode(s.data(), static_cast<int64_t>(s.size()), t, true); }),
              err::invalid_data);
    const cell_t* e = stack::top();
    ASSERT_EQ(type_of(e), TYPE_error);
    const cell_t* arg = error::field(e, error::FIELD_ARG1);
    ASSERT_EQ(type_of(arg), TYPE_binary);
    ASSERT_EQ(binary::rs_length_q(arg), static_cast<int32_t>(s.size()));
    EXPECT_EQ(std::memcmp(binary::rs_head(arg), s.data(), s.size()), 0);
}

// Runs the boot load in a child process; its standard output and status.
std::pair<std::string, int> boot_in_child(const bytes& image) {
    int pipe_fds[2];
    EXPECT_EQ(pipe(pipe_fds), 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(pipe_fds[1], STDOUT_FILENO);
        close(pipe_fds[0]);
        zuvbin::boot_load(image.data(), static_cast<int64_t>(image.size()), false);
        _exit(0);
    }
    close(pipe_fds[1]);
    std::string out;
    char buf[256];
    ssize_t n;
    while ((n = read(pipe_fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    close(pipe_fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST_F(ZuvbinBoot, DamagedImagesEndTheProcessWithAStatus) {
    struct {
        bytes image;
        const char* message;
    } cases[] = {
        {{'Z', 'U', 'V', 'X', 'I', 'N', 1, 5, 1, 1, 0x85}, "Error: Not a Zuvbin file!"},
        {{'Z', 'U', 'V', 'B', 'I', 'N', 1, 7, 9, 0, 0, 0, 1, 2, 3},
         "Error: Zuvbin compressed data corrupted!"},
        {{'Z', 'U', 'V', 'B', 'I', 'N', 1, 1, 1, 2, 0x05, 0x09},
         "ZUVBIN - invalid record at index 12"},
    };
    for (const auto& c : cases) {
        auto [out, status] = boot_in_child(c.image);
        EXPECT_NE(out.find(c.message), std::string::npos) << out;
        EXPECT_EQ(status, 99);
    }
}

}  // namespace
