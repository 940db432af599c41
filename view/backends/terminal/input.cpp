#include "view/backends/terminal/input.h"

#include "console/terminal_keys.h"
#include "datatypes/event.h"

namespace zuv::tui {

namespace {

using namespace zuv::terminal;

constexpr uint8_t ESC = 27;
constexpr uint8_t BEL = 7;
constexpr uint8_t CTRL_C = 3;

input_decoder the_input;

// ESC [ n ~ with one parameter; 0 for none. Insert (2) and the modified
// forms are not keys here.
int32_t tilde_key(int32_t n) {
    switch (n) {
    case 1:
    case 7: return KEY_HOME;
    case 4:
    case 8: return KEY_END;
    case 3: return KEY_DELETE;
    case 5: return KEY_PAGE_UP;
    case 6: return KEY_PAGE_DOWN;
    case 15: return KEY_F1 - 4;
    case 17: return KEY_F1 - 5;
    case 18: return KEY_F1 - 6;
    case 19: return KEY_F1 - 7;
    case 20: return KEY_F1 - 8;
    case 21: return KEY_F1 - 9;
    case 23: return KEY_F1 - 10;
    case 24: return KEY_F12;
    default: return 0;
    }
}

// The final letter of ESC [ x or ESC O x; 0 for none.
int32_t letter_key(uint8_t c, bool ss3) {
    switch (c) {
    case 'A': return KEY_UP;
    case 'B': return KEY_DOWN;
    case 'C': return KEY_RIGHT;
    case 'D': return KEY_LEFT;
    case 'F': return KEY_END;
    case 'H': return KEY_HOME;
    default: break;
    }
    if (ss3 && c >= 'P' && c <= 'S') return KEY_F1 - (c - 'P');
    return 0;
}

}  // namespace

struct input_decoder::item_t {
    enum kind_t { NOTHING, KEY, MOUSE, REPORT, HALT } kind = NOTHING;
    int32_t key = 0;
    uint32_t flags = 0;
    int32_t params[4] = {0, 0, 0, 0};
    bool release = false;  // a mouse report ending in "m"
};

input_decoder& input() { return the_input; }

void input_decoder::append(const char* bytes, size_t count) { buffer_.append(bytes, count); }

void input_decoder::clear() {
    buffer_.clear();
    pos_ = 0;
    skipping_string_ = false;
}

void input_decoder::decode(input_sink& sink) {
    while (pos_ < buffer_.size()) {
        size_t start = pos_;
        item_t item;
        size_t end = scan_item(item);
        if (end == NEED_MORE) {
            // Kept for the next frame, at the front of the buffer.
            buffer_.erase(0, start);
            pos_ = 0;
            return;
        }
        pos_ = end;
        hand_on(item, sink);
    }
    buffer_.clear();
    pos_ = 0;
}

size_t input_decoder::scan_item(item_t& item) {
    if (skipping_string_) {
        size_t end = scan_string(pos_);
        if (end != NEED_MORE) {
            skipping_string_ = false;
            return end;
        }
        // Dropped as it comes; a last ESC may begin the terminator.
        size_t keep = buffer_.back() == static_cast<char>(ESC) ? 1 : 0;
        if (buffer_.size() - pos_ <= keep) return NEED_MORE;
        return buffer_.size() - keep;
    }
    uint8_t b = static_cast<uint8_t>(buffer_[pos_]);
    if (b == ESC && buffer_.size() > 1) return scan_escape(item);
    if (b < 32 || b == 127) {
        if (b == CTRL_C) {
            item.kind = item_t::HALT;
        } else if (b != 0) {
            item.kind = item_t::KEY;
            item.key = b == 8 ? 127 : b == 10 ? 13 : b;
        }
        return pos_ + 1;
    }
    return scan_utf8(item);
}

size_t input_decoder::scan_escape(item_t& item) {
    if (pos_ + 1 >= buffer_.size()) return NEED_MORE;
    uint8_t x = static_cast<uint8_t>(buffer_[pos_ + 1]);
    if (x == 'P' || x == ']') {
        size_t end = scan_string(pos_ + 2);
        if (end != NEED_MORE) return end;
        if (buffer_.size() - pos_ <= STRING_LIMIT) return NEED_MORE;
        skipping_string_ = true;
        return buffer_.size();
    }
    if (x == '[') return scan_csi(item);
    if (pos_ + 2 >= buffer_.size()) return NEED_MORE;
    uint8_t y = static_cast<uint8_t>(buffer_[pos_ + 2]);
    if (x == 'O') {
        item.key = letter_key(y, true);
        if (item.key != 0) {
            item.kind = item_t::KEY;
            item.flags = event::flag::SPECIAL_KEY;
        }
    }
    return pos_ + 3;
}

// Up to its terminator, BEL or ESC "\"; NEED_MORE before it.
size_t input_decoder::scan_string(size_t from) {
    for (size_t i = from; i < buffer_.size(); ++i) {
        uint8_t c = static_cast<uint8_t>(buffer_[i]);
        if (c == BEL) return i + 1;
        if (c == ESC) {
            if (i + 1 >= buffer_.size()) return NEED_MORE;
            if (buffer_[i + 1] == '\\') return i + 2;
        }
    }
    return NEED_MORE;
}

size_t input_decoder::scan_csi(item_t& item) {
    bool sgr = false;
    int32_t count = 0;  // parameters ended by ";"
    bool any = false;  // a digit or a ";" came
    int32_t current = 0;
    for (size_t i = pos_ + 2; i < buffer_.size(); ++i) {
        uint8_t c = static_cast<uint8_t>(buffer_[i]);
        if (c == '<') {
            sgr = true;
        } else if (c >= '0' && c <= '9') {
            any = true;
            current = current > (PARAMETER_CAP - 9) / 10 ? PARAMETER_CAP : current * 10 + (c - '0');
        } else if (c == ';') {
            any = true;
            if (count < 4) item.params[count] = current;
            ++count;
            current = 0;
        } else if (c == ESC) {
            return i;  // abandoned; the ESC starts the next item
        } else if (c >= 64 && c <= 126 && c != '[') {
            if (count < 4 && any) item.params[count] = current;
            int32_t n = any ? count + 1 : 0;
            if ((c == 'M' || c == 'm') && n == 3) {
                item.kind = item_t::MOUSE;
                item.release = c == 'm';
            } else if (c == 'R' && n == 2 && !sgr) {
                item.kind = item_t::REPORT;
            } else if (!sgr) {
                if (c == '~' && n == 1) item.key = tilde_key(item.params[0]);
                else if (c == 'Z' && n == 0) item.key = 9;
                else if (n == 0) item.key = letter_key(c, false);
                if (item.key == 9) {
                    item.kind = item_t::KEY;
                    item.flags = event::flag::SHIFT;
                } else if (item.key != 0) {
                    item.kind = item_t::KEY;
                    item.flags = event::flag::SPECIAL_KEY;
                }
            }
            return i + 1;
        }
    }
    return NEED_MORE;
}

// A character; a byte that cannot start one, or a broken or overlong
// sequence, is dropped on its own.
size_t input_decoder::scan_utf8(item_t& item) const {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(buffer_.data()) + pos_;
    size_t left = buffer_.size() - pos_;
    uint8_t lead = p[0];
    size_t length;
    uint32_t cp;
    uint8_t low = 0x80, high = 0xBF;  // the second byte's range
    if (lead < 0x80) {
        item.kind = item_t::KEY;
        item.key = lead;
        return pos_ + 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        cp = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        cp = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return pos_ + 1;
    }
    for (size_t i = 1; i < length; ++i) {
        if (i >= left) return NEED_MORE;
        uint8_t c = p[i];
        if (i == 1 ? (c < low || c > high) : (c < 0x80 || c > 0xBF)) return pos_ + 1;
        cp = (cp << 6) | (c & 0x3F);
    }
    item.kind = item_t::KEY;
    item.key = static_cast<int32_t>(cp);
    return pos_ + length;
}

void input_decoder::hand_on(const item_t& item, input_sink& sink) {
    switch (item.kind) {
    case item_t::KEY: sink.key(item.key, item.flags); break;
    case item_t::HALT: sink.halt(); break;
    case item_t::REPORT:
        origin_row = item.params[0] > 0 ? item.params[0] - 1 : 0;
        origin_col = item.params[1] > 0 ? item.params[1] - 1 : 0;
        ++reports;
        sink.report(origin_row, origin_col);
        break;
    case item_t::MOUSE: mouse_report(item, sink); break;
    case item_t::NOTHING: break;
    }
}

void input_decoder::mouse_report(const item_t& item, input_sink& sink) {
    int32_t cb = item.params[0];
    int32_t code = (cb & 3) | ((cb & 64) >> 4);
    uint32_t flags = 0;
    if (cb & 4) flags |= event::flag::SHIFT;
    if (cb & 8) flags |= event::flag::ALT;
    if (cb & 16) flags |= event::flag::CONTROL;
    int32_t x = item.params[1] - 1;
    int32_t y = item.params[2] - 1 - origin_row;
    static constexpr uint32_t HELD_FLAG[3] = {event::flag::DOWN, event::flag::MID_DOWN,
                                              event::flag::ALT_DOWN};
    if (code <= 2) {
        bool pressed = !item.release;
        if (pressed != held_[code]) {
            held_[code] = pressed;
            sink.button(code * 2 + (pressed ? 0 : 1) + 1, x, y, flags);
            return;
        }
        sink.motion(x, y, flags | HELD_FLAG[code]);
    } else if (code == 3) {
        sink.motion(x, y, flags);
    } else if (code == 4 || code == 5) {
        sink.wheel(code == 4 ? 1 : -1, x, y, flags);
    }
}

}  // namespace zuv::tui
