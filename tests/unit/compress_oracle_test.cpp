// Our framings checked against other implementations, both ways: the gzip
// and zstd command-line tools, and Python's zlib, hashlib and hmac. Inputs
// are the shared samples (empty, one byte, text, random, zeros) and one
// 10 MB mix; every random input is seeded.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "codecs/checksum.h"
#include "codecs/crypto.h"
#include "compress_fixture.h"
#include "datatypes/symbol.h"
#include "needs_tool.h"
#include "runtime_fixture.h"

using namespace zuv;
using namespace zuv::test;

namespace {

const codec_t& zlib_codec = codecs[0];
const codec_t& deflate_codec = codecs[1];
const codec_t& gzip_codec = codecs[2];
const codec_t& zstd_codec = codecs[3];

const char* const PYTHON = "/usr/bin/python3";

const char* const python_oracle = R"(
import sys, zlib, hashlib, hmac
mode, src, dst = sys.argv[1:4]
data = open(src, 'rb').read()
if mode == 'zlib-c':
    out = zlib.compress(data)
elif mode == 'zlib-d':
    out = zlib.decompress(data)
elif mode == 'raw-c':
    c = zlib.compressobj(6, zlib.DEFLATED, -15)
    out = c.compress(data) + c.flush()
elif mode == 'raw-d':
    out = zlib.decompress(data, -15)
elif mode == 'gzip-d':
    import gzip
    out = gzip.decompress(data)
else:
    lines = ['crc32 %08x' % zlib.crc32(data), 'adler32 %08x' % zlib.adler32(data)]
    for a in ('md5', 'sha1', 'sha256', 'sha384', 'sha512'):
        lines.append('%s %s' % (a, hashlib.new(a, data).hexdigest()))
        b = 128 if a in ('sha384', 'sha512') else 64
        for n in (b - 1, b, b + 1):
            key = bytes((i * 7 + 1) & 255 for i in range(n))
            lines.append('hmac-%s-%d %s' % (a, n, hmac.new(key, data, a).hexdigest()))
    out = ''.join(line + '\n' for line in lines).encode()
open(dst, 'wb').write(out)
)";

std::string hex(const uint8_t* p, size_t n) {
    std::string s;
    char two[3];
    for (size_t i = 0; i < n; i++) {
        snprintf(two, sizeof two, "%02x", p[i]);
        s += two;
    }
    return s;
}

class Oracle : public zuv::testing::Runtime {
protected:
    void SetUp() override {
        zuv::testing::Runtime::SetUp();
        char pattern[] = "/tmp/zuv-oracle-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    static bool have(const char* tool) {
        return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
    }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    void write(const std::string& name, const bytes& data) const {
        std::ofstream(path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()),
                   static_cast<std::streamsize>(data.size()));
    }

    bytes read(const std::string& name) const {
        std::ifstream f(path(name), std::ios::binary);
        return bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }

    // Runs a shell command in the folder; its exit status.
    int run(const std::string& command) const {
        return std::system(("cd '" + dir_ + "' && " + command).c_str());
    }

    // The tool's output for the input, through files "in" and "out".
    std::optional<bytes> through(const std::string& command, const bytes& input) const {
        write("in", input);
        if (run(command + " < in > out") != 0) return std::nullopt;
        return read("out");
    }

    std::optional<bytes> python(const char* mode, const bytes& input) const {
        write("oracle.py", bytes(python_oracle, python_oracle + strlen(python_oracle)));
        write("in", input);
        if (run(std::string(PYTHON) + " oracle.py " + mode + " in out") != 0) return std::nullopt;
        return read("out");
    }

    static std::vector<sample_t> all_samples() {
        std::vector<sample_t> all = samples();
        bytes mix = random_bytes(5 << 20, 33);
        bytes text = text_bytes(5 << 20, 34);
        mix.insert(mix.end(), text.begin(), text.end());
        all.push_back({"mixed 10 MB", std::move(mix)});
        return all;
    }

    std::string dir_;
};

}  // namespace

