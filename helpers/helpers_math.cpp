// The short math names: each hands its frame, whose first cells are the
// worker's arguments, to the native its body calls, with /radians on where
// the native takes it.
#include "helpers/helpers.h"
#include "natives/natives.h"

namespace zuv::helpers {

namespace {

// The refinement positions of a call with /radians (an argument-less
// refinement: any position but -1 says it is used).
constexpr int32_t RADIANS[] = {0};
constexpr int32_t NONE[] = {-1};

}  // namespace

void cos() { natives::cosine(0, RADIANS); }
void sin() { natives::sine(0, RADIANS); }
void tan() { natives::tangent(0, RADIANS); }
void acos() { natives::arccosine(0, RADIANS); }
void asin() { natives::arcsine(0, RADIANS); }
void atan() { natives::arctangent(0, RADIANS); }
void atan2() { natives::arctangent2(0, RADIANS); }
void sqrt() { natives::square_root(0, NONE); }

}  // namespace zuv::helpers
