// A test build of the process entry that provokes one fault after start-up,
// so that tests can check what each end of the process prints and returns.
#include <cstdio>
#include <cstring>

#include "runtime/alloc.h"
#include "runtime/lowrt.h"
#include "runtime/runtime.h"

namespace {

volatile int zero = 0;
volatile int seven = 7;  // a constant 1 would let the compiler divide without idiv
volatile int* volatile nowhere = nullptr;

int recurse(int depth) {
    volatile char pad[4096];
    pad[0] = static_cast<char>(depth);
    return depth < 0x7FFFFFFF ? recurse(depth + 1) + pad[0] : pad[0];
}

// The sanitizer build would report these faults itself; what is under test
// is the runtime's own report of them.
__attribute__((no_sanitize("undefined"))) void provoke(int argc, char** argv) {
    zuv::runtime::init();
    const char* what = argc > 1 ? argv[1] : "";
    if (!strcmp(what, "segv")) *nowhere = 1;
    if (!strcmp(what, "intdiv")) std::printf("%d\n", seven / zero);
    if (!strcmp(what, "oom")) zuv::lowrt::allocate(~size_t{0} >> 1);
    if (!strcmp(what, "stack")) std::printf("%d\n", recurse(0));
    // Anything else: a normal end.
}

}  // namespace

int main(int argc, char** argv) { zuv::runtime::enter(argc, argv, provoke); }
