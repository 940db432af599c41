// The set natives: union, intersect, unique, difference, exclude (one shared
// routine that checks that the two sets agree and hands them to the set
// operation of their datatype) and complement?.
#include "datatypes/actions.h"
#include "datatypes/bitset.h"
#include "datatypes/block_search.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/logic.h"
#include "datatypes/string_search.h"
#include "datatypes/time.h"
#include "datatypes/typeset.h"
#include "natives/natives.h"
#include "natives/values.h"
#include "runtime/fire.h"
#include "runtime/stack.h"

namespace zuv::natives {

namespace {

inline bool list_set_q(uint8_t t) { return t == TYPE_block || t == TYPE_hash; }

void run(int32_t number, const int32_t* refinements, int32_t code) {
    const cell_t* skip = refinements[1] >= 0 ? stack::arguments + refinements[1] : nullptr;
    set_operation(number, refinements[0] >= 0, skip, code);
}

}  // namespace

void set_operation(int32_t native_number, bool case_, const cell_t* skip, int32_t code) {
    (void)native_number;
    cell_t* set1 = stack::arguments;
    cell_t* set2 = stack::arguments + 1;
    uint8_t t1 = type_of(set1);
    if (code != block::SET_UNIQUE) {
        uint8_t t2 = type_of(set2);
        bool agree = list_set_q(t1) ? list_set_q(t2) : t1 == t2;
        if (!agree) {
            cell_t expected, got;
            datatype::make_at(&expected, t1);
            datatype::make_at(&got, t2);
            fire(err::expect_val, &expected, &got);
        }
    }
    switch (t1) {
    case TYPE_block:
    case TYPE_hash: block::do_set_op(case_, skip, code); break;
    case TYPE_string: string::do_set_op(case_, skip, code); break;
    case TYPE_bitset: bitset::do_bitwise(code); break;
    case TYPE_typeset: typeset::do_bitwise(code); break;
    case TYPE_date:
        if (code != block::SET_DIFFERENCE) actions::fire_expect_arg(set1, 0);
        time::make_at(set1, date::difference(set1, set2));
        break;
    default: actions::fire_expect_arg(set1, 0);
    }
    stack::keep();
}

void union_(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::union_, refinements);
    run(41, refinements, block::SET_UNION);
}

void intersect(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::intersect, refinements);
    run(42, refinements, block::SET_INTERSECT);
}

void unique(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::unique, refinements);
    run(43, refinements, block::SET_UNIQUE);
}

void difference(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::difference, refinements);
    run(44, refinements, block::SET_DIFFERENCE);
}

void exclude(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::exclude, refinements);
    run(45, refinements, block::SET_EXCLUDE);
}

void complement_q(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::complement_q, refinements);
    cell_t* bits = stack::arguments;
    if (type_of(bits) != TYPE_bitset) actions::fire_expect_arg(bits, 0);
    logic::box(bitset::inverted_q(bits));
    stack::keep();
}

}  // namespace zuv::natives
