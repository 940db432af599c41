#include "runtime/platform/dynamic_library.h"

#include <dlfcn.h>

namespace zuv::platform {

void* open_library(const char* soname) { return dlopen(soname, RTLD_NOW | RTLD_LOCAL); }

void* find_symbol(void* library, const char* name) { return dlsym(library, name); }

}  // namespace zuv::platform
