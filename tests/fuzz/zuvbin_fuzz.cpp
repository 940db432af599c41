// libFuzzer target: the Zuvbin decoder on arbitrary bytes. The first input
// byte picks the layout (plain or compact), the symbol-table flag and the
// mode (codec, or boot one time in four); the rest follows the 8-byte
// header. Each input is decoded as that stream, then as it stands (its own
// header, compressed streams included). A record fault or invalid-data is
// an expected outcome; a crash, a hang, a sanitizer report or a leak is a
// fault. Whatever decodes is encoded again in both layouts.
//
// The collector runs throughout; one input in sixteen (by a hash of its
// bytes, so that a saved input replays the same way) runs collecting at
// every allocation.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "codecs/zuvbin.h"
#include "datatypes/block.h"
#include "fuzz_runtime.h"
#include "runtime/fire.h"

using namespace zuv;
using fuzz::reset_stacks;

namespace {

void decode(const std::vector<uint8_t>& stream, bool codec) {
    reset_stacks();
    cell_t* target = stack::push_slot();
    target->header = TYPE_unset;
    block::make_at(target, 4);
    try {
        zuvbin::decode(stream.data(), static_cast<int64_t>(stream.size()), target, codec);
    } catch (const raised_error&) {
        return;
    }
    // What decoded encodes again (values without a stream form raise).
    for (bool compact : {true, false}) {
        try {
            cell_t value = *target;
            (void)zuvbin::encode_values(&value, 1, compact, 2);
        } catch (const raised_error&) {
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::start_once();
    if (size == 0 || size > (1u << 20)) return 0;
    collector::stress_period = collector::stress_countdown = fuzz::stressed_q(data, size) ? 1 : 0;

    uint8_t pick = data[0];
    std::vector<uint8_t> stream = {'Z', 'U', 'V', 'B', 'I', 'N', 2, static_cast<uint8_t>(pick & 5)};
    stream.insert(stream.end(), data + 1, data + size);
    decode(stream, (pick & 0x30) != 0);
    decode(std::vector<uint8_t>(data, data + size), true);

    reset_stacks();
    collector::stress_period = collector::stress_countdown = 0;
    return 0;
}
