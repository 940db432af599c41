// A port made from a URL gets its spec object from decode-url, called back
// from C++ with a guarded cell for the answer.
#include <gtest/gtest.h>

#include <cstring>

#include "datatypes/context.h"
#include "datatypes/port.h"
#include "runtime/alloc.h"
#include "runtime/collector.h"
#include "runtime/hashtable.h"
#include "tests/unit/library_fixture.h"

namespace zuv::testing {
namespace {

class PortSpec : public Library {};

// Leaves the native stack below the caller full of cells that read as an
// object whose change record is the node given, each shift bytes off a
// 16-byte boundary: a cell of a later call that is read before it is written
// holds one of them.
__attribute__((noinline)) void stain_stack(size_t shift, node_t record) {
    alignas(16) uint8_t area[32 * 1024];
    cell_t stale{TYPE_object, 0, 0, record};
    for (size_t at = shift; at + sizeof stale <= sizeof area; at += sizeof stale)
        std::memcpy(area + at, &stale, sizeof stale);
    asm volatile("" : : "r"(area) : "memory");
}

// The collector marks what a guard holds as it stands: had the answer's cell
// been guarded unwritten, the stale object would have marked the global
// words' table as a plain series, and its keys and words would have been
// freed under it.
TEST_F(PortSpec, ACollectionDuringDecodeUrlFindsTheAnswerCellWritten) {
    eval("register-scheme make system/standard/scheme [name: 'mem actor: object []]");
    cell_t url = eval("mem://notes/a.txt");
    ASSERT_EQ(type_of(&url), TYPE_url);
    cell_t* spec = stack::push(&url);
    node_t table = _context::table_of(_context::global_node);
    bool was_active = collector::active;
    collector::active = true;
    for (size_t shift = 0; shift < sizeof(cell_t); shift += 4) {
        stain_stack(shift, table);
        collector::stress_period = collector::stress_countdown = 1;
        cell_t* port = port::make_from(spec);
        collector::stress_period = collector::stress_countdown = 0;
        ASSERT_NE(port, nullptr);
        EXPECT_EQ(type_of(port), TYPE_port);
        const hashtable_t* t = hashtable::record(table);
        ASSERT_NE(alloc::buffer(static_cast<node_t>(t->keys)), nullptr) << "shift " << shift;
        ASSERT_NE(alloc::buffer(static_cast<node_t>(t->block)), nullptr) << "shift " << shift;
    }
    collector::active = was_active;
}

}  // namespace
}  // namespace zuv::testing
