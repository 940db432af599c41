#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "codecs/base_n.h"
#include "needs_tool.h"

using namespace zuv;
using base_n::bytes_t;

namespace {

bytes_t from_hex(std::string_view hex) {
    bytes_t out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return out;
}

using encoder_t = void (*)(const uint8_t*, size_t, std::string&);
using decoder_t = std::optional<bytes_t> (*)(const void*, size_t, uint32_t);

struct base_t {
    int base;
    encoder_t encode;
    decoder_t decode;
};

const base_t BASES[] = {
    {2, base_n::encode_2, base_n::decode_2},
    {16, base_n::encode_16, base_n::decode_16},
    {58, base_n::encode_58, base_n::decode_58},
    {64, base_n::encode_64, base_n::decode_64},
};

const base_t& base(int b) {
    for (const base_t& x : BASES) {
        if (x.base == b) return x;
    }
    throw std::logic_error("no such base");
}

std::string encode(int b, const bytes_t& data) {
    std::string out;
    base(b).encode(data.data(), data.size(), out);
    return out;
}

// The text as code points of the given unit, little-endian.
std::vector<uint8_t> widen(const std::u32string& text, uint32_t unit) {
    std::vector<uint8_t> out;
    for (char32_t c : text) {
        for (uint32_t i = 0; i < unit; i++)
            out.push_back(static_cast<uint8_t>(static_cast<uint32_t>(c) >> (8 * i)));
    }
    return out;
}

// Decodes in every unit that can hold the text; all must agree.
std::optional<bytes_t> decode(int b, const std::u32string& text) {
    std::optional<bytes_t> first;
    bool have = false;
    for (uint32_t unit : {1u, 2u, 4u}) {
        bool fits = true;
        for (char32_t c : text)
            fits = fits && static_cast<uint32_t>(c) < (unit == 4 ? 0x110000u : 1u << (8 * unit));
        if (!fits) continue;
        std::vector<uint8_t> w = widen(text, unit);
        std::optional<bytes_t> r = base(b).decode(w.data(), text.size(), unit);
        if (have) {
            EXPECT_EQ(r, first) << "unit " << unit << " disagrees";
        }
        first = r;
        have = true;
    }
    return first;
}

struct encode_case_t {
    int base;
    std::string hex;
    std::string text;
};

TEST(BaseN, EncodeTable) {
    const encode_case_t cases[] = {
        {2, "", ""},
        {2, "A5", "10100101"},
        {2, "0180", "0000000110000000"},
        {16, "", ""},
        {16, "00ABCDEF10", "00ABCDEF10"},
        {16, "ff", "FF"},
        {58, "", ""},
        {58, "0000", "11"},
        {58, "00", "1"},
        {58, "000000287FB4CD", "111233QC4"},
        {58, "48656C6C6F20576F726C6421", "2NEpo7TZRRrLZSi2U"},  // "Hello World!"
        {58, "FF", "5Q"},
        {64, "", ""},
        {64, "41", "QQ=="},
        {64, "4142", "QUI="},
        {64, "414243", "QUJD"},
        {64, "FBFF", "+/8="},
    };
    for (const encode_case_t& t : cases) {
        EXPECT_EQ(encode(t.base, from_hex(t.hex)), t.text) << "base " << t.base << " of " << t.hex;
    }
}

// The raw encoders fill a caller-sized buffer and return its end.
TEST(BaseN, EncodersStayInsideTheRoomTheyAskFor) {
    for (size_t n : {0u, 1u, 2u, 3u, 4u, 31u}) {
        bytes_t zeros(n, 0), ones(n, 0xFF);
        for (const bytes_t* data : {&zeros, &ones}) {
            std::vector<char> room(base_n::encoded_size_58(n) + 1, '#');
            char* end = base_n::encode_58(data->data(), n, room.data());
            EXPECT_LE(end - room.data(), static_cast<ptrdiff_t>(base_n::encoded_size_58(n)));
            EXPECT_EQ(room.back(), '#') << n;
            std::vector<char> room64(base_n::encoded_size_64(n) + 1, '#');
            EXPECT_EQ(base_n::encode_64(data->data(), n, room64.data()) - room64.data(),
                      static_cast<ptrdiff_t>(base_n::encoded_size_64(n)));
            EXPECT_EQ(room64.back(), '#') << n;
        }
    }
}

struct decode_case_t {
    int base;
    std::u32string text;
    std::optional<std::string> hex;  // nullopt: invalid
};

TEST(BaseN, DecodeTable) {
    const std::optional<std::string> invalid;
    const decode_case_t cases[] = {
        // base 2: blanks and comments skipped, whole bytes only
        {2, U"", ""},
        {2, U"10100101", "A5"},
        {2, U" 1010 0101\n\t00000001", "A501"},
        {2, U"1010; not digits 2\n0101", "A5"},
        {2, U"101001010101", invalid},  // 12 digits
        {2, U"1010010", invalid},
        {2, U"10100102", invalid},
        // base 16: either case, an unpaired last digit dropped
        {16, U"", ""},
        {16, U"00ff Aa\n10", "00FFAA10"},
        {16, U"ABC", "AB"},
        {16, U"AB;CD\nEF", "ABEF"},
        {16, U"AG", invalid},
        {16, U"#AB", invalid},
        // a character whose low 7 bits are a digit is still not one
        {16, U"\u0141\u0141", invalid},  // 0x141: low bits 'A'
        {16, U"\u00C1\u00C1", invalid},  // 0xC1: low bits 'A'
        {16, U"A\U0001F641", invalid},
        // base 58
        {58, U"", ""},
        {58, U"11", "0000"},
        {58, U"111233QC4", "000000287FB4CD"},
        {58, U"2NEpo7TZRR'rLZSi2U", "48656C6C6F20576F726C6421"},
        {58, U"2NEpo7TZRR\n rLZSi2U ; comment 0OIl\n", "48656C6C6F20576F726C6421"},
        {58, U"0", invalid},
        {58, U"O", invalid},
        {58, U"I", invalid},
        {58, U"l", invalid},
        {58, U"5Q\x01", invalid},
        // a code point above 127 is invalid, not the end of the text
        {58, U"5Q\u00E95Q", invalid},
        // base 64
        {64, U"", ""},
        {64, U"QQ==", "41"},
        {64, U"QQ=", "41"},
        {64, U"QQ", ""},
        {64, U"QUI=", "4142"},
        {64, U"QUJD", "414243"},
        {64, U"QUJDQQ", "414243"},  // pending values without "=" are dropped
        {64, U"Q=", invalid},  // one pending value
        {64, U"=", invalid},
        {64, U"QUJD=", invalid},
        {64, U"Q'U\tJ\r\nD\f \b", "414243"},
        {64, U"QU;JD\nJD", "414243"},
        {64, U"QUJD\u00C9", invalid},
        {64, U"QUJ-", invalid},
        {64, U"QUJ\x01", invalid},
        {64, U"+/8=", "FBFF"},
        // whole groups of 1-byte text go four digits at a time; whatever
        // breaks a group takes the careful path, which hands back after it
        {64, U"QUJDQUJDQUJD", "414243414243414243"},
        {64, U"QUJDQU JDQUJDQUJD", "414243414243414243414243"},
        {64, U"QUJDQUJ;x\nDQUJD", "414243414243414243"},
        {64, U"QUJDQUJD;x\nQUJDQUI=QUJD", "4142434142434142434142"},
        {64, U"QUJDQUJDQU==QUJD", "41424341424341"},
        {64, U"QUJDQUJD\u00C9QUJD", invalid},
        {64, U"QUJDQUJDQUJ\u00FF", invalid},
        {64, U"QUJDQUJDQUJDQ", "414243414243414243"},
    };
    for (const decode_case_t& t : cases) {
        std::optional<bytes_t> got = decode(t.base, t.text);
        std::string shown =
            ::testing::PrintToString(std::vector<uint32_t>(t.text.begin(), t.text.end()));
        if (!t.hex) {
            EXPECT_FALSE(got.has_value()) << "base " << t.base << " of " << shown;
        } else {
            EXPECT_EQ(got, std::optional<bytes_t>(from_hex(*t.hex)))
                << "base " << t.base << " of " << shown;
        }
    }
}

// What the standard Python modules make of random byte strings, against the
// encoders and decoders here; base 58 from Python's big integers.
const char* ORACLE = R"PY(
import base64, random
random.seed(20240519)
def b58(b):
    alphabet = '123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz'
    n = int.from_bytes(b, 'big')
    out = ''
    while n:
        n, r = divmod(n, 58)
        out = alphabet[r] + out
    return '1' * (len(b) - len(b.lstrip(b'\0'))) + out
for i in range(10000):
    size = random.choice([0, 1, 2, 3, 4, 5, random.randrange(100), random.randrange(300)])
    b = bytes(random.randrange(256) if random.random() < 0.9 else 0 for _ in range(size))
    if i % 7 == 0: b = bytes(random.randrange(4)) + b
    print('\t'.join(['x' + b.hex(), 'x' + base64.b16encode(b).decode(), 'x' + base64.b64encode(b).decode(),
                     'x' + base64.encodebytes(b).decode().replace('\n', '~'),
                     'x' + ''.join(format(c, '08b') for c in b), 'x' + b58(b)]))
)PY";

