// transcode: UTF-8 source (a binary! or string!) to values through the lexer.
#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "lexer/lexer.h"
#include "natives/natives.h"
#include "runtime/alloc.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/stack.h"

namespace zuv::natives {

void transcode(int32_t check, const int32_t* refinements) {
    if (check) [[unlikely]]
        check_args(id::transcode, refinements);
    bool next = refinements[0] != -1;
    bool one = refinements[1] != -1;
    bool prescan = refinements[2] != -1;
    bool scan = refinements[3] != -1;
    int32_t part_at = refinements[4];
    int32_t into_at = refinements[5];
    int32_t trace_at = refinements[6];

    cell_t* src = stack::arguments;
    bool binary = type_of(src) == TYPE_binary;
    int32_t length = series::rs_abs_length_q(src);
    int32_t head = std::clamp(series::head_index(src), 0, length);
    series::set_head_index(src, head);

    // A byte-order mark says nothing about the values.
    if (binary && length - head >= 3) {
        const uint8_t* p = series::buffer_of(src)->head_ptr() + head;
        if (p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
            head += 3;
            series::set_head_index(src, head);
        }
    }

    int32_t count = length - head;  // bytes of a binary, characters of a string
    if (part_at >= 0) {
        cell_t* part = src + part_at;
        int32_t limit;
        if (type_of(part) == TYPE_integer) {
            limit = integer::get(part);
        } else {
            if (type_of(part) != type_of(src) || part->data2 != src->data2) {
                cell_t a = *src, b = *part;
                fire(err::not_same_type, &a, &b);
            }
            limit = series::head_index(part) - head;
        }
        count = std::clamp(limit, 0, count);
    }

    cell_t* into = into_at >= 0 ? src + into_at : nullptr;
    const cell_t* callback = trace_at >= 0 ? src + trace_at : nullptr;
    bool one_value = next || one || scan || prescan;
    bool load = !prescan;
    bool store = !(scan || prescan);

    cell_t* out = stack::push_slot();
    out->header = TYPE_none;
    int32_t consumed = 0;
    int32_t kind;
    if (binary) {
        kind = lexer::scan(
            out, nullptr, count,
            {.one_value = one_value, .load = load, .store = store, .wrap = !one && !next},
            &consumed, callback, src, next ? nullptr : into);
    } else {
        kind = lexer::scan_string(
            out, src, count,
            {.one_value = one_value, .load = load, .store = store, .wrap = !one && !next},
            &consumed, callback, next ? nullptr : into);
    }
    // A throw (or any other exit) from the callback has unwound the stacks to
    // its target, which holds its value: writing a result would overwrite it.
    if (exits::pending_q()) return;

    if (scan || prescan) {
        if (kind > 0 && kind < 256) datatype::make_at(src, kind);
        else none::make_at(src);
        stack::keep();
        return;
    }
    if (next) {
        // [value rest]: the value read and the source after it.
        cell_t* result = stack::push_slot();
        block::make_at(result, 2);
        if (into) {
            block::rs_append(into, out);
            block::rs_append(result, into);
        } else {
            block::rs_append(result, out);
        }
        cell_t rest = *src;
        series::set_head_index(&rest, head + consumed);
        block::rs_append(result, &rest);
        stack::set_last_keep(result);
        return;
    }
    if (into) {
        stack::set_last_keep(into);
        return;
    }
    stack::set_last_keep(out);
}

}  // namespace zuv::natives
