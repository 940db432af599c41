// The memory manager: sizes, frames, growth and the failures it must refuse.
#include <gtest/gtest.h>

#include "tests/unit/runtime_fixture.h"

#include "runtime/alloc.h"
#include "runtime/fire.h"
#include "runtime/lowrt.h"

using namespace zuv;

namespace {

// Each test starts from an empty memory manager with the first frames that
// start-up makes.
class Alloc : public ::testing::Test {
protected:
    void SetUp() override { zuv::testing::start_bare_memory(); }
    void TearDown() override { alloc::free_all(); }
};

int frame_count() {
    int n = 0;
    for (series_frame_t* f = alloc::memory.s_head; f; f = f->next) n++;
    return n;
}

TEST_F(Alloc, SizesRoundUpToSixteenBytes) {
    struct {
        int64_t units;
        int32_t unit;
        int32_t size;
    } cases[] = {{0, 1, 16},  {3, 4, 16}, {16, 1, 16}, {17, 1, 32},
                 {2, 16, 32}, {0, 2, 16}, {0, 4, 16}};
    for (auto& c : cases) {
        node_t n = c.unit == 1 ? alloc::alloc_bytes(c.units) : alloc::alloc_units(c.units, c.unit);
        series_buffer_t* s = alloc::buffer(n);
        EXPECT_EQ(s->size, c.size) << c.units << " units of " << c.unit;
        EXPECT_EQ(s->head, s->tail);
        EXPECT_EQ(s->unit(), static_cast<uint32_t>(c.unit));
        EXPECT_EQ(s->node, n);
        EXPECT_TRUE(s->flags & series_flag::ACTIVE);
        EXPECT_TRUE(s->flags & series_flag::NEW);
    }
}

TEST_F(Alloc, BigFrameThreshold) {
    // 2,097,120 bytes: total 2,097,144 stays below 2 MB and takes a series frame.
    series_buffer_t* s = alloc::buffer(alloc::alloc_bytes(2097120));
    EXPECT_EQ(s->size, 2097120);
    EXPECT_FALSE(s->flags & series_flag::BIG);
    // One more byte: size 2,097,136, total 2,097,160, a big frame of its own.
    series_buffer_t* b = alloc::buffer(alloc::alloc_bytes(2097121));
    EXPECT_EQ(b->size, 2097136);
    EXPECT_TRUE(b->flags & series_flag::BIG);
    ASSERT_NE(alloc::memory.b_head, nullptr);
    EXPECT_EQ(alloc::memory.b_head->buffer(), b);
}

TEST_F(Alloc, HeadOffsetMinusOnePutsHeadInTheMiddle) {
    series_buffer_t* s = alloc::buffer(alloc::alloc_series(64, 1, -1));
    EXPECT_EQ(s->head, 32);
    EXPECT_EQ(s->tail, 32);
    EXPECT_TRUE(s->flags & series_flag::HEAD_MIDDLE);
}

TEST_F(Alloc, ExpandMovesAndAbandonsTheOldBuffer) {
    node_t n = alloc::alloc_bytes(64);
    series_buffer_t* old = alloc::buffer(n);
    for (int i = 0; i < 64; i++) old->data()[i] = static_cast<uint8_t>(i);
    old->tail = 40;
    series_buffer_t* s = alloc::expand_series_copy(old, 0);
    EXPECT_EQ(s->size, 128);
    EXPECT_EQ(alloc::buffer(n), s);
    EXPECT_EQ(s->node, n);
    EXPECT_EQ(old->node, 0u);
    EXPECT_FALSE(old->flags & series_flag::ACTIVE);
    EXPECT_EQ(s->tail - s->head, 40);
    for (int i = 0; i < 64; i++) ASSERT_EQ(s->data()[i], i);
}

TEST_F(Alloc, ExpandKeepsHeadToTailDistanceFromAMiddleHead) {
    node_t n = alloc::alloc_series(64, 1, -1);
    series_buffer_t* s = alloc::buffer(n);
    std::memcpy(s->head_ptr(), "abcd", 4);
    s->tail += 4;
    s = alloc::expand_series_copy(s, 256);
    EXPECT_EQ(s->head, 0);
    EXPECT_EQ(s->tail, 4);
    EXPECT_EQ(std::memcmp(s->head_ptr(), "abcd", 4), 0);
}

TEST_F(Alloc, SecondSeriesFrameIsTwoMegabytes) {
    series_frame_t* first = alloc::memory.s_head;
    EXPECT_EQ(first->end - first->area(), 1048576);
    alloc::new_series_frame();
    for (series_frame_t* f = alloc::memory.s_head; f; f = f->next) {
        if (f != first) {
            EXPECT_EQ(f->end - f->area(), 2097152);
        }
    }
}

TEST_F(Alloc, FullFrameMakesANewOne) {
    // Buffers of ~100 KB: the first 1 MB frame holds 10 of them.
    for (int i = 0; i < 12; i++) alloc::alloc_bytes(100000);
    EXPECT_EQ(frame_count(), 2);
}

TEST_F(Alloc, NearlyFullFrameIsReusedOnlyBeforeACollection) {
    // Fill the first frame to leave just under the 52,428-byte floor.
    series_frame_t* first = alloc::memory.s_head;
    size_t area = static_cast<size_t>(first->end - first->heap);
    size_t bytes = (area - 52427 - alloc::BUFFER_OVERHEAD + 15) & ~size_t{15};
    alloc::alloc_bytes(static_cast<int64_t>(bytes));
    size_t left = static_cast<size_t>(first->end - first->heap);
    ASSERT_LT(left, alloc::FRAME_FLOOR);
    ASSERT_GT(left, 60000u - 52428u);
    // A request that does not fit: no frame has room, a collection (off here)
    // finds none, and what is left is below the floor: a new frame.
    alloc::alloc_bytes(60000);
    ASSERT_EQ(frame_count(), 2);
    series_frame_t* second =
        alloc::memory.s_head == first ? alloc::memory.s_tail : alloc::memory.s_head;
    EXPECT_EQ(alloc::memory.s_active, second);
    // A small request that the active frame cannot take goes to the first
    // frame that has room, however little: the floor only applies after a
    // collection.
    second->heap = second->end - 8;
    alloc::alloc_bytes(100);
    EXPECT_EQ(alloc::memory.s_active, first);
}

TEST_F(Alloc, OversizedRequestsRaiseNoMemory) {
    for (int64_t units : {int64_t{-1}, int64_t{0x80000000}, int64_t{1} << 40}) {
        try {
            alloc::alloc_bytes(units);
            FAIL() << units << " bytes were allocated";
        } catch (const raised_error& e) {
            EXPECT_EQ(e.id, err::no_memory);
        }
    }
    try {
        alloc::alloc_units(int64_t{1} << 30, 4);  // 4 GB: must not wrap to a small size
        FAIL() << "4 GB were allocated";
    } catch (const raised_error& e) {
        EXPECT_EQ(e.id, err::no_memory);
    }
}

TEST_F(Alloc, AppendingToAFullBlockDoublesIt) {
    node_t n = alloc::alloc_cells(4);
    cell_t block{TYPE_block, 0, n, 0};
    for (uint32_t i = 0; i < 4; i++) {
        cell_t* c = alloc::alloc_tail_value(&block);
        *c = cell_t{TYPE_integer, 0, i, 0};
    }
    EXPECT_EQ(alloc::buffer(n)->size, 64);
    cell_t* c = alloc::alloc_tail_value(&block);
    EXPECT_EQ(type_of(c), TYPE_unset);
    series_buffer_t* s = alloc::buffer(n);
    EXPECT_EQ(s->size, 128);
    EXPECT_EQ(s->tail, 80);
    for (uint32_t i = 0; i < 4; i++) EXPECT_EQ(s->head_cell()[i].data2, i);
}

TEST_F(Alloc, ReservingMoreThanTheBufferGrowsToTwiceTheRequest) {
    node_t n = alloc::alloc_bytes(16);
    alloc::alloc_tail_unit(alloc::buffer(n), 100);
    EXPECT_EQ(alloc::buffer(n)->size, 208);  // 200 rounded up to 16
    EXPECT_EQ(alloc::buffer(n)->tail, 100);
    alloc::alloc_tail_unit(alloc::buffer(n), 200);
    EXPECT_EQ(alloc::buffer(n)->size, 416);  // twice the old size
    EXPECT_EQ(alloc::buffer(n)->tail, 300);
}

TEST_F(Alloc, CopySeriesKeepsFlagsContentAndLength) {
    node_t n = alloc::alloc_units(8, 2);
    series_buffer_t* s = alloc::buffer(n);
    s->flags |= series_flag::OWNED;
    std::memcpy(s->data(), "a\0b\0c\0", 6);
    s->tail = 6;
    node_t c = alloc::copy_series(s);
    series_buffer_t* t = alloc::buffer(c);
    EXPECT_EQ(t->unit(), 2u);
    EXPECT_TRUE(t->flags & series_flag::OWNED);
    EXPECT_EQ(t->tail - t->head, 6);
    EXPECT_EQ(std::memcmp(t->head_ptr(), "a\0b\0c\0", 6), 0);

    node_t part = alloc::copy_string_part(n, 1, 2);
    series_buffer_t* p = alloc::buffer(part);
    EXPECT_FALSE(p->flags & series_flag::OWNED);
    EXPECT_EQ(p->unit(), 2u);
    EXPECT_EQ(p->tail, 4);
    EXPECT_EQ(std::memcmp(p->head_ptr(), "b\0c\0", 4), 0);
}

TEST_F(Alloc, FixedBuffersDoNotLiveInFrames) {
    node_t n = alloc::alloc_fixed_series(100, 16, 0);
    series_buffer_t* s = alloc::buffer(n);
    EXPECT_TRUE(s->flags & series_flag::FIXED);
    EXPECT_EQ(s->size, 1600);
    for (series_frame_t* f = alloc::memory.s_head; f; f = f->next) {
        EXPECT_FALSE(reinterpret_cast<uint8_t*>(s) >= f->area() &&
                     reinterpret_cast<uint8_t*>(s) < f->end);
    }
    lowrt::release(s);  // fixed buffers are never released by the runtime itself
}

TEST_F(Alloc, UnsetCellsAreAllUnset) {
    series_buffer_t* s = alloc::buffer(alloc::alloc_unset_cells(3));
    auto* c = reinterpret_cast<cell_t*>(s->data());
    for (int i = 0; i < s->size / 16; i++) {
        EXPECT_EQ(type_of(&c[i]), TYPE_unset);
        EXPECT_EQ(c[i].data1 | c[i].data2 | c[i].data3, 0u);
    }
    EXPECT_EQ(s->tail, s->head);  // reserving is not filling
}

TEST_F(Alloc, NodesComeFromFramesAndGoBack) {
    int64_t before = alloc::nodes_in_use();
    node_t a = alloc::alloc_node();
    node_t b = alloc::alloc_node();
    EXPECT_NE(a, 0u);
    EXPECT_NE(a, b);
    EXPECT_EQ(alloc::nodes_in_use(), before + 2);
    alloc::free_node(alloc::frame_of(b), b);
    EXPECT_EQ(alloc::alloc_node(), b);  // the free chain is last in, first out
    // A full frame makes the next node come from a new frame.
    for (int i = 0; i < alloc::NODES_PER_FRAME; i++) alloc::alloc_node();
    EXPECT_NE(alloc::memory.n_head, alloc::memory.n_tail);
}

TEST_F(Alloc, EmptyNodeFramesAreKeptAfterACollectionUntilSparesAreReleased) {
    std::vector<node_t> nodes;
    for (int i = 0; i < alloc::NODES_PER_FRAME + 5; i++) nodes.push_back(alloc::alloc_node());
    node_frame_t* second = alloc::memory.n_tail;
    ASSERT_NE(second, alloc::memory.n_head);
    for (int i = alloc::NODES_PER_FRAME; i < alloc::NODES_PER_FRAME + 5; i++)
        alloc::free_node(alloc::frame_of(nodes[i]), nodes[i]);
    alloc::release_node_frames();
    EXPECT_EQ(alloc::memory.n_tail, second);  // kept: the next nodes come from it
    alloc::release_spares(0);
    EXPECT_EQ(alloc::memory.n_head, alloc::memory.n_tail);
}

TEST_F(Alloc, TotalCountsWholePages) {
    size_t before = alloc::memory.total;
    void* p = alloc::os_allocate(100);
    EXPECT_EQ(alloc::memory.total - before, 4096u);
    alloc::os_free(p);
    EXPECT_EQ(alloc::memory.total, before);
}

}  // namespace