TEST(BaseN, AgreesWithPython) {
    ZUV_NEEDS_TOOL(access("/usr/bin/python3", X_OK) == 0, "no /usr/bin/python3");
    ASSERT_EQ(setenv("ZUV_BASE_N_ORACLE", ORACLE, 1), 0);
    FILE* in = popen("/usr/bin/python3 -c \"$ZUV_BASE_N_ORACLE\" 2>/dev/null", "r");
    ASSERT_NE(in, nullptr);
    std::string all;
    char chunk[65536];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, in)) > 0;) all.append(chunk, n);
    int status = pclose(in);
    ZUV_NEEDS_TOOL(status == 0 || !all.empty(), "python3 did not run");
    ASSERT_EQ(status, 0);

    std::istringstream lines(all);
    std::string line;
    int checked = 0;
    while (std::getline(lines, line)) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string s; std::getline(fields, s, '\t');)
            f.push_back(s.substr(1));  // drop the 'x' guard
        ASSERT_EQ(f.size(), 6u) << line;
        bytes_t data = from_hex(f[0]);
        std::string wrapped = f[3];
        for (char& c : wrapped) c = c == '~' ? '\n' : c;

        ASSERT_EQ(encode(16, data), f[1]) << f[0];
        ASSERT_EQ(encode(64, data), f[2]) << f[0];
        ASSERT_EQ(encode(2, data), f[4]) << f[0];
        ASSERT_EQ(encode(58, data), f[5]) << f[0];
        ASSERT_EQ(base_n::decode_16(f[1]), data) << f[1];
        ASSERT_EQ(base_n::decode_64(f[2]), data) << f[2];
        ASSERT_EQ(base_n::decode_64(wrapped), data) << f[3];
        ASSERT_EQ(base_n::decode_2(f[4]), data) << f[4];
        ASSERT_EQ(base_n::decode_58(f[5]), data) << f[5];
        checked++;
    }
    EXPECT_EQ(checked, 10000);
}

}  // namespace
