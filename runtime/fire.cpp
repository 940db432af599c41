#include "runtime/fire.h"

#include <array>
#include <cstddef>

#include "datatypes/error.h"
#include "runtime/exits.h"
#include "runtime/stack.h"

namespace zuv {
namespace {

constexpr err_cat categories[] = {
#define ZUV_ERROR(cat, ident, word, text) err_cat::cat,
#include "runtime/errors.def"
#undef ZUV_ERROR
};
constexpr const char* words[] = {
#define ZUV_ERROR(cat, ident, word, text) word,
#include "runtime/errors.def"
#undef ZUV_ERROR
};
constexpr size_t error_count = sizeof categories / sizeof categories[0];

// An id's index is the number of ids of its category listed before it.
constexpr std::array<err_info, error_count> build_table() {
    std::array<err_info, error_count> table{};
    for (size_t i = 0; i < error_count; i++) {
        uint8_t index = 0;
        for (size_t j = 0; j < i; j++)
            if (categories[j] == categories[i]) index++;
        table[i] = err_info{categories[i], index, words[i]};
    }
    return table;
}
constexpr std::array<err_info, error_count> table = build_table();

}  // namespace

const err_info& errors::info(err id) { return table[static_cast<size_t>(id)]; }

fire_event_t fire_event = nullptr;

namespace {
// An error raised while fire builds one (no room left, say) cannot be built
// in turn: it travels bare.
bool building = false;

[[noreturn]] void raise(const cell_t* near, err id, const cell_t* arg1, const cell_t* arg2,
                        const cell_t* arg3) {
    if (building || error::catalog() == nullptr || stack::bottom == nullptr) throw raised_error{id};
    cell_t* e;
    building = true;
    try {
        e = error::create(id, arg1, arg2, arg3);
    } catch (const raised_error& inner) {
        building = false;
        // No room to make the error: the no-memory error made at start-up
        // travels instead, so that the nearest try still catches a value.
        if (inner.id != err::no_memory || (e = error::reserved_no_memory()) == nullptr) throw;
    } catch (...) {
        building = false;
        throw;
    }
    building = false;
    if (near != nullptr) *error::field(e, error::FIELD_NEAR) = *near;
    if (fire_event != nullptr) {
        uint32_t saved = exits::pending;
        exits::pending = 0;
        fire_event(e);
        exits::pending = saved;
    }
    exits::throw_error(e);
}

}  // namespace

void fire(err id, const cell_t* arg1, const cell_t* arg2, const cell_t* arg3) {
    raise(nullptr, id, arg1, arg2, arg3);
}

void fire_near(const cell_t* near, err id, const cell_t* arg1, const cell_t* arg2,
               const cell_t* arg3) {
    raise(near, id, arg1, arg2, arg3);
}

}  // namespace zuv
