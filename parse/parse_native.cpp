// parse: the native front end of the parse engine (parse/parser.h).
#include <algorithm>
#include <cmath>

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "natives/natives.h"
#include "parse/parser.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/stack.h"
#include "runtime/words.h"

namespace zuv::natives {

void parse(int32_t check, const int32_t* refinements) {
    if (check) [[unlikely]]
        check_args(id::parse, refinements);
    cell_t* input = stack::arguments;
    cell_t* rules = stack::arguments + 1;
    bool case_ = refinements[0] != -1;
    int32_t part_at = refinements[1];
    int32_t trace_at = refinements[2];

    int32_t limit = -1;
    if (part_at >= 0) {
        cell_t* part = stack::arguments + part_at;
        int32_t length = series::rs_abs_length_q(input);
        int32_t head = std::clamp(series::head_index(input), 0, length);
        int64_t end;
        uint8_t pt = type_of(part);
        if (pt == TYPE_integer) {
            end = int64_t{head} + integer::get(part);
        } else if (pt == TYPE_float_) {
            double d = cell::get_float(part);
            end = std::isfinite(d) ? int64_t{head} + static_cast<int64_t>(std::clamp(d, -2e9, 2e9))
                                   : head;
        } else if (series::series_q(pt) && part->data2 == input->data2) {
            end = series::head_index(part);
        } else {
            cell_t word = words::word(words::id::part);
            cell_t bad = *part;
            fire(err::invalid_refine_arg, &word, &bad);
        }
        if (end <= head) {
            // Nothing to match: only an empty input matches nothing.
            logic::make_at(input, head >= length);
            stack::keep();
            return;
        }
        limit = static_cast<int32_t>(std::min<int64_t>(end, length));
    }
    const cell_t* callback = trace_at >= 0 ? stack::arguments + trace_at : nullptr;
    parser::parse(stack::arguments, input, rules, case_, limit, callback);
    if (exits::pending_q()) return;
    stack::keep();
}

}  // namespace zuv::natives
