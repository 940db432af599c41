// The collector: what survives, where it ends up, what is given back.

#include <cstring>
#include <vector>

#include "datatypes/context.h"
#include "runtime/alloc.h"
#include "runtime/collector.h"
#include "runtime/externals.h"
#include "runtime/hashtable.h"
#include "runtime/lowrt.h"
#include "runtime/ownership.h"
#include "runtime/stack.h"
#include "runtime_fixture.h"

namespace zuv {
namespace {

bool alive(node_t node) { return alloc::live_slot_q(alloc::node_table[node]); }
size_t span(node_t node) {
    return alloc::BUFFER_OVERHEAD + static_cast<size_t>(alloc::buffer(node)->size);
}
uint8_t* at(node_t node) { return reinterpret_cast<uint8_t*>(alloc::buffer(node)); }
bool inside(series_frame_t* f, node_t node) { return at(node) >= f->area() && at(node) < f->end; }

node_t bytes_filled(int32_t count, uint8_t byte) {
    node_t n = alloc::alloc_bytes(count);
    series_buffer_t* s = alloc::buffer(n);
    std::memset(s->data(), byte, static_cast<size_t>(s->size));
    s->tail = count;
    return n;
}

bool all_bytes(node_t node, uint8_t byte) {
    series_buffer_t* s = alloc::buffer(node);
    for (int32_t i = 0; i < s->tail; i++)
        if (s->data()[i] != byte) return false;
    return true;
}

cell_t block_of(node_t node) { return cell_t{TYPE_block, 0, node, 0}; }

class Collector : public testing::Runtime {
protected:
    void SetUp() override {
        testing::Runtime::SetUp();
        saved_active_ = collector::active;
        saved_period_ = collector::stress_period;
        // The tests place buffers by hand: no collection may run in between.
        collector::stress_period = 0;
        collector::active = true;
    }
    void TearDown() override {
        collector::active = saved_active_;
        collector::stress_period = saved_period_;
        collector::stress_countdown = saved_period_;
    }

private:
    bool saved_active_ = false;
    uint32_t saved_period_ = 0;
};

// Runs a test on series frames of its own: the runtime's frames are set
// aside (their buffers stay marked by the collections in between, so the
// marks are cleared on the way back) and the test's frames are returned.
class IsolatedFrames : public Collector {
protected:
    void SetUp() override {
        Collector::SetUp();
        collector::do_cycle();
        head_ = alloc::memory.s_head;
        tail_ = alloc::memory.s_tail;
        active_ = alloc::memory.s_active;
        spare_ = alloc::memory.s_spare;
        spare_bytes_ = alloc::memory.spare_bytes;
        alloc::memory.s_head = alloc::memory.s_tail = alloc::memory.s_active = nullptr;
        alloc::memory.s_spare = nullptr;
        alloc::memory.spare_bytes = 0;
    }
    void TearDown() override {
        drop_frames();
        alloc::release_spares(0);
        alloc::memory.s_spare = spare_;
        alloc::memory.spare_bytes = spare_bytes_;
        alloc::memory.s_head = head_;
        alloc::memory.s_tail = tail_;
        alloc::memory.s_active = active_;
        for (series_frame_t* f = head_; f; f = f->next)
            for (uint8_t* p = f->area(); p < f->heap;) {
                auto* s = reinterpret_cast<series_buffer_t*>(p);
                s->flags &= ~series_flag::MARK;
                p += alloc::BUFFER_OVERHEAD + static_cast<size_t>(s->size);
            }
        Collector::TearDown();
    }

    // Gives back the test's frames and the nodes of what is left in them.
    static void drop_frames() {
        while (series_frame_t* f = alloc::memory.s_head) {
            for (uint8_t* p = f->area(); p < f->heap;) {
                auto* s = reinterpret_cast<series_buffer_t*>(p);
                if (s->node && alloc::node_table[s->node] == reinterpret_cast<uintptr_t>(s))
                    alloc::free_node(alloc::frame_of(s->node), s->node);
                p += alloc::BUFFER_OVERHEAD + static_cast<size_t>(s->size);
            }
            alloc::free_series_frame(f);
        }
    }

