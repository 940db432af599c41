#include "startup/runtime.h"

#include <pthread.h>

#include <algorithm>
#include <cfenv>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "codecs/checksum.h"
#include "codecs/compress.h"
#include "codecs/zuvbin.h"
#include "console/launch.h"
#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/event.h"
#include "datatypes/file.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/url.h"
#include "interpreter/interpreter.h"
#include "io/call.h"
#include "io/http.h"
#include "io/simple_io.h"
#include "lexer/lexer.h"
#include "natives/natives.h"
#include "parse/parser.h"
#include "runtime/alloc.h"
#include "runtime/case_folding.h"
#include "runtime/collector.h"
#include "runtime/exits.h"
#include "runtime/externals.h"
#include "runtime/fire.h"
#include "runtime/lowrt.h"
#include "runtime/ownership.h"
#include "runtime/platform/platform.h"
#include "runtime/print_hooks.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/ui_hooks.h"
#include "runtime/words.h"
#include "startup/library.h"
#include "startup/top_level.h"
#include "view/backends/terminal/event_fields.h"
#include "view/backends/terminal/event_types.h"
#include "view/backends/terminal/tui.h"

namespace zuv::runtime {

namespace {

void set_booting() { block::booting_q = 1; }

// The hooks through which lower layers reach the ones above them: the
// terminal UI's steps (print and `wait`) and event readers, the I/O services
// of the file! and url! actions, and the runtime's own natives and actions
// that the Zuvbin decoder hands out.
void install_hooks() {
    ui_hooks::before_print = tui::before_print;
    ui_hooks::after_print = tui::after_print;
    ui_hooks::poll_events = tui::poll_events;
    ui_hooks::before_read = tui::before_read;
    event::backend = {tui::push_event_field, tui::event_type_code};
    file::services = {simple_io::delete_, simple_io::rename, simple_io::query, simple_io::read,
                      simple_io::write};
    url::request_http = simple_io::request_http;
    zuvbin::native_value = natives::value_of;
    zuvbin::action_value = library::action_value;
}

void start_platform() { platform::init(); }

void start_memory() { alloc::init(); }

// The error catalog is built from the predefined words' step: errors can be
// made from then on.
void predefined_words() {
    words::init();
    error::init_catalog();
}

// Each module of the step makes what it keeps for the life of the process.
void first_frames() {
    alloc::new_node_frame(alloc::NODES_PER_FRAME);
    alloc::new_series_frame();
}

void checksum_compress_call() {
    checksum::init();
    compress::init();
    call::init();
}

// The order is binding; see the header.
const init_step_t steps[] = {
    {"booting", set_booting},
    {"print hooks", print_hooks::init},
    {"upper layers' hooks", install_hooks},
    {"platform", start_platform},
    {"random", random::init},
    {"memory manager", start_memory},
    {"external resources", externals::init},
    {"datatype tables", datatype::init_tables},
    {"datatype registrations", datatype::register_all},
    {"actions", actions::init},
    {"first frames", first_frames},
    {"root block", block::init_root},
    {"global context", _context::init_global},
    {"case folding", case_folding::init},
    {"symbol index", symbol::init_table},
    {"predefined words", predefined_words},
    {"natives", natives::init},
    {"parser", parser::init},
    {"ownership", ownership::init},
    {"checksum, compress, call", checksum_compress_call},
    {"stacks", stack::init},
    {"lexer", lexer::init},
    {"boot load", natives::define_words},
    {"interpreter", interpreter::init},
    {"reserved error", error::reserve},
    {"external cells", ext_slots::init},
    {"collector", collector::init},
};

}  // namespace

void init() {
    for (const init_step_t& step : steps) step.run();
}

void shutdown() { alloc::free_all(); }

namespace {

constexpr size_t STACK_SIZE = size_t{512} << 20;
constexpr size_t MIN_STACK_SIZE = size_t{16} << 20;
constexpr size_t GUARD_SIZE = size_t{1} << 20;

struct entry_t {
    int argc;
    char** argv;
    void (*run)(int, char**);
};

void* run_entry(void* p) {
    auto* entry = static_cast<entry_t*>(p);
    void* stack_low = nullptr;
    size_t size = 0;
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        pthread_attr_getstack(&attr, &stack_low, &size);
        pthread_attr_destroy(&attr);
    }
    lowrt::init(stack_low, GUARD_SIZE);
    entry->run(entry->argc, entry->argv);
    lowrt::quit(0);
}

}  // namespace

void enter(int argc, char** argv, void (*run)(int, char**)) {
    static entry_t entry;
    entry = entry_t{argc, argv, run};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    // Under a limit on address space the stack takes a quarter of it at the
    // most, so that the series have room to be refused one by one as
    // no-memory errors rather than the whole run failing to start.
    size_t stack_size = STACK_SIZE;
    if (uint64_t limit = platform::address_space_limit())
        stack_size =
            static_cast<size_t>(std::clamp<uint64_t>(limit / 4, MIN_STACK_SIZE, STACK_SIZE));
    pthread_attr_setstacksize(&attr, stack_size);
    pthread_attr_setguardsize(&attr, GUARD_SIZE);
    pthread_t thread;
    // Without room for the big stack, run on this one rather than not at all.
    if (pthread_create(&thread, &attr, run_entry, &entry) != 0) run_entry(&entry);
    pthread_join(thread, nullptr);
    lowrt::quit(0);
}

// The arguments are read from the process itself (/proc/self/cmdline), as it
// received them; enter hands them over only because its entry takes them.
void start(int, char**) {
    // Double precision, round to nearest, every exception masked: the
    // defaults of SSE arithmetic, set again in case a library changed them.
    fesetenv(FE_DFL_ENV);
    exits::end_process_on_uncaught = true;
    try {
        init();
        console::define_routines();
        top_level::run();
        interpreter::prepare_caches();
        int status = console::launch();
        if (status > 0) {
            // A script's failure was reported already: no runtime-error text.
            lowrt::run_exit_hooks();
            _exit(status);
        }
    } catch (const raised_error& e) {
        // An error that nothing caught. One raised before the catalog and the
        // stacks exist has no value: its id alone names it.
        if (stack::bottom != nullptr && stack::top_slot > stack::bottom &&
            stack::top_type() == TYPE_error)
            exits::uncaught(stack::top());
        const err_info& info = errors::info(e.id);
        char text[128];
        int n = snprintf(text, sizeof text, "*** Error %d: %s\n", errors::code(e.id), info.word);
        platform::write_all(STDOUT_FILENO, text, static_cast<size_t>(n));
        lowrt::run_exit_hooks();
        _exit(254);
    } catch (const std::bad_alloc&) {
        // C++ code refused memory where no try stood: reported as the
        // uncaught no-memory error would be.
        const err_info& info = errors::info(err::no_memory);
        char text[128];
        int n = snprintf(text, sizeof text, "*** Error %d: %s\n", errors::code(err::no_memory),
                         info.word);
        platform::write_all(STDOUT_FILENO, text, static_cast<size_t>(n));
        lowrt::run_exit_hooks();
        _exit(254);
    }
    lowrt::quit(0);
}

}  // namespace zuv::runtime