TEST_F(Oracle, GzipToolReadsOursAndWeReadItsOutput) {
    ZUV_NEEDS_TOOL(have("gzip"), "no gzip tool");
    for (const sample_t& s : all_samples()) {
        bool big = s.data.size() > (1u << 20);
        for (int level : {-1, 1, 9}) {
            if (level != -1 && big) continue;
            auto ours = compress_as_native(gzip_codec, s.data, level);
            ASSERT_TRUE(ours) << s.name;
            auto back = through("gzip -dc", *ours);
            ASSERT_TRUE(back) << s.name << " level " << level;
            EXPECT_TRUE(*back == s.data) << s.name << " level " << level;
        }
        write("sample.bin", s.data);  // the name goes into the header
        ASSERT_EQ(run("gzip -c sample.bin > named.gz"), 0);
        bytes named = read("named.gz");
        ASSERT_TRUE(named[3] & 8) << "no name stored";
        auto from_named = decompress_as_native(gzip_codec, named);
        ASSERT_TRUE(from_named) << s.name;
        EXPECT_TRUE(*from_named == s.data) << s.name;
        auto best = through(big ? "gzip -1 -n -c" : "gzip -9 -n -c", s.data);
        ASSERT_TRUE(best);
        auto from_best = decompress_as_native(gzip_codec, *best);
        ASSERT_TRUE(from_best) << s.name;
        EXPECT_TRUE(*from_best == s.data) << s.name;
    }
}

// A file of several members decodes to all of them joined, as gzip -dc and
// Python's gzip module read it: the same member twice (the last trailer then
// also matches the first member alone), members of the tool's and of ours,
// and empty members between.
TEST_F(Oracle, GzipMembersAreJoined) {
    ZUV_NEEDS_TOOL(have("gzip"), "no gzip tool");
    std::vector<sample_t> parts = samples();
    bytes text = text_bytes(3000, 41);
    bytes random = random_bytes(5000, 42);
    std::vector<std::vector<bytes>> files = {
        {text, text}, {text, {}, random}, {{}, {}}, {random, text, {0x41}}, {}};
    for (const sample_t& p : parts) files.back().push_back(p.data);
    int n = 0;
    for (const auto& members : files) {
        bytes joined;
        int k = 0;
        for (const bytes& m : members) {
            // Members from the tool and from us, in turn.
            std::optional<bytes> g =
                k++ % 2 ? compress_as_native(gzip_codec, m, -1) : through("gzip -c", m);
            ASSERT_TRUE(g);
            joined.insert(joined.end(), g->begin(), g->end());
        }
        auto tool = through("gzip -dc", joined);
        auto py = python("gzip-d", joined);
        ASSERT_TRUE(tool && py) << "file " << n;
        ASSERT_TRUE(*tool == *py) << "file " << n;
        auto ours = decompress_as_native(gzip_codec, joined);
        ASSERT_TRUE(ours) << "file " << n;
        EXPECT_TRUE(*ours == *tool)
            << "file " << n << ": " << ours->size() << " bytes, not " << tool->size();
        n++;
    }
}

