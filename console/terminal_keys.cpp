// Key decoding (see terminal_keys.h).
#include "console/terminal_keys.h"

namespace zuv::terminal {
namespace {

// The keys of "ESC [ n ~" (vt220 style, xterm, tmux, screen, rxvt).
int32_t tilde_key(int n) {
    switch (n) {
    case 1:
    case 7: return KEY_HOME;
    case 2: return KEY_INSERT;
    case 3: return KEY_DELETE;
    case 4:
    case 8: return KEY_END;
    case 5: return KEY_PAGE_UP;
    case 6: return KEY_PAGE_DOWN;
    case 11:
    case 12:
    case 13:
    case 14:
    case 15: return KEY_F1 - (n - 11);
    case 17:
    case 18:
    case 19:
    case 20:
    case 21: return KEY_F1 - 5 - (n - 17);
    case 23:
    case 24: return KEY_F1 - 10 - (n - 23);
    default: return KEY_NONE;
    }
}

// The final letter of "ESC [ ... X" and "ESC O X"; modifiers are ignored, as
// the keyboard ignores them for these keys.
int32_t letter_key(char c) {
    switch (c) {
    case 'A': return KEY_UP;
    case 'B': return KEY_DOWN;
    case 'C': return KEY_RIGHT;
    case 'D': return KEY_LEFT;
    case 'H': return KEY_HOME;
    case 'F': return KEY_END;
    case 'P':
    case 'Q':
    case 'R':
    case 'S': return KEY_F1 - (c - 'P');
    default: return KEY_NONE;
    }
}

bool final_byte_q(int b) { return b >= 0x40 && b <= 0x7E; }

}  // namespace

int32_t decode_sequence(const std::string& s) {
    if (s.size() < 2) return KEY_NONE;
    if (s[0] == 'O') {
        if (s.size() != 2) return KEY_NONE;
        if (s[1] == 'M') return KEY_ENTER;  // keypad Enter in application mode
        return letter_key(s[1]);
    }
    if (s[0] != '[') return KEY_NONE;
    if (s[1] == '[') {  // the Linux console's F1 to F5
        if (s.size() == 3 && s[2] >= 'A' && s[2] <= 'E') return KEY_F1 - (s[2] - 'A');
        return KEY_NONE;
    }
    char final = s.back();
    // The first parameter, digits up to ";" or the final byte.
    int n = 0;
    size_t i = 1;
    bool digits = false;
    for (; i + 1 < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        if (n < 1000) n = n * 10 + (s[i] - '0');
        digits = true;
    }
    if (final == '~') return digits ? tilde_key(n) : KEY_NONE;
    return letter_key(final);
}

int32_t key_reader::read() {
    int b = next(false);
    if (b < 0) return KEY_FAILED;
    if (b == KEY_ESCAPE) return read_escape();
    // A line feed is what a paste or Ctrl-J gives for Enter on this platform.
    if (b == '\n') return KEY_ENTER;
    if (b < 0x80) return b;
    return read_utf8(b);
}

int32_t key_reader::read_escape() {
    int b = next(true);
    if (b < 0) return KEY_ESCAPE;  // nothing followed in time: the Esc key
    if (b == KEY_ESCAPE) {
        pending_ = b;  // Esc, then another key that begins with Esc
        return KEY_ESCAPE;
    }
    if (b != '[' && b != 'O') {
        // Alt and a key: the key.
        if (b == '\n') return KEY_ENTER;
        if (b < 0x80) return b;
        return read_utf8(b);
    }
    std::string seq(1, static_cast<char>(b));
    if (b == 'O') {
        int c = next(true);
        if (c < 0) return 'O';  // Alt-O typed alone
        seq += static_cast<char>(c);
        return decode_sequence(seq);
    }
    // CSI: parameter and intermediate bytes, then one final byte. A sequence
    // cut short by the wait is dropped.
    for (;;) {
        int c = next(true);
        if (c < 0) return seq.size() == 1 ? '[' : KEY_NONE;
        seq += static_cast<char>(c);
        if (seq.size() == 2 && c == '[') {  // "ESC [ [ A": one more byte
            int d = next(true);
            if (d < 0) return KEY_NONE;
            seq += static_cast<char>(d);
            return decode_sequence(seq);
        }
        if (final_byte_q(c)) return decode_sequence(seq);
        if (c < 0x20 || c > 0x3F) {
            // Not a sequence byte: the sequence is broken; the byte is a key.
            pending_ = c;
            return KEY_NONE;
        }
        if (seq.size() > 32) return KEY_NONE;
    }
}

int32_t key_reader::read_utf8(int lead) {
    int more;
    char32_t cp;
    if (lead >= 0xC2 && lead <= 0xDF) {
        more = 1;
        cp = static_cast<char32_t>(lead & 0x1F);
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        more = 2;
        cp = static_cast<char32_t>(lead & 0x0F);
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        more = 3;
        cp = static_cast<char32_t>(lead & 0x07);
    } else {
        return KEY_NONE;
    }
    for (int i = 0; i < more; ++i) {
        int b = next(false);
        if (b < 0) return KEY_NONE;
        if ((b & 0xC0) != 0x80) {
            pending_ = b;
            return KEY_NONE;
        }
        cp = cp << 6 | static_cast<char32_t>(b & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are no characters.
    if ((more == 2 && cp < 0x800) || (more == 3 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return KEY_NONE;
    return static_cast<int32_t>(cp);
}

}  // namespace zuv::terminal
