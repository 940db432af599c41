// A test build of the process entry that provokes one fault after start-up,
// so that tests can check what each end of the process prints and returns.
#include <cstdio>
#include <cstring>
#include <new>

#include "interpreter/interpreter.h"
#include "lexer/lexer.h"
#include "natives/natives.h"
#include "runtime/alloc.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/lowrt.h"
#include "runtime/stack.h"
#include "runtime/words.h"
#include "startup/runtime.h"

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
    if (!strcmp(what, "error") || !strcmp(what, "throw")) {
        // An error that nothing catches, raised inside a call of divide or
        // by a throw that no catch receives.
        zuv::exits::end_process_on_uncaught = true;
        bool throwing = !strcmp(what, "throw");
        zuv::cell_t w =
            zuv::words::word(throwing ? zuv::words::id::throw_ : zuv::words::id::divide);
        zuv::stack::mark_native(&w);
        if (throwing) {
            zuv::cell_t five{zuv::TYPE_integer, 0, 5, 0};
            zuv::stack::push(&five);
            zuv::exits::throw_throw(zuv::exits::THROW_THROW);
        }
        zuv::fire(zuv::err::zero_divide);
    }
    if (!strcmp(what, "bad-alloc")) {
        // A native whose C++ containers the system refuses memory: the
        // nearest try gets no-memory, and the run goes on.
        zuv::natives::table[zuv::natives::slot_of(zuv::natives::id::checksum)] =
            [](int32_t, const int32_t*) { throw std::bad_alloc(); };
        zuv::cell_t* code =
            zuv::lexer::push_loaded("e: try [checksum \"x\" 'md5] print e/id print 1 + 1");
        zuv::interpreter::eval(code, false);
    }
    // Anything else: a normal end.
}

}  // namespace

int main(int argc, char** argv) { zuv::runtime::enter(argc, argv, provoke); }
