// Print hooks.
//
// print and prin never write to the console themselves: they hand the string
// to every registered print hook, in the order the hooks were added. Start-up
// registers one, the console printer, which writes through the console
// output layer and brackets the write with the UI's before-print and
// after-print steps (runtime/ui_hooks.h), so that printed text and a live terminal UI never draw
// over each other. A second list, the raw output hooks, hears every text the
// low-level writers emit (NUL-terminated texts and formatted numbers).
//
// A round of calls reads the count once at its start: a hook must not add or
// remove hooks while it is being called.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zuv::print_hooks {

using print_hook_t = void (*)(cell_t* string, bool newline);
using raw_hook_t = void (*)(const char* text, int32_t length, int32_t zero);

constexpr int32_t GROWTH = 5;

struct list_t {
    void** entries;
    int32_t count;
    int32_t capacity;
};
extern list_t print_list;
extern list_t raw_list;

// Makes both lists (capacity 5) and adds the console printer. Idempotent for
// the arrays; the printer is added each time it is called on empty lists.
void init();

// Each non-null hook is appended to / removed from (its first copy) its list.
void add(print_hook_t print, raw_hook_t raw);
void remove(print_hook_t print, raw_hook_t raw);

void call(cell_t* string, bool newline);
void call_raw(const char* text, int32_t length, int32_t zero);

// The default print hook.
void console_printer(cell_t* string, bool newline);

}  // namespace zuv::print_hooks
