// The piped line reader: lines, CR LF, UTF-8, the end of the input.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "console/stdin.h"
#include "datatypes/string.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "tests/unit/runtime_fixture.h"

namespace zuv {
namespace {

class ConsoleStdin : public testing::Runtime {
protected:
    int saved = -1;

    // Standard input becomes a file holding bytes (a file rather than a
    // pipe: a pipe would block this writer on a long input).
    void feed(const std::string& bytes) {
        char name[] = "/tmp/zuv-stdin-XXXXXX";
        int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        unlink(name);
        ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        lseek(fd, 0, SEEK_SET);
        if (saved < 0) saved = dup(STDIN_FILENO);
        dup2(fd, STDIN_FILENO);
        close(fd);
        terminal::reset_stdin();
    }
    void TearDown() override {
        if (saved >= 0) {
            dup2(saved, STDIN_FILENO);
            close(saved);
        }
        terminal::reset_stdin();
        testing::Runtime::TearDown();
    }
    // Reads lines until the end; each as UTF-8.
    std::vector<std::string> read_all() {
        std::vector<std::string> out;
        for (;;) {
            cell_t* line = stack::push_slot();
            string::make_at(line, 16);
            if (!terminal::stdin_readline(line)) break;
            out.push_back(unicode::to_utf8(line));
        }
        return out;
    }
};

TEST_F(ConsoleStdin, LinesAndLineEnds) {
    struct {
        std::string input;
        std::vector<std::string> lines;
    } cases[] = {
        {"", {}},
        {"a\nb\n", {"a", "b"}},
        {"no final line feed", {"no final line feed"}},
        {"cr lf\r\nnext\r\n", {"cr lf", "next"}},
        {"\n\n", {"", ""}},
        {"lone\rcr\n", {"lone\rcr"}},
        {"\xc3\xa9t\xc3\xa9 \xe2\x9c\x93 \xf0\x9f\x98\x80\n",
         {"\xc3\xa9t\xc3\xa9 \xe2\x9c\x93 \xf0\x9f\x98\x80"}},
    };
    for (auto& c : cases) {
        feed(c.input);
        EXPECT_EQ(read_all(), c.lines) << c.input;
        EXPECT_TRUE(terminal::stdin_ended);
    }
}

// A line longer than the reader's chunk arrives whole.
TEST_F(ConsoleStdin, LongLine) {
    std::string big(200000, 'x');
    feed(big + "\nend\n");
    auto lines = read_all();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], big);
    EXPECT_EQ(lines[1], "end");
}

// After the end every read is empty at once, and the flag stays up.
TEST_F(ConsoleStdin, ReadsAfterTheEnd) {
    feed("last");
    EXPECT_EQ(read_all(), std::vector<std::string>{"last"});
    cell_t* line = stack::push_slot();
    string::make_at(line, 4);
    EXPECT_FALSE(terminal::stdin_readline(line));
    EXPECT_EQ(string::rs_length_q(line), 0);
    EXPECT_EQ(terminal::read_utf8_char(), -1);
}

TEST_F(ConsoleStdin, MalformedUtf8IsAnError) {
    feed("ok\n\xff bad\n");
    cell_t* line = stack::push_slot();
    string::make_at(line, 4);
    EXPECT_TRUE(terminal::stdin_readline(line));
    cell_t* next = stack::push_slot();
    string::make_at(next, 4);
    EXPECT_THROW(terminal::stdin_readline(next), raised_error);
}

TEST_F(ConsoleStdin, CharactersAndBufferedBytes) {
    feed("\xe2\x9c\x93z\nrest");
    EXPECT_EQ(terminal::read_utf8_char(), 0x2713);
    EXPECT_EQ(terminal::read_utf8_char(), 'z');
    EXPECT_EQ(terminal::read_byte(), '\n');
    uint8_t out[8] = {};
    EXPECT_EQ(terminal::take_buffered(out, 8), 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 4), "rest");
}

}  // namespace
}  // namespace zuv
