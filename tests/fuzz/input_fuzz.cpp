// libFuzzer target: the terminal UI's input decoder on arbitrary bytes. The
// input is cut into frames where it holds the byte 0xFE (as reads would cut
// it), and a sink that decodes again from inside a key, or empties the
// buffer there, stands for nested event loops. A crash, a hang, a sanitizer
// report, a leak or a buffer that grows without bound is a fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "view/backends/terminal/input.h"

using namespace zuv::tui;

namespace {

class nesting_sink final : public input_sink {
public:
    input_decoder* decoder = nullptr;
    int depth = 0;
    void key(int32_t key, uint32_t) override {
        if (depth > 3) return;
        if (key == 'n') {
            ++depth;
            decoder->decode(*this);
            --depth;
        } else if (key == 'c') {
            decoder->clear();
        }
    }
    void button(int32_t type, int32_t, int32_t, uint32_t) override {
        if (type < 1 || type > 6) abort();
    }
    void motion(int32_t, int32_t, uint32_t) override {}
    void wheel(int32_t delta, int32_t, int32_t, uint32_t) override {
        if (delta != 1 && delta != -1) abort();
    }
    void halt() override {}
    void report(int32_t row, int32_t col) override {
        if (row < 0 || col < 0) abort();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    input_decoder decoder;
    nesting_sink sink;
    sink.decoder = &decoder;
    size_t start = 0;
    for (size_t i = 0; i <= size; ++i) {
        if (i < size && data[i] != 0xFE) continue;
        decoder.append(reinterpret_cast<const char*>(data) + start, i - start);
        decoder.decode(sink);
        // What waits is at most one unfinished item (a string past its limit
        // is dropped as it comes).
        if (decoder.pending() > size + 1) abort();
        start = i + 1;
    }
    return 0;
}
