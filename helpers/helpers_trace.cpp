// The tracer's mold-part: every value a traced expression fetches, pushes
// or returns is molded through it, so it sits under each traced line. The
// body's steps, done on the molded string in place.
#include <cstdint>
#include <limits>

#include "datatypes/actions.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "helpers/helpers.h"
#include "helpers/helpers_frame.h"
#include "runtime/stack.h"

namespace zuv::helpers {

namespace {

inline cell_t* arg(int32_t i) { return stack::arguments + i; }

// `mold/flat/part value limit` (with /only when only is set): a new string.
cell_t mold_flat(const cell_t* value, bool only, int32_t limit) {
    static const cell_t word = action_word("mold");
    scratch s(word);
    cell_t* v = s.push(value);
    cell_t* text = stack::push_slot();
    text->header = TYPE_unset;
    string::make_at(text, 16);
    actions::mold(v, text, {.only = only, .flat = true, .part = true, .limit = limit});
    string::truncate_to(string::buffer_of(text), limit);
    return *text;
}

// The closer of the first opening marker among the first count characters,
// 0 if none opens there.
uint32_t closer_in(const uint8_t* text, uint32_t unit, int32_t count) {
    for (int32_t i = 0; i < count; i++) {
        switch (string::get_char(text + static_cast<int64_t>(i) * unit, unit)) {
        case '(': return ')';
        case '[': return ']';
        case '{': return '}';
        case '<': return '>';
        case '"': return '"';
        default: break;
        }
    }
    return 0;
}

}  // namespace

bool mold_part_into(cell_t* out, const cell_t* value, int32_t part, bool only) {
    // Below five characters the body's skips run into the head: its own steps.
    if (part < 5 || part == std::numeric_limits<int32_t>::max()) return false;
    *out = mold_flat(value, only, part + 1);
    series_buffer_t* b = string::buffer_of(out);
    uint32_t unit = b->unit();
    int32_t length = b->used() / static_cast<int32_t>(unit);
    if (part < length) {
        uint8_t* text = b->head_ptr();
        uint32_t closer = closer_in(text, unit, length - 5);
        int32_t at = closer != 0 ? length - 5 : length - 4;
        for (int32_t i = 0; i < 3; i++) string::put_char(text + int64_t{at + i} * unit, unit, '.');
        if (closer != 0) string::put_char(text + int64_t{at + 3} * unit, unit, closer);
        string::truncate_to(b, length - 1);
    }
    return true;
}

// value part /only /local r pos closer
void mold_part() {
    if (!mold_part_into(arg(3), arg(0), integer::get(arg(1)), logic::truthy(arg(2))))
        return run_body();
    *arg(0) = *arg(3);
    stack::keep();
}

}  // namespace zuv::helpers
