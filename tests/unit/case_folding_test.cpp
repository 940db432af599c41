// Case folding and character widths.
#include <gtest/gtest.h>

#include "runtime/case_folding.h"

using namespace zuv;

namespace {

class CaseFolding : public ::testing::Test {
protected:
    void SetUp() override { case_folding::init(); }
};

TEST_F(CaseFolding, NamedRows) {
    struct {
        uint32_t cp;
        bool upper;
        uint32_t expected;
    } cases[] = {
        {0x0061, true, 0x0041},
        {0x0041, false, 0x0061},
        {0x00FF, true, 0x0178},
        {0x0131, true, 0x0049},
        {0x017F, true, 0x0053},
        {0x0130, false, 0x0069},
        {0x0130, true, 0x0130},
        {0x0069, true, 0x0049},
        {0x01C5, true, 0x01C4},
        {0x01C5, false, 0x01C6},
        {0x03C2, true, 0x03A3},
        {0x1E9E, false, 0x00DF},
        {0x2126, false, 0x03C9},
        {0x212A, false, 0x006B},
        {0x10D0, true, 0x1C90},
        {0xFF5A, true, 0xFF3A},
        {0xFF3A, false, 0xFF5A},
        {0x1E922, true, 0x1E900},
        {0x1E943, true, 0x1E921},
        {0x1E900, false, 0x1E922},
        {0x10428, true, 0x10400},
        {0x16E7F, true, 0x16E5F},
        {0x0031, true, 0x0031},
        {0x4E00, false, 0x4E00},
        {0x0000, true, 0x0000},
        {0x10FFFF, true, 0x10FFFF},
        // No one-character upper case: the letter stays as it is.
        {0x00DF, true, 0x00DF},
        {0xFB01, true, 0xFB01},
    };
    for (auto& c : cases)
        EXPECT_EQ(case_folding::change(c.cp, c.upper), c.expected)
            << std::hex << "U+" << c.cp << (c.upper ? " upper" : " lower");
}

TEST_F(CaseFolding, ListsAreSortedAndSupplementaryListsInverse) {
    for (const auto* list : {&case_folding::bmp_upper, &case_folding::bmp_lower,
                             &case_folding::supp_upper, &case_folding::supp_lower})
        for (int32_t i = 1; i < list->count; i++)
            ASSERT_LT(list->pairs[i - 1].from, list->pairs[i].from);
    EXPECT_EQ(case_folding::supp_upper.count, 225);
    EXPECT_EQ(case_folding::bmp_lower.count, 1158);
    for (int32_t i = 0; i < case_folding::supp_upper.count; i++) {
        auto p = case_folding::supp_upper.pairs[i];
        EXPECT_EQ(case_folding::change(p.to, false), p.from);
    }
}

TEST_F(CaseFolding, SwapCase) {
    EXPECT_EQ(case_folding::swap_case('a'), uint32_t{'A'});
    EXPECT_EQ(case_folding::swap_case('A'), uint32_t{'a'});
    EXPECT_EQ(case_folding::swap_case('1'), uint32_t{'1'});
}

TEST_F(CaseFolding, Widths) {
    struct {
        uint32_t cp;
        int width;
    } cases[] = {
        {0x0000, 0},  {0x0007, 1},  {0x0041, 1}, {0x0300, 0}, {0x0600, 0},  {0x00AD, 1},
        {0x200B, 1},  {0x1100, 2},  {0x3000, 2}, {0xFF01, 2}, {0x4E00, 2},  {0x1F600, 2},
        {0x20000, 2}, {0x3FFFD, 2}, {0x009F, 1}, {0x00E9, 1}, {0x1E944, 0}, {0xE0100, 0},
    };
    for (auto& c : cases)
        EXPECT_EQ(terminal::char_width(c.cp), c.width) << std::hex << "U+" << c.cp;
    EXPECT_EQ(terminal::char_width_cjk(0x00A1), 2);
    EXPECT_EQ(terminal::char_width_cjk(0x0041), 1);
    EXPECT_EQ(terminal::char_width_cjk(0x10FFFD), 2);
}

}  // namespace
