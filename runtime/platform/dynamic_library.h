// Libraries loaded at their first use instead of linked. A linked library,
// and every library it needs in turn, is loaded and relocated at each
// start-up, although most scripts never call it.
#pragma once

namespace zuv::platform {

// The library of that exact soname (the ABI the build's headers describe),
// every symbol bound at once and none made visible to other libraries;
// nullptr when it cannot be loaded. It stays loaded until the process ends.
void* open_library(const char* soname);

// The address of a symbol of a library open_library gave; nullptr when absent.
void* find_symbol(void* library, const char* name);

// Points the slot, typed after the library's own declaration, at its function
// of that name; false when the library lacks it.
template <typename F> bool bind_function(void* library, const char* name, F* slot) {
    *slot = reinterpret_cast<F>(find_symbol(library, name));
    return *slot != nullptr;
}

}  // namespace zuv::platform
