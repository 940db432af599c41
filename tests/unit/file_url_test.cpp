// file! and url!: mold, percent coding, joins and local paths.
#include <unistd.h>

#include "datatypes/file.h"
#include "datatypes/url.h"
#include "interpreter_fixture.h"
#include "molded.h"
#include "runtime/unicode.h"

namespace zuv::test {
namespace {

class FilesAndUrls : public InterpreterTest {
public:
    // A text of the type from UTF-8.
    static cell_t value(const std::string& utf8, uint8_t type) {
        cell_t s;
        string::make_at(&s, 16);
        anchor(s);
        string::append_utf8(&s, utf8.data(), static_cast<int64_t>(utf8.size()));
        cell::set_type(&s, type);
        return s;
    }
    static std::string utf8_of(const cell_t* s) { return unicode::to_utf8(s); }
    static std::string molded(cell_t v, bool part = false, int32_t limit = -1,
                              int32_t* left = nullptr) {
        return zuv::test::molded(&v, {.limit = part ? limit : -1, .left = left});
    }
};

TEST_F(FilesAndUrls, FileMold) {
    struct {
        const char* name;
        const char* expected;
    } cases[] = {
        {"", "%\"\""},
        {"dir/file.txt", "%dir/file.txt"},
        {"my file", "%\"my file\""},
        {"caf\xc3\xa9", "%caf\xc3\xa9"},
        {"50%", "%\"50%\""},
        {"a;b", "%\"a;b\""},
    };
    for (auto& c : cases) EXPECT_EQ(molded(value(c.name, TYPE_file)), c.expected) << c.name;
    // With a part limit only the first characters are written and tested.
    int32_t left = 0;
    EXPECT_EQ(molded(value("ab cd", TYPE_file), true, 2, &left), "%ab");
    EXPECT_EQ(left, -1);
}

TEST_F(FilesAndUrls, UrlMoldEncodes) {
    struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {"http://host/a b", "http://host/a%20b"},
        {"http://host/50%", "http://host/50%25"},
        {"http://h/caf\xc3\xa9", "http://h/caf%C3%A9"},
        {"http://h/?q=1&r=[2]", "http://h/?q=1&r=%5B2%5D"},
    };
    for (auto& c : cases) EXPECT_EQ(molded(value(c.text, TYPE_url)), c.expected) << c.text;
}

TEST_F(FilesAndUrls, PercentCoding) {
    struct {
        const char* text;
        int mode;
        const char* expected;
    } encodings[] = {
        {"a/b c", url::MODE_UNRESERVED, "a%2Fb%20c"},
        {"a/b c", url::MODE_SAFE, "a/b%20c"},
        {"-._~", url::MODE_UNRESERVED, "-._~"},
        {"\xc3\xa9", url::MODE_SAFE, "%C3%A9"},
    };
    for (auto& e : encodings) {
        cell_t s = value(e.text, TYPE_string);
        cell_t out = value("", TYPE_string);
        url::encode(&s, &out, e.mode);
        EXPECT_EQ(utf8_of(&out), e.expected) << e.text;
    }
    struct {
        const char* text;
        const char* expected;
    } decodings[] = {
        {"%41", "A"},
        {"%c3%A9", "\xc3\xa9"},
        {"%E9", "%E9"},
        {"%E9x", "%E9x"},
        {"a%2", "a%2"},
        {"%zz%41", "%zzA"},
        {"%e4%b8%ad!", "\xe4\xb8\xad!"},
        {"%80", "\xc2\x80"},
    };
    for (auto& d : decodings) {
        cell_t s = value(d.text, TYPE_string);
        cell_t out = value("", TYPE_string);
        url::decode(&s, &out);
        EXPECT_EQ(utf8_of(&out), d.expected) << d.text;
    }
    // A complete escaped sequence that is not UTF-8 is an error.
    cell_t bad = value("%C3%28", TYPE_string);
    cell_t out = value("", TYPE_string);
    EXPECT_EQ(raised_clearing_stacks([&] { url::decode(&bad, &out); }), err::invalid_utf8);
}

TEST_F(FilesAndUrls, UrlFromBlocks) {
    struct {
        const char* block;
        const char* expected;
    } cases[] = {
        {"http host 8080 a", "http://host:8080/a"},
        {"http host", "http://host"},
        {"http host 8080", "http://host:8080"},
        {"ftp host dir file", "ftp://host/dir/file"},
        {"http host page #top", "http://host/page#top"},
    };
    cell_t proto{TYPE_datatype, TYPE_url, 0, 0};
    for (auto& c : cases) {
        cell_t spec = load(c.block);
        cell_t r = in_frame([&] { return url::to(&proto, &spec, TYPE_url); });
        EXPECT_EQ(type_of(&r), TYPE_url);
        EXPECT_EQ(utf8_of(&r), c.expected) << c.block;
    }
    cell_t empty = load("");
    EXPECT_EQ(raised_clearing_stacks([&] { url::to(&proto, &empty, TYPE_url); }), err::bad_to_arg);
    // Any other spec is a string conversion.
    cell_t text = value("http://x", TYPE_string);
    cell_t r = in_frame([&] { return url::make(&proto, &text, TYPE_url); });
    EXPECT_EQ(type_of(&r), TYPE_url);
    EXPECT_EQ(utf8_of(&r), "http://x");
}

TEST_F(FilesAndUrls, PathJoinsKeepOneSlash) {
    struct {
        const char* parent;
        uint8_t type;
        const char* element;  // a file! element when it starts with "/"
        const char* expected;
    } cases[] = {
        {"http://host", TYPE_url, "a", "http://host/a"},
        {"http://host/", TYPE_url, "a", "http://host/a"},
        {"http://host/", TYPE_url, "/a", "http://host/a"},
        {"dir", TYPE_file, "file", "dir/file"},
        {"dir/", TYPE_file, "/file", "dir/file"},
    };
    for (auto& c : cases) {
        cell_t p = value(c.parent, c.type);
        cell_t e = value(c.element, TYPE_string);
        cell_t r = in_frame([&] {
            return url::eval_path(&p, &e, nullptr, nullptr, nullptr, nullptr, 1, false, false, true,
                                  false);
        });
        EXPECT_EQ(type_of(&r), c.type);
        EXPECT_EQ(utf8_of(&r), c.expected) << c.parent << " + " << c.element;
        EXPECT_EQ(utf8_of(&p), c.parent);
    }
    cell_t p = value("http://h", TYPE_url), e = value("a", TYPE_string),
           v = value("x", TYPE_string);
    cell_t path = load("u/a");
    EXPECT_EQ(raised_clearing_stacks([&] {
                  url::eval_path(&p, &e, &v, &path, nullptr, nullptr, 1, false, false, true, false);
              }),
              err::bad_path_set);
}

TEST_F(FilesAndUrls, LocalPathsArePosix) {
    cell_t abs = value("/usr/lib", TYPE_file);
    cell_t out = value("", TYPE_string);
    file::to_local_path(&abs, &out, true);
    EXPECT_EQ(utf8_of(&out), "/usr/lib");
    cell_t rel = value("dir/file", TYPE_file);
    out = value("", TYPE_string);
    file::to_local_path(&rel, &out, false);
    EXPECT_EQ(utf8_of(&out), "dir/file");
    out = value("", TYPE_string);
    file::to_local_path(&rel, &out, true);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    std::string expected = cwd;
    if (expected.back() != '/') expected += '/';
    EXPECT_EQ(utf8_of(&out), expected + "dir/file");
    std::string os;
    EXPECT_TRUE(file::to_os_path(&rel, &os));
    EXPECT_EQ(os, "dir/file");
}

TEST_F(FilesAndUrls, UnsupportedRefinementsOfReadAndWrite) {
    cell_t u = value("https://example.com", TYPE_url);
    cell_t n{TYPE_integer, 0, 1, 0};
    EXPECT_EQ(
        raised_clearing_stacks([&] { url::read(&u, &n, nullptr, false, false, false, nullptr); }),
        err::not_done);
    cell_t f = value("x.txt", TYPE_file);
    EXPECT_EQ(
        raised_clearing_stacks([&] { file::read(&f, nullptr, nullptr, false, false, false, &n); }),
        err::not_done);
}

}  // namespace
}  // namespace zuv::test
