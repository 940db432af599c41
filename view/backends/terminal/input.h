// Terminal input for the UI: the bytes the terminal sends (text, control
// keys, xterm-style escape sequences, SGR mouse reports, cursor position
// reports) turned into keys and pointer events.
//
// Bytes are appended as they are read and decoded once per frame. A
// sequence cut by a read stays at the front of the buffer and is finished
// by a later frame's bytes. Decoding hands each item to a sink, and a sink
// may run a nested event loop that decodes (or empties) this same buffer:
// the read position is therefore advanced past an item before the item is
// handed on, and the buffer is looked at again after every item.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zuv::tui {

// Where decoded input goes. Positions are cells relative to the inline
// area's top-left corner; flags are event! flag bits.
class input_sink {
public:
    // key: a code point or a negative key code (flag bit 0 set for those).
    virtual void key(int32_t key, uint32_t flags) = 0;
    // type: 1 down, 2 up, 3 mid-down, 4 mid-up, 5 alt-down, 6 alt-up.
    virtual void button(int32_t type, int32_t x, int32_t y, uint32_t flags) = 0;
    virtual void motion(int32_t x, int32_t y, uint32_t flags) = 0;
    virtual void wheel(int32_t delta, int32_t x, int32_t y, uint32_t flags) = 0;
    // Ctrl-C.
    virtual void halt() = 0;
    // A cursor position report, 0-based.
    virtual void report(int32_t row, int32_t col) = 0;

protected:
    ~input_sink() = default;
};

class input_decoder {
public:
    // Longest operating-system command or device control string kept while
    // its end is awaited; past it the string's bytes are dropped as they come.
    static constexpr size_t STRING_LIMIT = 4096;
    // Numeric parameters of a control sequence saturate here.
    static constexpr int32_t PARAMETER_CAP = 99999;

    void append(const char* bytes, size_t count);
    void decode(input_sink& sink);
    // Empties the buffer (a sequence being awaited is forgotten).
    void clear();
    size_t pending() const { return buffer_.size() - pos_; }

    // The last cursor position report, 0-based: its row is the top of the
    // inline area. reports counts them.
    int32_t origin_row = 0;
    int32_t origin_col = 0;
    int32_t reports = 0;

private:
    struct item_t;
    // The end of the item at pos_, or NEED_MORE when the buffer ends inside
    // it. Scanning hands nothing on.
    static constexpr size_t NEED_MORE = static_cast<size_t>(-1);
    size_t scan_item(item_t& item);
    size_t scan_escape(item_t& item);
    size_t scan_csi(item_t& item);
    size_t scan_string(size_t from);
    size_t scan_utf8(item_t& item) const;
    void hand_on(const item_t& item, input_sink& sink);
    void mouse_report(const item_t& item, input_sink& sink);

    std::string buffer_;
    size_t pos_ = 0;
    // A string ran past STRING_LIMIT: its bytes are skipped up to its end.
    bool skipping_string_ = false;
    // Each button's state as the last report for it left it.
    bool held_[3] = {false, false, false};
};

// The decoder of the UI's terminal input.
input_decoder& input();

}  // namespace zuv::tui
