// Library code (see library_code.h).
#include "runtime/library_code.h"

#include <vector>

namespace zuv::library_code {
namespace {

bool code_kind_q(uint8_t t) {
    return t == TYPE_block || t == TYPE_paren || (t >= TYPE_path && t <= TYPE_get_path);
}

// An explicit work list: nesting depth costs heap, never C++ stack.
void mark_nodes(node_t first) {
    std::vector<node_t> todo{first};
    while (!todo.empty()) {
        node_t n = todo.back();
        todo.pop_back();
        series_buffer_t* s = alloc::buffer(n);
        if (s->flags & series_flag::LIBRARY) continue;
        s->flags |= series_flag::LIBRARY;
        const cell_t* c = s->head_cell();
        int32_t count = s->used() / 16;
        for (int32_t i = 0; i < count; i++)
            if (code_kind_q(type_of(c + i)) && c[i].data2 != 0) todo.push_back(c[i].data2);
    }
}

}  // namespace

void mark_library(const cell_t* block) {
    if (code_kind_q(type_of(block)) && block->data2 != 0) mark_nodes(block->data2);
}

}  // namespace zuv::library_code
