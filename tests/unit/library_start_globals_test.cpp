// Start-up defines the library's global words and sets no other: a loop or a
// helper's word at the top level of a library source must not stay behind
// in the user's global context.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "boot/sources.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "startup/top_level.h"
#include "tests/unit/library_fixture.h"

namespace zuv::testing {
namespace {

class LibraryStart : public Library {};

bool named(const cell_t* c, const char* name) {
    return type_of(c) == TYPE_word && std::string(symbol::get_utf8(word::symbol_of(c))) == name;
}

// What a source defines on purpose: the set-words of its top level, and the
// words given to `set` as lit-words anywhere (the library's contexts define
// global functions so).
void collect_defined(cell_t* block, bool top, std::set<int32_t>& out) {
    cell_t* head = block::rs_head(block);
    cell_t* tail = block::rs_tail(block);
    for (cell_t* p = head; p < tail; p++) {
        uint8_t t = type_of(p);
        if (t == TYPE_set_word && top) out.insert(symbol::resolve(word::symbol_of(p)));
        bool set_call = named(p, "set") || ((t == TYPE_path) && named(block::rs_head(p), "set"));
        if (set_call && p + 1 < tail && type_of(p + 1) == TYPE_lit_word)
            out.insert(symbol::resolve(word::symbol_of(p + 1)));
        if (t == TYPE_block || t == TYPE_paren) collect_defined(p, false, out);
    }
}

// Values C++ makes before any source runs, or that no source could leave
// by accident.
bool made_by_runtime(uint8_t t) {
    return t == TYPE_unset || t == TYPE_action || t == TYPE_native || t == TYPE_routine ||
           t == TYPE_datatype || t == TYPE_typeset || t == TYPE_handle;
}

TEST_F(LibraryStart, SetsNoGlobalWordItDoesNotDefine) {
    std::set<int32_t> defined;
    for (unsigned long i = 0; i < boot::source_count; i++) {
        cell_t* code = stack::push_slot();
        code->header = TYPE_unset;
        top_level::lex_source(boot::sources[i].text, boot::sources[i].size, code);
        collect_defined(code, true, defined);
    }
    ASSERT_GT(defined.size(), 100u);
    node_t global = _context::global_node;
    std::string stray;
    for (int32_t i = 0; i < _context::word_count(global); i++) {
        const cell_t* value = _context::value_at(global, i);
        if (made_by_runtime(type_of(value))) continue;
        int32_t symbol = symbol::resolve(word::symbol_of(_context::get_symbol_word(global, i)));
        if (defined.count(symbol) == 0) stray += std::string(" ") + symbol::get_utf8(symbol);
    }
    EXPECT_EQ(stray, "") << "global words set at start-up that no library source defines";
}

}  // namespace
}  // namespace zuv::testing
