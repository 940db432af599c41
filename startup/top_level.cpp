// The top level of the library (see top_level.h).
#include "startup/top_level.h"

#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "boot/image.h"
#include "boot/sources.h"
#include "codecs/zuvbin.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "helpers/helpers.h"
#include "interpreter/interpreter.h"
#include "lexer/lexer.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/exits.h"
#include "runtime/fire.h"
#include "runtime/library_code.h"
#include "runtime/platform/platform.h"
#include "runtime/stack.h"
#include "startup/library.h"
#include "startup/runtime.h"

namespace zuv::boot {
image_t image{nullptr, 0, nullptr, 0};
}  // namespace zuv::boot

namespace zuv::top_level {
namespace {

// Marks the bodies of the library's functions: the ones bound to global
// words and those held by the objects reachable from them.
void mark_function_bodies() {
    std::vector<node_t> contexts{_context::global_node};
    std::vector<node_t> seen;
    while (!contexts.empty()) {
        node_t ctx = contexts.back();
        contexts.pop_back();
        bool known = false;
        for (node_t k : seen) known = known || k == ctx;
        if (known) continue;
        seen.push_back(ctx);
        int32_t count = _context::word_count(ctx);
        const cell_t* values = _context::value_at(ctx, 0);
        if (values == nullptr) continue;
        for (int32_t i = 0; i < count; i++) {
            const cell_t* v = _context::value_at(ctx, i);
            uint8_t t = type_of(v);
            if (t == TYPE_function) {
                const cell_t* body = function::more(v, function::MORE_BODY);
                if (type_of(body) == TYPE_block) library_code::mark_library(body);
            } else if (t == TYPE_object) {
                contexts.push_back(object::context_of(v));
            }
        }
    }
}

// Evaluates one library source in a frame of its own: lexed from its text,
// or (code given) the block decoded from the boot image. The code stays in
// the frame's result slot, rooted, while it runs.
void run_source(const boot::source_t& src, const cell_t* code) {
    cell_t* base = stack::mark_native(nullptr);
    stack::push_slot()->header = TYPE_unset;
    if (code) *base = *code;
    else lex_source(src.text, src.size, base);
    library_code::mark_library(base);
    interpreter::eval(base, true);
    // A stray exit at a source's top level ends that source only.
    exits::pending = 0;
    stack::unwind();
    stack::pop(1);
}

void register_event() {
    int32_t before = datatype::top_id;
    block::booting_q = 1;
    datatype::register_late();
    if (datatype::top_id != before) datatype::make_words();
    block::booting_q = 0;
    // The datatype words got their values before these types existed.
    for (int32_t id = before + 1; id <= datatype::top_id; id++) {
        if (datatype::name_table[id].name == nullptr) continue;
        cell_t type;
        datatype::make_at(&type, id);
        cell_t w = datatype::name_table[id].word;
        _context::set(&w, &type);
    }
}

}  // namespace

void lex_source(const char* text, unsigned long size, cell_t* out) {
    lexer::scan(out, reinterpret_cast<const uint8_t*>(text), static_cast<int32_t>(size), {},
                nullptr, nullptr, nullptr, nullptr);
}

void run() {
    collector::library_stress stress;
    // Made from C++ tables before any library source: the source itself
    // needs them (see startup/library.h).
    library::define_actions();
    library::define_literals();
    library::define_routines();

    block::booting_q = 0;
    collector::active = true;

    // The image's blocks stay in the root block, after its cells so far.
    bool from_image = boot::image.data != nullptr;
    int32_t first = 0;
    if (from_image)
        first = zuvbin::boot_load(boot::image.data, static_cast<int64_t>(boot::image.size), false);
    unsigned long count = from_image ? boot::image.count : boot::source_count;

    bool event_registered = false;
    for (unsigned long i = 0; i < count; i++) {
        boot::source_t src =
            from_image ? boot::source_t{boot::image.names[i], nullptr, 0} : boot::sources[i];
        if (!event_registered && i >= boot::event_index) {
            register_event();
            event_registered = true;
        }
        try {
            if (from_image) {
                cell_t code = *block::rs_abs_at(&block::root, first + static_cast<int32_t>(i));
                run_source(src, &code);
            } else {
                run_source(src, nullptr);
            }
        } catch (const raised_error&) {
            std::string say = std::string("*** while starting the library: ") + src.name + "\n";
            platform::write_all(STDERR_FILENO, say.data(), say.size());
            throw;
        }
    }
    if (!event_registered) register_event();

    library::drop_internal_routines();
    mark_function_bodies();
    helpers::attach();
}

}  // namespace zuv::top_level
