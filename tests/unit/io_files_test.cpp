// Files and folders: reading, writing, listing, querying, renaming, and the
// pipe paths of the low-level layer.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "io/simple_io.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "runtime_fixture.h"

namespace zuv::testing {
namespace {

class IoFiles : public Runtime {
protected:
    std::string dir;

    void SetUp() override {
        Runtime::SetUp();
        char tmpl[] = "/tmp/zuv-io-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = std::string(tmpl) + "/";
    }
    void TearDown() override {
        if (::chdir("/tmp") != 0) ADD_FAILURE();
        std::system(("rm -rf '" + dir + "'").c_str());
    }

    static void put(const std::string& path, const std::string& bytes) {
        std::ofstream out(path, std::ios::binary);
        out << bytes;
    }
    static std::string slurp(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // A file! pushed on the argument stack.
    static cell_t* file(const std::string& path) {
        cell_t* f = string::load(reinterpret_cast<const uint8_t*>(path.data()),
                                 static_cast<int64_t>(path.size()), string::ENCODING_UTF8);
        cell::set_type(f, TYPE_file);
        return f;
    }
    static cell_t* text(const std::string& utf8) {
        return string::load(reinterpret_cast<const uint8_t*>(utf8.data()),
                            static_cast<int64_t>(utf8.size()), string::ENCODING_UTF8);
    }
    static cell_t* integer_cell(int32_t n) {
        cell_t* c = stack::push_slot();
        cell::begin(c);
        integer::make_at(c, n);
        return c;
    }
    static std::string bytes_of(const cell_t* v) {
        if (type_of(v) == TYPE_binary) {
            cell_t b = *v;
            return std::string(reinterpret_cast<const char*>(binary::rs_head(&b)),
                               static_cast<size_t>(binary::rs_length_q(&b)));
        }
        return unicode::to_utf8(v);
    }
    // The strings of a block, each in brackets: [x][y].
    static std::string lines_of(const cell_t* v) {
        EXPECT_EQ(type_of(v), TYPE_block);
        std::string out;
        cell_t b = *v;
        for (int32_t i = 0; i < block::rs_length_q(&b); i++) {
            cell_t* s = block::rs_abs_at(&b, block::head_index(&b) + i);
            out += "[" + unicode::to_utf8(s) + "]";
        }
        return out;
    }
};

// --- reading ---------------------------------------------------------------------------

TEST_F(IoFiles, ReadsTextLinesAndBinary) {
    struct row {
        const char* name;
        std::string bytes;
        std::string text;  // as one string
        std::string lines;  // as lines, each in brackets
    };
    const row rows[] = {
        {"empty", "", "", ""},
        {"lines with CR LF and an empty line", "x\r\ny\n\nz", "x\ny\n\nz", "[x][y][][z]"},
        {"one line ending with LF", "x\n", "x\n", "[x]"},
        {"no final LF", "a\nb", "a\nb", "[a][b]"},
        {"byte-order mark skipped",
         "\xEF\xBB\xBF"
         "a\r\nb\r\n",
         "a\nb\n", "[a][b]"},
        {"only a byte-order mark", "\xEF\xBB\xBF", "", "[]"},
        {"lone CR", "a\rb\r", "a\nb\n", "[a\rb\r]"},
        {"CR at the very end stays in the last line", "a\nb\r", "a\nb\n", "[a][b\r]"},
        {"UTF-8", "\xC3\xA9t\xC3\xA9\n\xE2\x82\xAC", "\xC3\xA9t\xC3\xA9\n\xE2\x82\xAC",
         "[\xC3\xA9t\xC3\xA9][\xE2\x82\xAC]"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        std::string path = dir + "f.txt";
        put(path, r.bytes);
        cell_t* t = simple_io::read_file(path.c_str(), -1, -1, false, false);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(type_of(t), TYPE_string);
        EXPECT_EQ(bytes_of(t), r.text);
        cell_t* l = simple_io::read_file(path.c_str(), -1, -1, false, true);
        ASSERT_NE(l, nullptr);
        if (r.bytes.empty()) {
            EXPECT_EQ(type_of(l), TYPE_string);  // an empty file is "" in lines mode too
        } else {
            EXPECT_EQ(lines_of(l), r.lines);
        }
        cell_t* b = simple_io::read_file(path.c_str(), -1, -1, true, false);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(type_of(b), TYPE_binary);
        EXPECT_EQ(bytes_of(b), r.bytes);
    }
}

TEST_F(IoFiles, PartAndSeek) {
    std::string path = dir + "f.bin";
    put(path, "0123456789");
    struct row {
        int64_t part, seek;
        const char* want;
    };
    const row rows[] = {
        {0, -1, ""},
        {3, -1, "012"},
        {100, -1, "0123456789"},
        {-5, -1, "0123456789"},
        {-1, 4, "456789"},
        {2, 4, "45"},
        {100, 7, "789"},
        {-1, 9, "9"},
        {-1, 10, ""},
        {-1, 1000, ""},
        {0, 3, ""},
        {-1, 0, "0123456789"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::to_string(r.part) + " " + std::to_string(r.seek));
        for (bool binary : {true, false}) {
            cell_t* v = simple_io::read_file(path.c_str(), r.part, r.seek, binary, false);
            ASSERT_NE(v, nullptr);
            EXPECT_EQ(type_of(v), binary ? TYPE_binary : TYPE_string);
            EXPECT_EQ(bytes_of(v), r.want);
        }
    }
}

TEST_F(IoFiles, ReadFailures) {
    EXPECT_EQ(simple_io::read_file((dir + "missing").c_str(), -1, -1, false, false), nullptr);
    // A folder named without its final slash cannot be read as a file.
    EXPECT_EQ(simple_io::read_file(dir.c_str(), -1, -1, true, false), nullptr);
    std::string missing = dir + "missing";
    EXPECT_EQ(raised([&] { simple_io::read(file(missing), nullptr, nullptr, false, false); }),
              err::cannot_open);
    EXPECT_EQ(raised([&] { simple_io::read(file(dir + "nope/"), nullptr, nullptr, false, false); }),
              err::cannot_open);
    // Bytes that are not UTF-8 are refused in text mode, kept in binary mode.
    put(dir + "bad", "a\xFF"
                     "b");
    EXPECT_EQ(raised([&] { simple_io::read(file(dir + "bad"), nullptr, nullptr, false, false); }),
              err::invalid_utf8);
    EXPECT_EQ(bytes_of(simple_io::read(file(dir + "bad"), nullptr, nullptr, true, false)), "a\xFF"
                                                                                           "b");
}

TEST_F(IoFiles, ReadsAFileOfUnreportedSizeFromAPipe) {
    // A FIFO reports no size: it is read through once, then seek and part
    // apply to what came.
    std::string path = dir + "fifo";
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    std::string payload(200000, 'q');
    payload += "end";
    for (int round = 0; round < 2; round++) {
        std::thread writer([&] {
            int fd = ::open(path.c_str(), O_WRONLY);
            ASSERT_GE(fd, 0);
            EXPECT_EQ(simple_io::write_data(fd, reinterpret_cast<const uint8_t*>(payload.data()),
                                            static_cast<int64_t>(payload.size())),
                      static_cast<int64_t>(payload.size()));
            ::close(fd);
        });
        cell_t* v = round == 0 ? simple_io::read_file(path.c_str(), -1, -1, true, false)
                               : simple_io::read_file(path.c_str(), 5, 199999, true, false);
        writer.join();
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(bytes_of(v), round == 0 ? payload : std::string("qend"));
    }
}

// --- writing ---------------------------------------------------------------------------

TEST_F(IoFiles, WritesTextBinaryAndLines) {
    std::string path = dir + "out.txt";
    cell_t* f = file(path);

    simple_io::write(f, text("a\nb\n"), nullptr, nullptr, false, false, false);
    EXPECT_EQ(slurp(path), "a\nb\n");  // line ends stay LF

    cell_t* b = binary::load(reinterpret_cast<const uint8_t*>("\x00\x01\n"), 3);
    simple_io::write(f, b, nullptr, nullptr, true, false, false);
    EXPECT_EQ(slurp(path), std::string("\x00\x01\n", 3));

    // A block in lines mode: each value's text then LF, molded when not text.
    cell_t* blk = stack::push_slot();
    cell::begin(blk);
    block::make_at(blk, 4);
    string::load_in(reinterpret_cast<const uint8_t*>("x"), 1, blk, string::ENCODING_UTF8);
    cell_t n;
    cell::begin(&n);
    integer::make_at(&n, 42);
    block::rs_append(blk, &n);
    string::load_in(reinterpret_cast<const uint8_t*>(""), 0, blk, string::ENCODING_UTF8);
    simple_io::write(f, blk, nullptr, nullptr, false, false, true);
    EXPECT_EQ(slurp(path), "x\n42\n\n");

    // Any other data in lines mode: its text and one LF.
    simple_io::write(f, text("one"), nullptr, nullptr, false, false, true);
    EXPECT_EQ(slurp(path), "one\n");

    // A block without lines mode is molded.
    simple_io::write(f, blk, nullptr, nullptr, false, false, false);
    EXPECT_EQ(slurp(path), "[\"x\" 42 \"\"]");
}

TEST_F(IoFiles, AppendSeekAndPart) {
    std::string path = dir + "out.txt";
    cell_t* f = file(path);
    put(path, "0123456789");

    simple_io::write(f, text("ab"), nullptr, nullptr, false, true, false);
    EXPECT_EQ(slurp(path), "0123456789ab");  // append keeps the file

    simple_io::write(f, text("XY"), nullptr, integer_cell(3), false, false, false);
    EXPECT_EQ(slurp(path), "012XY56789ab");  // a seek keeps it and overwrites there

    simple_io::write(f, text("new"), nullptr, nullptr, false, false, false);
    EXPECT_EQ(slurp(path), "new");  // neither: replaced

    // part: characters of a string (0 empties it), bytes of a binary (0 keeps it whole).
    simple_io::write(f, text("h\xC3\xA9llo"), integer_cell(2), nullptr, false, false, false);
    EXPECT_EQ(slurp(path), "h\xC3\xA9");
    simple_io::write(f, text("hello"), integer_cell(0), nullptr, false, false, false);
    EXPECT_EQ(slurp(path), "");
    cell_t* b = binary::load(reinterpret_cast<const uint8_t*>("abc"), 3);
    simple_io::write(f, b, integer_cell(0), nullptr, true, false, false);
    EXPECT_EQ(slurp(path), "abc");
    simple_io::write(f, b, integer_cell(2), nullptr, true, false, false);
    EXPECT_EQ(slurp(path), "ab");

    // A negative part writes nothing, the file left as it was.
    EXPECT_EQ(simple_io::write(f, text("zzz"), integer_cell(-1), nullptr, false, false, false), -1);
    EXPECT_EQ(slurp(path), "ab");

    cell_t* t = text("x");
    EXPECT_EQ(raised([&] { simple_io::write(f, t, t, nullptr, false, false, false); }),
              err::invalid_refine_arg);
    EXPECT_EQ(raised([&] {
                  simple_io::write(file(dir + "no/such/file"), t, nullptr, nullptr, false, false,
                                   false);
              }),
              err::cannot_open);
}

TEST_F(IoFiles, WritesEverythingThroughAPipeThatTakesLittleAtATime) {
    // A non-blocking pipe accepts at most its capacity per call: the rest
    // must follow, not be dropped.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
    std::string payload(3 * 1024 * 1024, 'p');
    for (size_t i = 0; i < payload.size(); i += 4093) payload[i] = static_cast<char>('a' + i % 26);
    std::string got;
    std::thread reader([&] {
        char buf[4096];
        ssize_t n;
        while ((n = ::read(fds[0], buf, sizeof buf)) > 0) {
            got.append(buf, static_cast<size_t>(n));
            if (got.size() % (256 * 1024) < 4096)
                ::usleep(1000);  // let the writer run into a full pipe
        }
    });
    int64_t n = simple_io::write_data(fds[1], reinterpret_cast<const uint8_t*>(payload.data()),
                                      static_cast<int64_t>(payload.size()));
    ::close(fds[1]);
    reader.join();
    ::close(fds[0]);
    EXPECT_EQ(n, static_cast<int64_t>(payload.size()));
    EXPECT_TRUE(got == payload);
}

TEST_F(IoFiles, ReadStdinStaysWithinTheBinary) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::string payload(100, 'z');
    ASSERT_EQ(::write(fds[1], payload.data(), payload.size()), 100);
    ::close(fds[1]);
    int saved = ::dup(STDIN_FILENO);
    ::dup2(fds[0], STDIN_FILENO);
    ::close(fds[0]);

    cell_t* b = stack::push_slot();
    cell::begin(b);
    binary::make_at(b, 16);  // 16 bytes of room, though 1000 are asked for
    int32_t room = binary::buffer_of(b)->size;
    int64_t got = simple_io::read_stdin(b, 1000);
    EXPECT_EQ(got, room);
    EXPECT_EQ(binary::rs_length_q(b), room);
    got = simple_io::read_stdin(b, 1000);
    EXPECT_EQ(got, 0);  // full: nothing more is read

    cell_t* c = stack::push_slot();
    cell::begin(c);
    binary::make_at(c, 200);
    got = simple_io::read_stdin(c, 1000);
    EXPECT_EQ(got, 100 - room);
    EXPECT_EQ(binary::rs_length_q(c), 100 - room);
    EXPECT_EQ(simple_io::read_stdin(c, 1000), 0);  // end of input

    ::dup2(saved, STDIN_FILENO);
    ::close(saved);
}

// --- folders, names and queries --------------------------------------------------------------

TEST_F(IoFiles, DirByText) {
    struct row {
        const char* path;
        bool dir;
    };
    const row rows[] = {{"a/", true},    {".", true},    {"..", true}, {"a/.", true},
                        {"a/..", true},  {"/", true},    {"", false},  {"a.", false},
                        {"a..b", false}, {"x..", false}, {"a", false}, {"./a", false}};
    for (const row& r : rows) {
        SCOPED_TRACE(r.path);
        EXPECT_EQ(simple_io::dir_q(file(r.path)), r.dir);
    }
}

TEST_F(IoFiles, ListsInNameOrder) {
    put(dir + "b.txt", "");
    put(dir + "A.txt", "");
    put(dir + "\xC3\xA9t\xC3\xA9.txt", "");
    ASSERT_EQ(::mkdir((dir + "sub").c_str(), 0700), 0);
    ASSERT_EQ(::symlink("sub", (dir + "link").c_str()), 0);
    cell_t* listing = simple_io::read(file(dir), nullptr, nullptr, false, false);
    EXPECT_EQ(lines_of(listing), "[A.txt][b.txt][link/][sub/][\xC3\xA9t\xC3\xA9.txt]");
    cell_t b = *listing;
    EXPECT_EQ(type_of(block::rs_abs_at(&b, 0)), TYPE_file);

    // "." names the folder itself; the root is listed as any folder.
    ASSERT_EQ(::chdir(dir.c_str()), 0);
    EXPECT_EQ(lines_of(simple_io::read(file("."), nullptr, nullptr, false, false)),
              lines_of(listing));
    cell_t* root = simple_io::read(file("/"), nullptr, nullptr, false, false);
    EXPECT_NE(lines_of(root).find("[tmp/]"), std::string::npos);
}

TEST_F(IoFiles, QueryGivesTheModificationTimeInUtc) {
    std::string path = dir + "q.txt";
    put(path, "x");
    timespec times[2] = {{0, UTIME_OMIT},
                         {1700000000, 123456789}};  // 14-Nov-2023 22:13:20.123456789 UTC
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    cell_t* d = simple_io::query(file(path));
    ASSERT_EQ(type_of(d), TYPE_date);
    uint32_t packed = date::get(d);
    EXPECT_EQ(date::year_of(packed), 2023);
    EXPECT_EQ(date::month_of(packed), 11);
    EXPECT_EQ(date::day_of(packed), 14);
    EXPECT_EQ(date::zone_of(packed), 0u);
    EXPECT_NEAR(date::get_time(d), 22 * 3600 + 13 * 60 + 20.123456789, 1e-6);

    // Against stat for a file written now.
    put(dir + "now", "y");
    struct stat st;
    ASSERT_EQ(::stat((dir + "now").c_str(), &st), 0);
    cell_t* n = simple_io::query(file(dir + "now"));
    ASSERT_EQ(type_of(n), TYPE_date);
    int64_t days = date::to_days(date::get(n)) - date::to_days(date::pack(1970, 1, 1, 0, false));
    double seconds = static_cast<double>(days) * 86400 + date::get_time(n);
    EXPECT_NEAR(seconds, static_cast<double>(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec / 1e9, 1e-6);

    EXPECT_EQ(type_of(simple_io::query(file(dir + "missing"))), TYPE_none);
    EXPECT_EQ(type_of(simple_io::query(file(path + "/"))), TYPE_none);  // a file is no folder
    EXPECT_EQ(type_of(simple_io::query(file(dir))), TYPE_date);
}

TEST_F(IoFiles, RenameNeverReplaces) {
    put(dir + "a", "A");
    put(dir + "b", "B");
    EXPECT_FALSE(simple_io::rename(file(dir + "a"), file(dir + "b")));
    EXPECT_EQ(slurp(dir + "a"), "A");
    EXPECT_EQ(slurp(dir + "b"), "B");
    ASSERT_EQ(::mkdir((dir + "d").c_str(), 0700), 0);
    EXPECT_FALSE(simple_io::rename(file(dir + "a"), file(dir + "d")));
    EXPECT_TRUE(simple_io::rename(file(dir + "a"), file(dir + "c")));
    EXPECT_EQ(slurp(dir + "c"), "A");
    EXPECT_FALSE(simple_io::file_exists_q((dir + "a").c_str()));
    EXPECT_FALSE(simple_io::rename(file(dir + "a"), file(dir + "e")));  // gone
}

TEST_F(IoFiles, DeleteMakeDirAndExists) {
    put(dir + "f", "x");
    EXPECT_TRUE(simple_io::exists_q(file(dir + "f")));
    EXPECT_TRUE(simple_io::delete_(file(dir + "f")));
    EXPECT_FALSE(simple_io::exists_q(file(dir + "f")));
    EXPECT_FALSE(simple_io::delete_(file(dir + "f")));

    simple_io::create_dir(file(dir + "d/"));
    EXPECT_TRUE(simple_io::exists_q(file(dir + "d/")));
    EXPECT_EQ(raised([&] { simple_io::create_dir(file(dir + "d/")); }), err::no_create);
    EXPECT_EQ(raised([&] { simple_io::create_dir(file(dir + "x/y/")); }), err::no_create);
    EXPECT_FALSE(simple_io::delete_(file(dir + "d")));  // without the slash it names a file
    EXPECT_TRUE(simple_io::delete_(file(dir + "d/")));
    EXPECT_FALSE(simple_io::exists_q(file(dir + "d/")));
    EXPECT_FALSE(simple_io::exists_q(file("")));
}

TEST_F(IoFiles, SizeOfAFile) {
    put(dir + "s", "12345");
    EXPECT_EQ(simple_io::size_q(file(dir + "s")), 5);
    EXPECT_EQ(simple_io::size_q(file(dir + "missing")), -1);
    EXPECT_EQ(simple_io::size_q(file(dir)), -1);
}

// Opening a FIFO for reading waits for a writer; asking its size must not.
TEST_F(IoFiles, SizeOfAFifoWithoutWriterDoesNotWait) {
    ASSERT_EQ(::mkfifo((dir + "fifo").c_str(), 0600), 0);
    EXPECT_EQ(simple_io::size_q(file(dir + "fifo")), 0);
}

}  // namespace
}  // namespace zuv::testing