    // New frames, in list (address) order.
    std::vector<series_frame_t*> frames(int count) {
        for (int i = 0; i < count; i++) alloc::new_series_frame();
        std::vector<series_frame_t*> list;
        for (series_frame_t* f = alloc::memory.s_head; f; f = f->next) list.push_back(f);
        return list;
    }
    static void fill_into(series_frame_t* f) { alloc::memory.s_active = f; }
    static bool listed(const series_frame_t* frame) {
        for (series_frame_t* f = alloc::memory.s_head; f; f = f->next)
            if (f == frame) return true;
        return false;
    }

private:
    series_frame_t* head_ = nullptr;
    series_frame_t* tail_ = nullptr;
    series_frame_t* active_ = nullptr;
    series_frame_t* spare_ = nullptr;
    size_t spare_bytes_ = 0;
};

TEST_F(IsolatedFrames, LiveBuffersAroundADeadOneEndUpAdjacent) {
    series_frame_t* f = frames(1)[0];
    fill_into(f);
    collector::stress_period = 0xFFFFFFFFu;  // poisons, never ticks
    collector::stress_countdown = 0xFFFFFFFFu;
    node_t first = bytes_filled(100, 'a');
    node_t dead = bytes_filled(200, 'b');
    node_t second = bytes_filled(50, 'c');
    alloc::buffer(second)->head = 3;
    alloc::buffer(second)->tail = 40;
    uint8_t* old_heap = f->heap;
    collector::root_node keep_first(first), keep_second(second);

    collector::do_cycle();

    EXPECT_FALSE(alive(dead));
    EXPECT_EQ(at(first), f->area());
    EXPECT_EQ(at(second), at(first) + span(first));
    EXPECT_EQ(alloc::buffer(second)->node, second);
    EXPECT_EQ(alloc::buffer(second)->head, 3);
    EXPECT_EQ(alloc::buffer(second)->tail, 40);
    EXPECT_TRUE(all_bytes(first, 'a'));
    EXPECT_TRUE(all_bytes(second, 'c'));
    EXPECT_EQ(alloc::buffer(second)->flags & series_flag::MARK, 0u);
    EXPECT_EQ(f->heap, at(second) + span(second));
    for (uint8_t* p = f->heap; p < old_heap; p++) ASSERT_EQ(*p, collector::POISON);
}

TEST_F(IsolatedFrames, EmptiedMiddleFrameIsKeptForReuseAndTheLastKeptInPlace) {
    std::vector<series_frame_t*> list = frames(3);
    fill_into(list[0]);
    node_t kept = bytes_filled(64, 'k');
    fill_into(list[1]);
    bytes_filled(64, 'x');
    fill_into(list[2]);
    bytes_filled(64, 'y');
    collector::root_node keep(kept);
    size_t total = alloc::memory.total;

    collector::do_cycle();

    EXPECT_TRUE(listed(list[0]));
    EXPECT_FALSE(listed(list[1]));
    EXPECT_TRUE(listed(list[2]));
    EXPECT_EQ(list[2]->heap, list[2]->area());
    EXPECT_EQ(alloc::memory.s_tail, list[2]);
    EXPECT_TRUE(all_bytes(kept, 'k'));
    // The emptied frame is a spare: still taken from the system, and the
    // next frame needed, without a new mapping.
    EXPECT_EQ(alloc::memory.s_spare, list[1]);
    EXPECT_EQ(alloc::memory.total, total);
    EXPECT_EQ(alloc::in_use(), total - list[1]->size);
    alloc::new_series_frame();
    EXPECT_TRUE(listed(list[1]));
    EXPECT_EQ(alloc::memory.s_spare, nullptr);
    EXPECT_EQ(alloc::memory.total, total);
    EXPECT_EQ(list[1]->heap, list[1]->area());
}

TEST_F(IsolatedFrames, SparesGoBackToTheSystemDownToTheLimit) {
    std::vector<series_frame_t*> list = frames(4);
    fill_into(list[0]);
    node_t kept = bytes_filled(64, 'k');
    for (int i = 1; i < 4; i++) {
        fill_into(list[i]);
        bytes_filled(64, 'x');
    }
    collector::root_node keep(kept);
    collector::do_cycle();
    ASSERT_EQ(alloc::memory.spare_bytes, list[1]->size + list[2]->size);
    size_t total = alloc::memory.total;

    alloc::release_spares(total - 1);  // one frame is enough to get below
    EXPECT_EQ(alloc::memory.spare_bytes, list[1]->size);
    EXPECT_LT(alloc::memory.total, total);
    alloc::release_spares(0);
    EXPECT_EQ(alloc::memory.s_spare, nullptr);
    EXPECT_EQ(alloc::memory.spare_bytes, 0u);
    EXPECT_TRUE(all_bytes(kept, 'k'));
}

TEST_F(IsolatedFrames, PreviousFrameReceivesOnlyAboveTheFloor) {
    struct {
        size_t room;
        bool moves;
    } cases[] = {{52428, false}, {52429, true}};
    for (auto& c : cases) {
        std::vector<series_frame_t*> list = frames(2);
        series_frame_t* p = list[0];
        series_frame_t* f = list[1];
        fill_into(p);
        node_t base = bytes_filled(32, 'p');
        fill_into(f);
        node_t mover = bytes_filled(32, 'm');
        uint8_t* end = p->end;
        p->end = p->heap + c.room;
        {
            collector::root_node keep_base(base), keep_mover(mover);
            collector::do_cycle();
            EXPECT_EQ(inside(p, mover), c.moves) << "room " << c.room;
            EXPECT_EQ(inside(f, mover), !c.moves) << "room " << c.room;
            EXPECT_TRUE(all_bytes(mover, 'm'));
        }
        p->end = end;
        drop_frames();
    }
}

TEST_F(IsolatedFrames, RunTooLongForThePreviousFrameIsSplit) {
    std::vector<series_frame_t*> list = frames(2);
    series_frame_t* p = list[0];
    series_frame_t* f = list[1];
    fill_into(p);
    node_t base = bytes_filled(32, 'p');
    fill_into(f);
    node_t one = bytes_filled(100000, '1');
    node_t two = bytes_filled(100000, '2');
    p->end = p->heap + 150000;  // room for one but not both
    collector::root_node keep_base(base), keep_one(one), keep_two(two);

    collector::do_cycle();

    EXPECT_TRUE(inside(p, one));
    EXPECT_TRUE(inside(f, two));
    EXPECT_EQ(at(two), f->area());
    EXPECT_TRUE(all_bytes(one, '1'));
    EXPECT_TRUE(all_bytes(two, '2'));
}

TEST_F(Collector, MillionDeepNestedBlockIsMarked) {
    constexpr int DEPTH = 1000000;
    node_t innermost = bytes_filled(16, 'z');
    cell_t outer{TYPE_string, 0, innermost, 0};
    collector::root_cell keep(&outer);
    for (int i = 0; i < DEPTH; i++) {
        node_t n = alloc::alloc_cells(1);
        series_buffer_t* s = alloc::buffer(n);
        *s->head_cell() = outer;
        s->tail = 16;
        outer = block_of(n);
    }
    uint32_t before = collector::cycles;
    collector::do_cycle();
    EXPECT_EQ(collector::cycles, before + 1);

    const cell_t* c = &outer;
    int depth = 0;
    while (type_of(c) == TYPE_block) {
        ASSERT_TRUE(alive(c->data2));
        c = alloc::buffer(c->data2)->head_cell();
        depth++;
    }
    EXPECT_EQ(depth, DEPTH);
    EXPECT_EQ(c->data2, innermost);
    EXPECT_TRUE(all_bytes(innermost, 'z'));
}

std::vector<uintptr_t> released;
void note_release(uintptr_t object) { released.push_back(object); }

TEST_F(Collector, UnreachedExternalEntryIsReleasedOnce) {
    released.clear();
    int32_t kind = externals::register_kind(0, note_release);
    int32_t kept = externals::add(0x1000, static_cast<uint32_t>(kind));
    externals::add(0x2000, static_cast<uint32_t>(kind));
    cell_t handle{TYPE_handle, 0, 0, static_cast<uint32_t>(kept)};
    cell_t none_handle{TYPE_handle, 0, 0, static_cast<uint32_t>(-1)};  // refers to nothing
    {
        collector::root_cell keep(&handle), keep_none(&none_handle);
        collector::do_cycle();
        EXPECT_EQ(released, std::vector<uintptr_t>{0x2000});
        collector::do_cycle();
        EXPECT_EQ(released, std::vector<uintptr_t>{0x2000});
    }
    collector::do_cycle();
    collector::do_cycle();
    EXPECT_EQ(released, (std::vector<uintptr_t>{0x2000, 0x1000}));
}

TEST_F(Collector, SwitchedOffCollectsNothing) {
    uint32_t before = collector::cycles;
    collector::active = false;
    collector::collect_if_enabled();
    // A stress period does not override the switch either.
    collector::stress_period = collector::stress_countdown = 1;
    alloc::alloc_bytes(16);
    alloc::alloc_bytes(16);
    collector::stress_period = 0;
    EXPECT_EQ(collector::cycles, before);
    collector::active = true;
    collector::collect_if_enabled();
    EXPECT_EQ(collector::cycles, before + 1);
}

TEST_F(Collector, StressPeriodCollectsEveryNAllocations) {
    uint32_t before = collector::cycles;
    collector::stress_period = collector::stress_countdown = 3;
    for (int i = 0; i < 9; i++) alloc::alloc_bytes(16);
    collector::stress_period = 0;
    EXPECT_EQ(collector::cycles, before + 3);
}

TEST_F(Collector, OutgrownBufferIsPoisonedUnderStress) {
    collector::stress_period = collector::stress_countdown = 0xFFFFFFFFu;
    node_t n = bytes_filled(64, 'q');
    uint8_t* old_data = alloc::buffer(n)->data();
    alloc::expand_series_copy(alloc::buffer(n), 256);
    EXPECT_TRUE(all_bytes(n, 'q'));
    for (int i = 0; i < 64; i++) ASSERT_EQ(old_data[i], collector::POISON);
}

// What each kind of value keeps alive, by the words that hold nodes.
TEST_F(Collector, ValuesKeepWhatTheyReferTo) {
    struct {
        uint8_t type;
        uint32_t header_bits;
        bool word1, word2, word3;  // which words get a node
        bool keeps1, keeps2, keeps3;
    } cases[] = {
        {TYPE_string, 0, false, true, true, false, true, true},
        {TYPE_tag, 0, false, true, false, false, true, false},
        {TYPE_binary, 0, false, true, true, false, true, false},
        {TYPE_bitset, 0, false, true, false, false, true, false},
        {TYPE_symbol, 0, false, true, true, false, true, true},
        {TYPE_block, 0, false, true, true, false, true, false},
        {TYPE_paren, 0, false, true, false, false, true, false},
        {TYPE_set_path, 0, false, true, false, false, true, false},
        {TYPE_native, 0, true, true, true, false, true, true},
        // Backend and scripted events alike: word 2 is always a node.
        {TYPE_event, 0, false, true, false, false, true, false},
        {TYPE_event, 1u << 12, false, true, false, false, true, false},
        {TYPE_integer, 0, true, true, true, false, false, false},
        {TYPE_image, 0, false, true, false, false, true, false},
    };
    for (auto& c : cases) {
        node_t n1 = c.word1 ? alloc::alloc_unset_cells(2) : 0;
        node_t n2 = c.word2 ? alloc::alloc_unset_cells(2) : 0;
        node_t n3 = c.word3 ? alloc::alloc_unset_cells(2) : 0;
        cell_t value{c.type | c.header_bits, n1, n2, n3};
        {
            collector::root_cell keep(&value);
            collector::do_cycle();
        }
        if (n1) {
            EXPECT_EQ(alive(n1), c.keeps1) << "type " << int(c.type) << " word 1";
        }
        if (n2) {
            EXPECT_EQ(alive(n2), c.keeps2) << "type " << int(c.type) << " word 2";
        }
        if (n3) {
            EXPECT_EQ(alive(n3), c.keeps3) << "type " << int(c.type) << " word 3";
        }
        collector::do_cycle();  // the kept ones go now
    }
}

TEST_F(Collector, CellSeriesKeepsItsCellsValuesFromHeadToTail) {
    node_t inside = bytes_filled(16, 'i');
    node_t beyond = bytes_filled(16, 'o');
    node_t holder = alloc::alloc_unset_cells(4);
    series_buffer_t* s = alloc::buffer(holder);
    s->head_cell()[0] = cell_t{TYPE_string, 0, inside, 0};
    s->head_cell()[1] = cell_t{TYPE_string, 0, beyond, 0};
    s->tail = 16;  // the second cell lies past the tail
    collector::root_node keep(holder);
    collector::do_cycle();
    EXPECT_TRUE(alive(inside));
    EXPECT_FALSE(alive(beyond));
}

TEST_F(Collector, ArgumentStackAboveTheCallBaseIsARoot) {
    node_t pushed = bytes_filled(16, 's');
    // The cells below stay from earlier tests: they are made harmless first.
    stack::bottom[0] = stack::bottom[1] = cell_t{TYPE_unset, 0, 0, 0};
    stack::arguments = stack::top_slot = stack::bottom + 2;
    cell_t value{TYPE_string, 0, pushed, 0};
    stack::push(&value);
    stack::push(&value);
    collector::do_cycle();
    EXPECT_TRUE(alive(pushed));
    stack::top_slot = stack::arguments = stack::bottom;
    collector::do_cycle();
    EXPECT_FALSE(alive(pushed));
}

TEST_F(Collector, ContextKeepsItsTableValuesAndSelf) {
    node_t ctx = _context::create(4, false, true, nullptr, _context::KIND_OBJECT);
    node_t self_text = bytes_filled(16, 'f');
    *_context::get_self_value(ctx) = cell_t{TYPE_string, 0, self_text, 0};
    const cell_t* c = _context::cell_of(ctx);
    node_t table = c->data1, values = c->data2;
    node_t keys = static_cast<node_t>(hashtable::record(table)->keys);
    cell_t object{TYPE_object, ctx, 0, 0};
    {
        collector::root_cell keep(&object);
        collector::do_cycle();
        EXPECT_TRUE(alive(ctx) && alive(table) && alive(values) && alive(keys) && alive(self_text));
    }
    collector::do_cycle();
    EXPECT_FALSE(alive(ctx) || alive(table) || alive(values) || alive(keys) || alive(self_text));
}

TEST_F(Collector, IntegerKeysAreNotNodes) {
    node_t table = hashtable::init(8, nullptr, hashtable::KIND_INT, 1);
    collector::root_node keep(table, true);
    node_t named = bytes_filled(16, 'n');
    hashtable::put_int_key(table, static_cast<int32_t>(named));
    collector::do_cycle();
    EXPECT_FALSE(alive(named));
    EXPECT_TRUE(alive(static_cast<node_t>(hashtable::record(table)->block)));
    EXPECT_NE(hashtable::get_int_key(table, static_cast<int32_t>(named)), nullptr);
}

TEST_F(Collector, OwnershipTableIsWeak) {
    node_t ctx = _context::create(2, false, true, nullptr, _context::KIND_OBJECT);
    cell_t owner{TYPE_object, ctx, 0, 0};
    cell_t word{TYPE_word, 0, 1, 0};
    cell_t kept{TYPE_string, 0, bytes_filled(16, 'k'), 0};
    cell_t dropped{TYPE_string, 0, bytes_filled(16, 'd'), 0};
    collector::root_cell keep_owner(&owner), keep_kept(&kept);
    int32_t before = ownership::count();
    ownership::set_owner(&kept, &owner, &word);
    ownership::set_owner(&dropped, &owner, &word);
    EXPECT_EQ(ownership::count(), before + 2);
    collector::do_cycle();
    EXPECT_FALSE(alive(dropped.data2));
    EXPECT_TRUE(alive(kept.data2));
    EXPECT_EQ(ownership::count(), before + 1);
    EXPECT_NE(ownership::get_owner(kept.data2), nullptr);
}

TEST_F(Collector, FixedBuffersLoseTheirMarksAfterACycle) {
    node_t fixed = alloc::alloc_fixed_series(4, sizeof(cell_t), 0);
    cell_t holder = block_of(fixed);
    collector::root_cell keep(&holder);
    collector::do_cycle();
    EXPECT_TRUE(alive(fixed));
    EXPECT_EQ(alloc::buffer(fixed)->flags & series_flag::MARK, 0u);
    EXPECT_EQ(alloc::buffer(stack::argument_node)->flags & series_flag::MARK, 0u);
    // Nothing ever gives a fixed buffer back but its owner.
    lowrt::release(alloc::buffer(fixed));
    alloc::free_node(alloc::frame_of(fixed), fixed);
}

TEST_F(Collector, BigFramesAreKeptWhileReachedAndReleasedAfter) {
    node_t big = alloc::alloc_bytes(3 * 1024 * 1024);
    ASSERT_TRUE(alloc::buffer(big)->flags & series_flag::BIG);
    size_t total = alloc::memory.total;
    {
        collector::root_node keep(big);
        collector::do_cycle();
        EXPECT_TRUE(alive(big));
        EXPECT_EQ(alloc::buffer(big)->flags & series_flag::MARK, 0u);
    }
    collector::do_cycle();
    EXPECT_FALSE(alive(big));
    EXPECT_LT(alloc::memory.total, total);
}

int marker_calls = 0;
node_t marker_node = 0;
void test_marker() {
    marker_calls++;
    collector::mark_node(marker_node);
}

TEST_F(Collector, RegisteredMarkersRunEachCycle) {
    marker_node = bytes_filled(16, 'r');
    collector::add_marker(test_marker);
    collector::do_cycle();
    collector::remove_marker(test_marker);
    EXPECT_EQ(marker_calls, 1);
    EXPECT_TRUE(alive(marker_node));
    collector::do_cycle();
    EXPECT_EQ(marker_calls, 1);
    EXPECT_FALSE(alive(marker_node));
}

TEST_F(Collector, EmptiedNodeFramesAreKeptUntilSparesAreReleased) {
    int64_t used = alloc::nodes_in_use();
    collector::active = false;  // no collection may reclaim them early
    for (int i = 0; i < 2 * alloc::NODES_PER_FRAME; i++) alloc::alloc_bytes(16);
    collector::active = true;
    collector::do_cycle();
    EXPECT_LE(alloc::nodes_in_use(), used);
    int empty = 0;
    for (node_frame_t* f = alloc::memory.n_head; f; f = f->next) empty += f->used == 0;
    EXPECT_GE(empty, 1);
    size_t total = alloc::memory.total;
    alloc::release_spares(0);
    EXPECT_LT(alloc::memory.total, total);
    for (node_frame_t* f = alloc::memory.n_head; f; f = f->next) EXPECT_NE(f->used, 0);
}

}  // namespace
}  // namespace zuv
