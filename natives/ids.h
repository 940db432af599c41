// The natives' numbers, generated from the one list (natives.def): each
// native's number by its entry's name (natives::id::call is 99), and their
// count. A plain list, with no code: any layer that must name a native (the
// interpreter runs if, either and return itself) includes this alone.
#pragma once

#include <cstdint>

namespace zuv::natives {

namespace id {
#define ZUV_NATIVE(number, name, word, spec) constexpr int32_t name = number;
#define ZUV_PLANNED(number, name, word, spec) constexpr int32_t name = number;
#include "natives/natives.def"
#undef ZUV_NATIVE
#undef ZUV_PLANNED
}  // namespace id

// How many natives the list holds.
constexpr int32_t COUNT = 0
#define ZUV_NATIVE(number, name, word, spec) +1
#define ZUV_PLANNED(number, name, word, spec) +1
#include "natives/natives.def"
#undef ZUV_NATIVE
#undef ZUV_PLANNED
    ;

// The table slot of native `number` (its entry and its cache).
constexpr uint32_t slot_of(int32_t number) { return static_cast<uint32_t>(number - 1); }

}  // namespace zuv::natives
