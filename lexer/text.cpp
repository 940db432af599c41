// Character-level reading shared by the scanners and loaders: UTF-8
// decoding, the blank code points between tokens, and caret escapes.
#include <cstring>

#include "lexer/lexer.h"

namespace zuv::lexer {

const uint8_t* decode_utf8(const uint8_t* p, const uint8_t* end, int32_t* cp) {
    uint32_t b = *p;
    if (b < 0x80) {
        *cp = static_cast<int32_t>(b);
        return p + 1;
    }
    int n;
    uint32_t c, min;
    if (b >= 0xC2 && b <= 0xDF) {
        n = 1, c = b & 0x1F, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 2, c = b & 0x0F, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 3, c = b & 0x07, min = 0x10000;
    } else {
        return nullptr;
    }
    if (end - p <= n) return nullptr;
    for (int i = 1; i <= n; ++i) {
        if ((p[i] & 0xC0) != 0x80) return nullptr;
        c = (c << 6) | (p[i] & 0x3Fu);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return nullptr;
    *cp = static_cast<int32_t>(c);
    return p + n + 1;
}

bool is_blank_code_point(int32_t cp) {
    switch (cp) {
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x180E:
    case 0x200B:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000: return true;
    default: return cp >= 0x2000 && cp <= 0x200A;
    }
}

namespace {

bool same_name(const uint8_t* p, const uint8_t* end, const char* name) {
    size_t n = std::strlen(name);
    if (static_cast<size_t>(end - p) != n) return false;
    for (size_t i = 0; i < n; ++i)
        if ((p[i] | 0x20) != static_cast<uint8_t>(name[i])) return false;
    return true;
}

}  // namespace

const uint8_t* decode_escape(const uint8_t* p, const uint8_t* end, int32_t* cp) {
    ++p;  // the caret
    if (p >= end) return nullptr;
    uint8_t c = *p;
    if (c == '(') {
        const uint8_t* close = p + 1;
        while (close < end && *close != ')' && close - p <= 8) ++close;
        if (close >= end || *close != ')') return nullptr;
        const uint8_t* body = p + 1;
        static const struct {
            const char* name;
            int32_t code;
        } names[] = {{"null", 0},  {"back", 8}, {"tab", 9},  {"line", 10},
                     {"page", 12}, {"esc", 27}, {"del", 127}};
        for (const auto& n : names) {
            if (same_name(body, close, n.name)) {
                *cp = n.code;
                return close + 1;
            }
        }
        if (close == body || close - body > 6) return nullptr;
        int32_t v = 0;
        for (const uint8_t* q = body; q < close; ++q) {
            int d = hex_value(*q);
            if (d > 15) return nullptr;
            v = v * 16 + d;
        }
        if (v > 0x10FFFF) return nullptr;
        *cp = v;
        return close + 1;
    }
    switch (c) {
    case '"': *cp = '"'; return p + 1;
    case '-': *cp = '\t'; return p + 1;
    case '/': *cp = '\n'; return p + 1;
    case '^': *cp = '^'; return p + 1;
    case '{': *cp = '{'; return p + 1;
    case '}': *cp = '}'; return p + 1;
    case '~': *cp = 127; return p + 1;
    case '@': *cp = 0; return p + 1;
    default: break;
    }
    if (c >= 'a' && c <= 'z') {
        *cp = c - 'a' + 1;
        return p + 1;
    }
    if (c >= 'A' && c <= '_') {
        *cp = c - 64;
        return p + 1;
    }
    return decode_utf8(p, end, cp);
}

}  // namespace zuv::lexer
