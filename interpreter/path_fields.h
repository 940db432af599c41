// The reads of two-element paths that need no walk (word/integer on a block,
// word/field on an object, word/word-key on a map), shared by the path walk's fast path and the
// plans' path nodes, which must reach exactly the same values.
#pragma once

#include <cstdint>

#include "datatypes/actions.h"
#include "datatypes/context.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/cell.h"
#include "runtime/words.h"

namespace zuv::interpreter {

// Whether the word sel, an element of a path, names a field of the object
// obj; binds it to that field then, as the object's path action does. Bound
// to a field of another object of obj's shape it keeps its index; bound
// elsewhere (a path cell meeting objects of several shapes in turn) the
// field is found by name.
inline bool field_of(cell_t* sel, const cell_t* obj) {
    if (type_of(sel) != TYPE_word) return false;
    auto index = static_cast<int32_t>(sel->data3);
    if (sel->data1 == obj->data1 && index >= 0) [[likely]]
        return true;
    if (sel->data1 == 0 || index < 0 ||
        _context::table_of(sel->data1) != _context::table_of(obj->data1)) {
        index = _context::find_word(obj->data1, word::symbol_of(sel), true);
        if (index < 0) return false;  // the action reports it
        sel->data3 = static_cast<uint32_t>(index);
    }
    sel->data1 = obj->data1;
    return true;
}

// The value cell the two-element path word/word-key reaches in the map
// (the map's own cell when absent: none, as the action answers), nullptr
// when the general walk must look (a removed entry met first).
inline const cell_t* map_key_of(const cell_t* map, const cell_t* key) {
    const cell_t* k = map::find_word_entry(map, key);
    if (k == nullptr) return &none_value;
    return k[1].header != 0 ? k + 1 : nullptr;
}

// The value a get of the two-element path at cells reaches without any call,
// nullptr when the general walk is needed (a callable, an unset field, any
// other form).
[[gnu::always_inline]] inline const cell_t* read_in_place(cell_t* cells) {
    if (type_of(cells) != TYPE_word) return nullptr;
    const cell_t* v = _context::get(cells);
    cell_t* sel = cells + 1;
    uint8_t vt = type_of(v), st = type_of(sel);
    const cell_t* r = nullptr;
    if (vt == TYPE_block && st == TYPE_integer) {
        r = actions::pick_inline(v, integer::get(sel));
    } else if (vt == TYPE_object && field_of(sel, v)) {
        r = _context::value_at(v->data1, static_cast<int32_t>(sel->data3));
        if (r == nullptr || type_of(r) == TYPE_unset) return nullptr;  // the action reports it
    } else if (vt == TYPE_map && st == TYPE_word) {
        r = map_key_of(v, sel);
    }
    if (r == nullptr) return nullptr;
    uint8_t rt = type_of(r);
    if (rt == TYPE_native || rt == TYPE_action || rt == TYPE_function || rt == TYPE_routine)
        return nullptr;
    return r;
}

// read_in_place for the path cell path, when it has two elements from its
// head.
[[gnu::always_inline]] inline const cell_t* read_path_in_place(const cell_t* path) {
    series_buffer_t* s = alloc::buffer(path->data2);
    auto h = static_cast<int32_t>(path->data1);
    if (h < 0 || (s->used() >> 4) - h != 2) [[unlikely]]
        return nullptr;
    return read_in_place(s->head_cell() + h);
}

// A set of the two-element path at cells, word/field on an object without
// change handlers, to value (a set-path's, the first argument of its frame
// in the interpreter's run): whether it was done. The general walk does the
// rest, handlers included.
[[gnu::always_inline]] inline bool write_in_place(cell_t* cells, const cell_t* value) {
    if (type_of(cells) != TYPE_word) return false;
    const cell_t* v = _context::get(cells);
    cell_t* sel = cells + 1;
    if (type_of(v) == TYPE_map) {
        // A key the map holds takes the value in place, as put does; a new
        // key (the entry appended, the table maybe grown) takes the walk.
        if (type_of(sel) != TYPE_word) return false;
        cell_t* k = map::find_word_entry(v, sel);
        if (k == nullptr || k[1].header == 0) return false;
        k[1] = *value;
        cell::clear_new_line(k + 1);
        return true;
    }
    if (type_of(v) != TYPE_object || v->data3 != 0 || !field_of(sel, v)) return false;
    // The object action refuses self; the word is seldom a field.
    if (symbol::resolve(word::symbol_of(sel)) ==
        symbol::resolve(static_cast<int32_t>(words::symbol_of(words::id::self))))
        return false;
    node_t ctx = v->data1;
    auto index = static_cast<int32_t>(sel->data3);
    // Marking may allocate: the value is stored from a copy.
    cell_t stored = *value;
    _context::mark_set(ctx, index);
    *_context::value_at(ctx, index) = stored;
    return true;
}

// write_in_place for the set-path cell path, when it has two elements from
// its head.
inline bool write_path_in_place(const cell_t* path, const cell_t* value) {
    series_buffer_t* s = alloc::buffer(path->data2);
    auto h = static_cast<int32_t>(path->data1);
    if (h < 0 || (s->used() >> 4) - h != 2) return false;
    return write_in_place(s->head_cell() + h, value);
}

}  // namespace zuv::interpreter
