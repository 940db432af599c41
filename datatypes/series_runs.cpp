// Editing many places of a series in one pass: remove-each cuts out what its
// body removed, replace/all splices its replacement into every match. Done
// one edit at a time, each would move the whole rest of the series.
#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/hash_type.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/fire.h"
#include "runtime/stack.h"

namespace zuv::series {

namespace {

struct units_t {
    const uint8_t* head;
    int32_t length;
    uint32_t unit;
};

// Copies a replacement's units to address (in a buffer of unit), character
// by character when a text is wider than the replacement.
inline void put_units(uint8_t* address, uint32_t unit, const units_t& r) {
    if (r.length == 0) return;
    if (r.unit == unit) {
        std::memcpy(address, r.head, static_cast<size_t>(r.length) * unit);
        return;
    }
    for (int32_t i = 0; i < r.length; i++)
        string::put_char(address + static_cast<size_t>(i) * unit, unit,
                         string::get_char(r.head + i * r.unit, r.unit));
}

units_t units_of(const cell_t* replacement) {
    if (!replacement) return {nullptr, 0, 1};
    series_buffer_t* r = buffer_of(replacement);
    int32_t shift = shift_of(r->unit());
    int32_t total = r->used() >> shift;
    int32_t head = std::clamp(head_index(replacement), 0, total);
    return {r->head_ptr() + (static_cast<int64_t>(head) << shift), total - head, r->unit()};
}

// The runs that do not reach past the runs before them or the tail.
inline int32_t run_start(const run_t& run, int32_t floor, int32_t total) {
    return std::clamp(run.start, floor, total);
}

// Writes the units from the first run on into base, the replacement in place
// of every run, reading unit i at source + ((i - origin) << shift): the
// buffer itself (origin 0) when no unit written passes one still to read.
// Answers the new length.
int32_t splice_forward(uint8_t* base, const uint8_t* source, int32_t origin, uint32_t unit,
                       const run_t* runs, int32_t count, int32_t total, const units_t& r) {
    int32_t shift = shift_of(unit);
    auto at = [&](int32_t i) { return source + (int64_t{i - origin} << shift); };
    int32_t to = std::min(runs[0].start, total);
    int32_t end = to;
    for (int32_t j = 0; j < count; j++) {
        int32_t start = run_start(runs[j], end, total);
        if (start == total) break;
        end = std::min(start + runs[j].count, total);
        int32_t next = j + 1 < count ? run_start(runs[j + 1], end, total) : total;
        put_units(base + (int64_t{to} << shift), unit, r);
        to += r.length;
        if (next > end)
            std::memmove(base + (int64_t{to} << shift), at(end),
                         static_cast<size_t>(next - end) << shift);
        to += next - end;
    }
    return to;
}

// Room for grown units in all (the tail is set by the caller).
series_buffer_t* make_room(cell_t* v, series_buffer_t* s, int64_t grown) {
    int32_t shift = shift_of(s->unit());
    if ((grown << shift) > INT32_MAX) fire(err::no_memory);
    int64_t more = (grown << shift) - s->used();
    if (more > 0) alloc::alloc_tail_unit(s, static_cast<int32_t>(more));
    return buffer_of(v);
}

}  // namespace

void rs_replace_runs(cell_t* v, const run_t* runs, int32_t count, const cell_t* replacement) {
    if (count < 1) return;
    series_buffer_t* s = buffer_of(v);
    if (replacement && any_string_q(type_of(v)) && buffer_of(replacement)->unit() > s->unit())
        s = string::widen_to(s, buffer_of(replacement)->unit());
    int32_t shift = shift_of(s->unit());
    int32_t total = s->used() >> shift;
    int32_t length = units_of(replacement).length;
    int32_t shortest = INT32_MAX, longest = 0;
    int64_t grown = total;
    for (int32_t j = 0, end = 0; j < count; j++) {
        int32_t start = run_start(runs[j], end, total);
        end = std::min(start + runs[j].count, total);
        shortest = std::min(shortest, end - start);
        longest = std::max(longest, end - start);
        if (start < total) grown += length - (end - start);
    }
    int32_t to;
    if (length <= shortest) {
        // Every run shrinks or keeps its length: left to right, no unit
        // written passes a unit still to be read.
        uint8_t* base = s->head_ptr();
        to = splice_forward(base, base, 0, s->unit(), runs, count, total, units_of(replacement));
    } else if (length >= longest) {
        // Every run grows or keeps its length: room first, then right to
        // left, no unit written reaches a unit still to be read.
        s = make_room(v, s, grown);
        units_t r = units_of(replacement);
        uint8_t* base = s->head_ptr();
        int64_t at = grown;
        int32_t next = total;
        for (int32_t j = count - 1; j >= 0; j--) {
            int32_t start = std::min(runs[j].start, total);
            int32_t end = std::min(start + runs[j].count, total);
            if (start == total) continue;
            at -= next - end;
            std::memmove(base + (at << shift), base + (int64_t{end} << shift),
                         static_cast<size_t>(next - end) << shift);
            at -= r.length;
            put_units(base + (at << shift), s->unit(), r);
            next = start;
        }
        to = static_cast<int32_t>(grown);
    } else {
        // Runs of both kinds: the units from the first run are read from a
        // copy.
        int32_t origin = std::min(runs[0].start, total);
        s = make_room(v, s, grown);
        std::vector<uint8_t> copy(s->head_ptr() + (int64_t{origin} << shift),
                                  s->head_ptr() + (int64_t{total} << shift));
        to = splice_forward(s->head_ptr(), copy.data(), origin, s->unit(), runs, count, total,
                            units_of(replacement));
    }
    s->tail = s->head + static_cast<int32_t>(int64_t{to} << shift);
    if (hash_type::hashed_q(v)) hash_type::reindex(v);
}

int32_t rs_remove_runs(cell_t* v, const run_t* runs, int32_t count, int32_t index) {
    int32_t total = rs_abs_length_q(v);
    int32_t before = 0;
    int32_t end = 0;
    for (int32_t j = 0; j < count; j++) {
        int32_t start = run_start(runs[j], end, total);
        end = std::min(start + runs[j].count, total);
        before += std::max(std::min(end, index) - start, 0);
    }
    rs_replace_runs(v, runs, count, nullptr);
    return before;
}

namespace routines {

namespace {

// find (or find/case) of pattern in series from absolute index from: the
// index of the match, or -1.
int32_t find_from(const cell_t* series, int32_t from, const cell_t* pattern, bool case_) {
    stack::tops_t saved = stack::tops();
    stack::mark_native(nullptr);
    cell_t* s = stack::push(series);
    s->data1 = static_cast<uint32_t>(from);
    cell_t* p = stack::push(pattern);
    cell_t* found = actions::find(s, p, {.case_ = case_});
    int32_t at = type_of(found) == TYPE_none ? -1 : head_index(found);
    stack::restore_tops(saved);
    return at;
}

// Whether both are block kinds, both texts, or both binary!: kinds whose
// units the runs can take from one another.
bool same_kind_q(uint8_t a, uint8_t b) {
    if (block_kind_q(a)) return block_kind_q(b);
    if (any_string_q(a)) return any_string_q(b);
    return a == TYPE_binary && b == TYPE_binary;
}

}  // namespace

void replace_all() {
    cell_t* series = stack::arguments;
    const cell_t* pattern = series + 1;
    const cell_t* replacement = series + 2;
    int32_t size = static_cast<int32_t>(series[3].data2);
    bool case_ = logic::truthy(series + 4);
    bool done = false;
    if (same_kind_q(type_of(series), type_of(replacement)) && size > 0 && !owned_q(series)) {
        std::vector<run_t> runs;
        int32_t at = std::max(head_index(series), 0);
        while ((at = find_from(series, at, pattern, case_)) >= 0) {
            runs.push_back({at, size});
            at += size;
        }
        rs_replace_runs(series, runs.data(), static_cast<int32_t>(runs.size()), replacement);
        done = true;
    }
    *series = cell_t{TYPE_logic, done ? 1u : 0u, 0, 0};
}

void replace_runs() {
    cell_t* series = stack::arguments;
    const cell_t* marks = series + 1;
    const cell_t* replacement = series + 2;
    uint8_t t = type_of(series);
    bool done = (block_kind_q(t) || any_string_q(t) || t == TYPE_binary) && !owned_q(series);
    if (done && type_of(marks) == TYPE_block) {
        // The runs of each series (a list and the lists inside it), in the
        // order the parse met them; a mark that lies before the end of the
        // last run (a list met twice) adds nothing.
        struct series_runs_t {
            cell_t series;
            std::vector<run_t> runs;
        };
        std::vector<series_runs_t> all;
        std::unordered_map<node_t, size_t> by_node;
        series_buffer_t* b = buffer_of(marks);
        int32_t total = b->used() >> 4;
        int32_t first = std::max(head_index(marks), 0);
        for (int32_t i = first; i + 1 < total && done; i += 2) {
            const cell_t* mark = b->head_cell() + i;
            done = series_q(type_of(mark)) && same_kind_q(type_of(mark), type_of(replacement)) &&
                   !owned_q(mark);
        }
        for (int32_t i = first; i + 1 < total && done; i += 2) {
            const cell_t* mark = b->head_cell() + i;
            const cell_t* past = mark + 1;
            if (type_of(past) != type_of(mark) || past->data2 != mark->data2) continue;
            auto [slot, added] = by_node.try_emplace(mark->data2, all.size());
            if (added) all.push_back({*mark, {}});
            std::vector<run_t>& runs = all[slot->second].runs;
            run_t run{head_index(mark), head_index(past) - head_index(mark)};
            if (run.count < 0 ||
                (!runs.empty() && run.start < runs.back().start + runs.back().count))
                continue;
            runs.push_back(run);
        }
        // Every series stays reachable through the marks while others grow.
        for (series_runs_t& r : all)
            rs_replace_runs(&r.series, r.runs.data(), static_cast<int32_t>(r.runs.size()),
                            replacement);
    }
    *series = cell_t{TYPE_logic, done ? 1u : 0u, 0, 0};
}

}  // namespace routines

}  // namespace zuv::series
