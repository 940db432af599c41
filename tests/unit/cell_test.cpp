#include <gtest/gtest.h>

#include "runtime/cell.h"

using namespace zuv;

TEST(Cell, CopyOntoItselfLeavesItUnchanged) {
    cell_t c{TYPE_integer | FLAG_NEW_LINE, 1, 2, 3};
    EXPECT_EQ(copy_cell(&c, &c), &c);
    EXPECT_EQ(c.header, TYPE_integer | FLAG_NEW_LINE);
    EXPECT_EQ(c.data2, 2u);
}

TEST(Cell, SetTypeKeepsFlags) {
    cell_t c{TYPE_integer | FLAG_NEW_LINE, 0, 0, 0};
    cell::set_type(&c, TYPE_float_);
    EXPECT_EQ(type_of(&c), TYPE_float_);
    EXPECT_TRUE(c.header & FLAG_NEW_LINE);
    cell::clear_new_line(&c);
    EXPECT_FALSE(c.header & FLAG_NEW_LINE);
}

TEST(Cell, FloatBitsLiveInWordsTwoAndThree) {
    cell_t c{TYPE_float_, 0xAAAAAAAA, 0, 0};
    cell::put_float(&c, 1.5);
    EXPECT_EQ(c.data1, 0xAAAAAAAAu);
    EXPECT_EQ(c.data2, 0u);  // 1.5 = 0x3FF8000000000000, low word first
    EXPECT_EQ(c.data3, 0x3FF80000u);
    EXPECT_EQ(cell::get_float(&c), 1.5);
}
