// ZUV_PLAN_DUMP=1: each plan as it is built, on standard error, one line per
// node (docs/plans.md). A flag's name depends on the node's kind, and for a
// K_WORDREF on the kind of the node it belongs to (the one before it).
#include <cstdio>
#include <iterator>

#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "interpreter/plans/plans.h"

namespace zuv::interpreter::plan {
namespace {

struct flag_name {
    uint32_t bit;
    const char* name;
};

// The names of the header's flag bits on a node of kind k (owner: the kind
// of the node a K_WORDREF belongs to).
void print_flags(uint8_t k, uint8_t owner, uint32_t header) {
    static constexpr flag_name node_flags[] = {
        {COMPOUND, "COMPOUND"}, {PROBE, "PROBE"}, {PROBE_LOCAL, "PROBE_LOCAL"}};
    static constexpr flag_name call_ref[] = {{LEAF_BODY, "LEAF_BODY"},
                                             {REF_ANSWERS_PROBE, "REF_ANSWERS_PROBE"},
                                             {PLAIN_CALL, "PLAIN_CALL"},
                                             {SELF_CALL, "SELF_CALL"}};
    static constexpr flag_name cond_ref[] = {{OWN_WORD_AFTER, "OWN_WORD_AFTER"},
                                             {LEAF_CONDITION, "LEAF_CONDITION"},
                                             {LANE_CONDITION, "LANE_CONDITION"}};
    static constexpr flag_name op_ref[] = {{OPERATOR_ANY_TYPES, "OPERATOR_ANY_TYPES"}};
    static constexpr flag_name block_small[] = {{ONE_EXPRESSION, "ONE_EXPRESSION"},
                                                {ONE_LEAF, "ONE_LEAF"}};
    auto print = [header](const flag_name* names, size_t n) {
        for (size_t i = 0; i < n; i++)
            if (header & names[i].bit) std::fprintf(stderr, " %s", names[i].name);
    };
    if (k == K_WORDREF) {
        if (owner == K_CALL) print(call_ref, std::size(call_ref));
        else if (owner == K_NATIVE) print(call_ref + 1, 1);
        else if (owner == K_COND) print(cond_ref, std::size(cond_ref));
        else if (owner == K_OP) print(op_ref, std::size(op_ref));
        return;
    }
    if (k == K_BLOCK) {
        print(block_small, std::size(block_small));
        return;
    }
    print(node_flags, std::size(node_flags));
    if (header & (1u << 28)) {
        if (k == K_INFIX) std::fprintf(stderr, " SIMPLE_INFIX");
        else std::fprintf(stderr, " ANSWERS_PROBE");
    }
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
        print_flags(k, i > 0 ? n[-1].kind() : uint8_t{K_HEAD}, n->header);
        if (k != K_HEAD && k != K_SNAP && k != K_END) {
            std::fprintf(stderr, " |");
            print_value(&n->value);
        }
        std::fprintf(stderr, "\n");
    }
}

}  // namespace zuv::interpreter::plan
