// The routines of system/codecs/zuvbin, and the boot load.
#include <unistd.h>

#include <cstring>
#include <vector>

#include "codecs/zuvbin.h"
#include "codecs/zuvbin_format.h"
#include "datatypes/actions.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/logic.h"
#include "runtime/collector.h"
#include "runtime/fire.h"
#include "runtime/lowrt.h"
#include "runtime/platform/platform.h"
#include "runtime/stack.h"

namespace zuv::zuvbin {

int32_t first_root = -1;

namespace {

constexpr int BOOT_FAILURE = 99;

inline cell_t* arg(int32_t i) { return stack::arguments + i; }

[[noreturn]] void boot_fails(const char* message) {
    platform::write_all(STDOUT_FILENO, message, std::strlen(message));
    lowrt::quit(BOOT_FAILURE);
}

}  // namespace

// encode* data compact?
void encode_star_routine() {
    cell_t data = *arg(0);
    bool compact = logic::truthy(arg(1));
    cell_t* out = stack::push_slot();
    out->header = TYPE_unset;
    if (compact) encode_cp(&data, out);
    else encode(&data, out);
    cell_t made = *out;
    stack::pop(1);
    stack::set_last(&made);
}

// decode payload
void decode_routine() {
    cell_t* payload = arg(0);
    uint8_t t = type_of(payload);
    if (t == TYPE_file || t == TYPE_url) {
        actions::read(payload, nullptr, nullptr, true, false, false, nullptr);
        payload = arg(0);
        t = type_of(payload);
    }
    if (t != TYPE_binary || binary::rs_length_q(payload) < CODEC_MIN_SIZE) {
        cell_t given = *payload;
        fire(err::invalid_data, &given);
    }
    // The bytes are copied out: decoding allocates, and the binary may move.
    std::vector<uint8_t> bytes(binary::rs_head(payload),
                               binary::rs_head(payload) + binary::rs_length_q(payload));
    cell_t* out = stack::push_slot();
    out->header = TYPE_unset;
    block::make_at(out, 4);
    decode(bytes.data(), static_cast<int64_t>(bytes.size()), out, true, payload);
    cell_t result = block::abs_length(out) == 1 ? *block::rs_abs_at(out, 0) : *out;
    stack::pop(1);
    stack::set_last(&result);
}

int32_t boot_load(const uint8_t* data, int64_t length, bool keep) {
    bool was_active = collector::active;
    collector::active = false;
    if ((length >= 0 && length < HEADER_SIZE) || std::memcmp(data, MAGIC, 6) != 0)
        boot_fails("Error: Not a Zuvbin file!\n");
    int32_t first = 0;
    try {
        first = decode(data, length, &block::root, false);
    } catch (const raised_error& e) {
        if (e.id == err::invalid_data) boot_fails("Error: Zuvbin compressed data corrupted!\n");
        if (stack::top_slot > stack::bottom && stack::top_type() == TYPE_error)
            error::print(stack::top());
        lowrt::quit(BOOT_FAILURE);
    }
    collector::active = was_active;
    if (!keep) first_root = first;
    return first;
}

}  // namespace zuv::zuvbin
