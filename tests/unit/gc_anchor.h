// Values that a test keeps in C++ variables across calls that allocate.
//
// A C++ variable is no root: under ZUV_GC_STRESS every allocation may
// collect, and a value that only a test's local variable holds is gone at
// the next one. Helpers that make values for tests anchor them here, which
// keeps their series alive (as a reachable block would) until the fixture
// drops the anchors. Runtime code never uses this: it keeps values in rooted
// places or under collector::root_node / root_cell.
#pragma once

#include <vector>

#include "runtime/cell.h"
#include "runtime/collector.h"

namespace zuv::test {

inline std::vector<cell_t>& anchors() {
    static std::vector<cell_t> list;
    return list;
}

inline void mark_anchors() {
    std::vector<cell_t>& list = anchors();
    collector::mark_values(list.data(), list.data() + list.size());
}

// Returns the value, anchored.
inline cell_t anchor(const cell_t& value) {
    static const bool registered = [] {
        collector::add_marker(mark_anchors);
        return true;
    }();
    (void)registered;
    anchors().push_back(value);
    return value;
}

// Fixtures that restart the memory manager drop the anchors first: their
// nodes died with it.
inline void drop_anchors() { anchors().clear(); }

}  // namespace zuv::test
