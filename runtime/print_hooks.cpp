#include "runtime/print_hooks.h"

#include <cstdio>
#include <cstring>

#include "datatypes/string.h"
#include "runtime/console_output.h"
#include "runtime/lowrt.h"
#include "runtime/ui_hooks.h"

namespace zuv::print_hooks {

list_t print_list = {nullptr, 0, 0};
list_t raw_list = {nullptr, 0, 0};

namespace {

void make_list(list_t* list) {
    if (list->entries != nullptr) return;
    list->entries = static_cast<void**>(lowrt::allocate(sizeof(void*) * GROWTH));
    list->count = 0;
    list->capacity = GROWTH;
}

void add_to(list_t* list, void* hook) {
    make_list(list);
    if (list->count == list->capacity) {
        auto** grown =
            static_cast<void**>(lowrt::allocate(sizeof(void*) * (list->capacity + GROWTH)));
        std::memcpy(grown, list->entries, sizeof(void*) * list->count);
        lowrt::release(list->entries);
        list->entries = grown;
        list->capacity += GROWTH;
    }
    list->entries[list->count++] = hook;
}

void remove_from(list_t* list, void* hook) {
    for (int32_t i = 0; i < list->count; i++) {
        if (list->entries[i] == hook) {
            std::memmove(list->entries + i, list->entries + i + 1,
                         sizeof(void*) * (list->count - i - 1));
            list->count--;
            return;
        }
    }
}

}  // namespace

void init() {
    make_list(&print_list);
    make_list(&raw_list);
    platform::init_console_output();
    if (print_list.count == 0) add(console_printer, nullptr);
}

void add(print_hook_t print, raw_hook_t raw) {
    if (print) add_to(&print_list, reinterpret_cast<void*>(print));
    if (raw) add_to(&raw_list, reinterpret_cast<void*>(raw));
}

void remove(print_hook_t print, raw_hook_t raw) {
    if (print) remove_from(&print_list, reinterpret_cast<void*>(print));
    if (raw) remove_from(&raw_list, reinterpret_cast<void*>(raw));
}

void call(cell_t* string, bool newline) {
    int32_t n = print_list.count;
    for (int32_t i = 0; i < n; i++)
        reinterpret_cast<print_hook_t>(print_list.entries[i])(string, newline);
}

void call_raw(const char* text, int32_t length, int32_t zero) {
    int32_t n = raw_list.count;
    for (int32_t i = 0; i < n; i++)
        reinterpret_cast<raw_hook_t>(raw_list.entries[i])(text, length, zero);
}

}  // namespace zuv::print_hooks

namespace zuv::ui_hooks {
namespace {
void nothing() {}
}  // namespace

step_t before_print = nothing;
step_t after_print = nothing;
step_t poll_events = nothing;
step_t before_read = nothing;

}  // namespace zuv::ui_hooks

namespace zuv::print_hooks {

void console_printer(cell_t* string, bool newline) {
    ui_hooks::before_print();
    const uint8_t* head = string::rs_head(string);
    series_buffer_t* s = string::buffer_of(string);
    uint32_t unit = s->unit();
    size_t bytes = static_cast<size_t>(s->tail_ptr() - head);
    if (unit == 1 || unit == 2 || unit == 4) {
        platform::write_text(head, bytes, unit, newline);
    } else {
        platform::prin_cstring("Error: unknown string encoding: ");
        platform::prin_int(unit);
        platform::prin_cstring("\n");
    }
    std::fflush(nullptr);
    ui_hooks::after_print();
}

}  // namespace zuv::print_hooks
