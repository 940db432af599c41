#include <gtest/gtest.h>

#include "tests/unit/runtime_fixture.h"

#include "runtime/array.h"

using namespace zuv;

namespace {

class Array : public ::testing::Test {
protected:
    void SetUp() override { zuv::testing::start_bare_memory(); }
};

TEST_F(Array, FindAndRemovePointers) {
    node_t a = array::make(4, 4);
    EXPECT_EQ(array::find_pointer(a, 7), -1);
    for (uint32_t v : {7u, 9u, 7u}) array::append_pointer(a, v);
    EXPECT_EQ(array::find_pointer(a, 7), 0);
    EXPECT_EQ(array::find_pointer(a, 9), 4);
    array::remove_pointer(a, 7);
    ASSERT_EQ(array::length_q(a), 2);
    EXPECT_EQ(array::pick_pointer(a, 1), 9u);
    EXPECT_EQ(array::pick_pointer(a, 2), 7u);
    array::remove_pointer(a, 42);  // absent: nothing happens
    EXPECT_EQ(array::length_q(a), 2);
}

TEST_F(Array, TruncateAtOneEmpties) {
    node_t a = array::make(2, 4);
    array::append_int(a, 1);
    array::append_int(a, 2);
    array::truncate_at(a, 2);
    EXPECT_EQ(array::length_q(a), 1);
    array::truncate_at(a, 1);
    EXPECT_EQ(array::length_q(a), 0);
}

TEST_F(Array, GrowingKeepsEveryElement) {
    node_t ints = array::make(2, 4);
    node_t bytes = array::make(2, 1);
    for (int32_t i = 0; i < 1000; i++) {
        array::append_int(ints, i * 3);
        array::append_byte(bytes, static_cast<uint8_t>(i));
    }
    ASSERT_EQ(array::length_q(ints), 1000);
    ASSERT_EQ(array::length_q(bytes), 1000);
    for (int32_t i = 0; i < 1000; i++) {
        ASSERT_EQ(array::pick_int(ints, i + 1), i * 3);
        ASSERT_EQ(array::pick_byte(bytes, i + 1), static_cast<uint8_t>(i));
    }
    EXPECT_EQ(array::get_flags(ints) & series_flag::UNIT_MASK, 4u);
    node_t c = array::copy(ints);
    EXPECT_EQ(array::length_q(c), 1000);
    EXPECT_EQ(array::pick_int(c, 1000), 2997);
}

TEST_F(Array, InsertAndRemoveAt) {
    node_t a = array::make(1, 4);
    array::append_int(a, 1);
    array::append_int(a, 3);
    array::insert_int(a, 2, 1);
    array::insert_int(a, 0, 0);
    ASSERT_EQ(array::length_q(a), 4);
    for (int32_t i = 0; i < 4; i++) EXPECT_EQ(array::pick_int(a, i + 1), i);
    array::remove_at(a, 4, 8);
    ASSERT_EQ(array::length_q(a), 2);
    EXPECT_EQ(array::pick_int(a, 2), 3);
    const uint8_t text[] = "abc";
    node_t b = array::make(1, 1);
    array::append_bytes(b, text, 3);
    EXPECT_EQ(array::length_q(b), 3);
    EXPECT_EQ(array::pick_byte(b, 3), 'c');
}

}  // namespace
