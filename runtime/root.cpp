#include "runtime/root.h"

namespace zuv::root {

cell_t* first = nullptr;

}  // namespace zuv::root
