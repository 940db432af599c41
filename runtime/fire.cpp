#include "runtime/fire.h"

#include <array>
#include <cstddef>

namespace zuv {
namespace {

constexpr err_cat categories[] = {
#define ZUV_ERROR(cat, ident, word) err_cat::cat,
#include "runtime/errors.def"
#undef ZUV_ERROR
};
constexpr const char* words[] = {
#define ZUV_ERROR(cat, ident, word) word,
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

void fire(err id, const cell_t*, const cell_t*, const cell_t*) { throw raised_error{id}; }

}  // namespace zuv
