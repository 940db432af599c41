// ZUV_PLAN_DUMP=1: each plan as it is built, on standard error, one line per
// node (docs/plans.md).
#include <cstdio>

#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "interpreter/plans/plans.h"

namespace zuv::interpreter::plan {
namespace {

// The node's flags by name: each bit has one meaning, whatever the kind.
void print_flags(uint32_t flags) {
    for (uint32_t b = 0; b < FLAG_COUNT; b++)
        if (flags & (1u << b)) std::fprintf(stderr, " %s", flag_names[b]);
}

void print_value(const cell_t* v) {
    uint8_t t = type_of(v);
    if (word::any_word_q(t)) {
        std::fprintf(stderr, " %s %s", datatype::name_of(t),
                     symbol::get_utf8(static_cast<int32_t>(v->data2)));
    } else if (t == TYPE_integer) {
        std::fprintf(stderr, " %d", static_cast<int32_t>(v->data2));
    } else {
        std::fprintf(stderr, " %s", datatype::name_of(t));
    }
}

}  // namespace

void dump(const pnode_t* head) {
    std::fprintf(stderr, "plan: %d nodes\n", head->aux);
    for (int32_t i = 0; i < head->aux; i++) {
        const pnode_t* n = head + i;
        uint8_t k = n->kind();
        if (k >= K_COUNT) {
            std::fprintf(stderr, "%4d ?%u\n", i, k);
            continue;
        }
        std::fprintf(stderr, "%4d %-8s pos %d end %d aux %d small %u", i, kind_names[k], n->pos,
                     n->end, n->aux, n->small());
        print_flags(n->flags);
        if (k != K_HEAD && k != K_SNAP && k != K_END) {
            std::fprintf(stderr, " |");
            print_value(&n->value);
        }
        std::fprintf(stderr, "\n");
    }
}

}  // namespace zuv::interpreter::plan
