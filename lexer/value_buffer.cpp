// The value buffer shared by all live scans, and the chain of their records.
//
// Scans address the buffer by cell index, so growing it (a move) needs no
// rebasing of the records: only value_at() ever turns an index into an
// address, and callers do not keep that address across a push.
#include <cstdlib>

#include "lexer/lexer.h"
#include "runtime/alloc.h"
#include "runtime/fire.h"

namespace zuv::lexer {
namespace {

cell_t* values = nullptr;
int32_t capacity = 0;
state_t* chain_head = nullptr;

constexpr int32_t INITIAL_CELLS = 1000;
constexpr int32_t MAX_CELLS = 1 << 26;  // 1 GB of cells

void grow(int32_t needed) {
    int64_t wanted = capacity == 0 ? INITIAL_CELLS : int64_t{capacity} * 2;
    while (wanted < needed) wanted *= 2;
    if (wanted > MAX_CELLS) fire(err::no_memory);
    void* moved = std::realloc(values, static_cast<size_t>(wanted) * sizeof(cell_t));
    if (!moved) fire(err::no_memory);
    values = static_cast<cell_t*>(moved);
    capacity = static_cast<int32_t>(wanted);
}

}  // namespace

const uint8_t* state_t::bytes() const {
    return fixed ? fixed : alloc::buffer(node)->data() + node_offset;
}

cell_t* value_at(int32_t index) { return values + index; }

int32_t push_value(state_t& s) {
    if (s.tail >= capacity) grow(s.tail + 1);
    cell_t* c = values + s.tail;
    c->header = TYPE_unset | (s.token_lines > 0 ? FLAG_NEW_LINE : 0u);
    c->data1 = c->data2 = c->data3 = 0;
    return s.tail++;
}

bool is_marker(int32_t index) { return type_of(values + index) == MARKER_TYPE; }

int32_t innermost_marker(const state_t& s) {
    return s.level_head > s.buffer_head ? s.level_head - 1 : -1;
}

void link_state(state_t& s) {
    s.next = nullptr;
    s.parent = nullptr;
    if (!chain_head) {
        chain_head = &s;
        s.buffer_head = 0;
    } else {
        state_t* last = chain_head;
        while (last->next) last = last->next;
        last->next = &s;
        s.parent = last;
        s.buffer_head = last->tail;
    }
    s.level_head = s.tail = s.buffer_head;
}

void unlink_state(state_t& s) {
    if (s.parent) s.parent->next = nullptr;
    else if (chain_head == &s) chain_head = nullptr;
    s.parent = s.next = nullptr;
}

state_t* last_state() {
    state_t* last = chain_head;
    while (last && last->next) last = last->next;
    return last;
}

}  // namespace zuv::lexer
