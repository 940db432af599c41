// libFuzzer target: the lexer on arbitrary bytes. Every input is loaded (as
// fixed memory and as a binary! read through its node, with a hook that
// allocates between tokens), scanned without loading, and listed as tokens.
// A syntax error is an expected outcome; a crash, a hang, a sanitizer report
// or a leak is a fault.
//
// The collector runs throughout, so that buffers move under the scans (the
// binary! input, the values loaded so far, strings widened while they are
// decoded). One input in sixteen, chosen by a hash of its bytes (so that a
// saved input replays the same way), runs under the stress mode with a
// period of 1: a collection at every allocation, and poison in whatever a
// buffer leaves behind. A larger share would make every run mostly
// collections (one stressed input costs as much as thirty others).
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "datatypes/block.h"
#include "lexer/lexer.h"
#include "runtime/alloc.h"
#include "runtime/collector.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "startup/runtime.h"

#include "fuzz_runtime.h"

using namespace zuv;
using fuzz::reset_stacks;

namespace {

bool churn(lexer::state_t&, lexer::event_t, int32_t, const cell_t*, int32_t, int32_t, void*) {
    alloc::alloc_bytes(64);
    return true;
}

void load(const uint8_t* data, int32_t size, const cell_t* input, bool one_value) {
    reset_stacks();
    cell_t* out = stack::push_slot();
    out->header = TYPE_unset;
    try {
        if (input)
            lexer::scan_hooked(out, nullptr, size, {.one_value = one_value}, nullptr, churn,
                               nullptr, lexer::EV_ALL, input, nullptr);
        else
            lexer::scan(out, data, size, {.one_value = one_value}, nullptr, nullptr, nullptr,
                        nullptr);
    } catch (const raised_error&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::start_once();
    if (size > (1u << 20)) return 0;
    int32_t n = static_cast<int32_t>(size);
    bool stress = fuzz::stressed_q(data, size);
    collector::stress_period = collector::stress_countdown = stress ? 1 : 0;

    load(data, n, nullptr, false);
    load(data, n, nullptr, true);

    reset_stacks();
    cell_t* bin = stack::push_slot();
    bin->header = TYPE_unset;
    node_t node = alloc::alloc_bytes(size);
    series_buffer_t* b = alloc::buffer(node);
    if (size) std::memcpy(b->head_ptr(), data, size);
    b->tail = b->head + n;
    block::init_value(bin, TYPE_binary, node);
    cell_t copy = *bin;
    load(nullptr, n, &copy, false);

    reset_stacks();
    cell_t* out = stack::push_slot();
    lexer::scan(out, data, n, {.load = false}, nullptr, nullptr, nullptr, nullptr);
    lexer::tokens(data, n);
    reset_stacks();
    collector::stress_period = collector::stress_countdown = 0;
    return 0;
}
