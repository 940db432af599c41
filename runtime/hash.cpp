#include "runtime/hash.h"

namespace zuv::hash {

uint32_t seed = 0;

}  // namespace zuv::hash
