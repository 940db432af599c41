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

// A table is written from one list of the library's functions, X(name) for each
// under the name it is declared with: ZUV_LIBRARY_SLOT declares its member,
// typed after that declaration, and bind(library) returns `true` followed by
// ZUV_LIBRARY_BIND of each.
#define ZUV_LIBRARY_SLOT(name) decltype(&::name) name;
#define ZUV_LIBRARY_BIND(name) &&::zuv::platform::bind_function(library, #name, &name)

// The table of a library's functions, loaded once, at the first call: Api
// names the library in SONAME and fills itself in bind(library), false when
// something is missing. nullptr from then on when the library cannot be had.
template <typename Api> const Api* load_library() {
    static Api api{};
    static const bool loaded = [] {
        void* library = open_library(Api::SONAME);
        return library != nullptr && api.bind(library);
    }();
    return loaded ? &api : nullptr;
}

}  // namespace zuv::platform