TEST_F(Oracle, ZstdToolReadsOursAndWeReadItsFrames) {
    ZUV_NEEDS_TOOL(have("zstd"), "no zstd tool");
    for (const sample_t& s : all_samples()) {
        bool big = s.data.size() > (1u << 20);
        for (int level : {1, 3, 19}) {
            if (level == 19 && big) continue;
            auto ours = compress_as_native(zstd_codec, s.data, level);
            ASSERT_TRUE(ours) << s.name;
            EXPECT_LE(ours->size(), zstd::compress_bound(s.data.size())) << s.name;
            auto back = through("zstd -q -dc", *ours);
            ASSERT_TRUE(back) << s.name << " level " << level;
            EXPECT_TRUE(*back == s.data) << s.name << " level " << level;
        }
        write("sample.bin", s.data);
        struct {
            const char* command;
            bool small_only;
        } theirs[] = {
            {"zstd -q -c sample.bin", false},  // content size declared
            {"cat sample.bin | zstd -q -c", false},  // from a pipe: no content size
            {"zstd -q -c --no-check sample.bin", false},
            {"zstd -q -1 -c sample.bin", false},
            {"zstd -q -19 -c sample.bin", true},
            {"cat sample.bin | zstd -q -19 -c", true},
        };
        for (auto& t : theirs) {
            if (t.small_only && big) continue;
            ASSERT_EQ(run(std::string(t.command) + " > frame.zst"), 0) << t.command;
            bytes frame = read("frame.zst");
            auto decoded = decompress_as_native(zstd_codec, frame);
            ASSERT_TRUE(decoded) << s.name << ": " << t.command;
            EXPECT_TRUE(*decoded == s.data) << s.name << ": " << t.command;
            uint32_t size = 0;
            uint8_t* buffer = zstd::decompress_alloc(frame.data(), frame.size(), &size);
            EXPECT_EQ(buffer != nullptr, !s.data.empty()) << s.name << ": " << t.command;
            if (buffer) {
                EXPECT_TRUE(bytes(buffer, buffer + size) == s.data) << t.command;
            }
            zstd::free_buffer(buffer);
        }
    }
}

TEST_F(Oracle, PythonZlibBothWays) {
    for (const sample_t& s : all_samples()) {
        struct {
            const codec_t& codec;
            const char* compress_mode;
            const char* decompress_mode;
        } ways[] = {{zlib_codec, "zlib-c", "zlib-d"}, {deflate_codec, "raw-c", "raw-d"}};
        for (auto& w : ways) {
            auto ours = compress_as_native(w.codec, s.data);
            ASSERT_TRUE(ours) << s.name;
            auto back = python(w.decompress_mode, *ours);
            ASSERT_TRUE(back) << s.name << " " << w.codec.name;
            EXPECT_TRUE(*back == s.data) << s.name << " " << w.codec.name;
            auto theirs = python(w.compress_mode, s.data);
            ASSERT_TRUE(theirs) << s.name;
            auto decoded = decompress_as_native(w.codec, *theirs);
            ASSERT_TRUE(decoded) << s.name << " " << w.codec.name;
            EXPECT_TRUE(*decoded == s.data) << s.name << " " << w.codec.name;
        }
    }
}

TEST_F(Oracle, PythonChecksumsDigestsAndHmac) {
    for (const sample_t& s : all_samples()) {
        std::ostringstream ours;
        char line[32];
        snprintf(line, sizeof line, "crc32 %08x\n", checksum::crc32(s.data.data(), s.data.size()));
        ours << line;
        snprintf(line, sizeof line, "adler32 %08x\n",
                 checksum::adler32(s.data.data(), s.data.size()));
        ours << line;
        for (const char* word : {"md5", "sha1", "sha256", "sha384", "sha512"}) {
            int32_t method = symbol::make(word);
            int32_t id = checksum::method_id(method);
            crypto::digest_t d = crypto::get_digest(s.data.data(), s.data.size(), id);
            ours << word << " " << hex(d.bytes, static_cast<size_t>(d.size)) << "\n";
            int32_t block = checksum::hmac_block_size(id);
            for (int32_t n : {block - 1, block, block + 1}) {
                bytes key(static_cast<size_t>(n));
                for (int32_t i = 0; i < n; i++)
                    key[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 7 + 1);
                auto mac =
                    checksum::hmac(s.data.data(), s.data.size(), key.data(), key.size(), method);
                ASSERT_TRUE(mac);
                ours << "hmac-" << word << "-" << n << " "
                     << hex(mac->bytes, static_cast<size_t>(mac->size)) << "\n";
            }
        }
        auto theirs = python("sums", s.data);
        ASSERT_TRUE(theirs) << s.name;
        EXPECT_EQ(ours.str(), std::string(theirs->begin(), theirs->end())) << s.name;
    }
}
