// The command line, the environment and the system description.
#include "io/platform_io.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "runtime/fire.h"
#include "runtime/stack.h"

extern char** environ;

namespace zuv::platform {

namespace {

// The arguments the process was started with, from the kernel's own copy
// (no need for main to hand argv over).
std::vector<std::string> process_arguments() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> args;
    size_t start = 0;
    while (start < all.size()) {
        size_t nul = all.find('\0', start);
        if (nul == std::string::npos) nul = all.size();
        args.push_back(all.substr(start, nul - start));
        start = nul + 1;
    }
    return args;
}

std::string program_path(const std::vector<std::string>& args) {
    std::vector<char> buffer(4096);
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return args.empty() ? std::string() : args[0];
        if (static_cast<size_t>(n) < buffer.size())
            return std::string(buffer.data(), static_cast<size_t>(n));
        buffer.resize(buffer.size() * 2);
    }
}

void append_quoted(std::string& line, const std::string& arg) {
    bool blank = arg.empty() || arg.find_first_of(" \t") != std::string::npos;
    if (blank) line.push_back('"');
    line += arg;
    if (blank) line.push_back('"');
}

cell_t* push_utf8(const std::string& text) {
    return string::load(reinterpret_cast<const uint8_t*>(text.data()),
                        static_cast<int64_t>(text.size()), string::ENCODING_UTF8);
}

cell_t* push_os_text(const std::string& text) {
    return string::load(reinterpret_cast<const uint8_t*>(text.data()),
                        static_cast<int64_t>(text.size()), string::ENCODING_OS);
}

// Sets field `name` of the object's context to the value (a stable cell).
void set_field(node_t ctx, const char* name, const cell_t* value) {
    cell_t w;
    word::make_raw(&w, TYPE_word, 0, symbol::make(name), 0);
    cell_t v = *value;
    _context::add_value(ctx, &w, &v);
}

}  // namespace

std::string command_line_text() {
    std::vector<std::string> args = process_arguments();
    std::string line;
    append_quoted(line, program_path(args));
    for (size_t i = 1; i < args.size(); i++) {
        line.push_back(' ');
        append_quoted(line, args[i]);
    }
    return line;
}

cell_t* command_line() { return push_os_text(command_line_text()); }

cell_t* command_arguments() {
    std::vector<std::string> args = process_arguments();
    if (!args.empty()) args[0] = program_path(args);
    cell_t* block = stack::push_slot();
    cell::begin(block);
    block::make_at(block, static_cast<int32_t>(args.size()));
    for (const std::string& arg : args)
        string::load_in(reinterpret_cast<const uint8_t*>(arg.data()),
                        static_cast<int64_t>(arg.size()), block, string::ENCODING_OS);
    return block;
}

cell_t* list_env() {
    cell_t* block = stack::push_slot();
    cell::begin(block);
    int32_t count = 0;
    for (char** e = environ; e != nullptr && *e != nullptr; e++) count++;
    block::make_at(block, count * 2);
    for (char** e = environ; e != nullptr && *e != nullptr; e++) {
        const char* entry = *e;
        // A name never ends at its first character: an entry "=x=1" is the
        // name "=x" with the value "1".
        const char* eq = entry[0] == '\0' ? nullptr : std::strchr(entry + 1, '=');
        size_t length = std::strlen(entry);
        size_t name_length = eq ? static_cast<size_t>(eq - entry) : length;
        const char* value = eq ? eq + 1 : entry + length;
        // The entry's text is copied first: decoding allocates, and nothing
        // may change environ meanwhile, but keep no pointer into it anyway.
        std::string name_text(entry, name_length);
        std::string value_text(value);
        string::load_in(reinterpret_cast<const uint8_t*>(name_text.data()),
                        static_cast<int64_t>(name_text.size()), block, string::ENCODING_OS);
        string::load_in(reinterpret_cast<const uint8_t*>(value_text.data()),
                        static_cast<int64_t>(value_text.size()), block, string::ENCODING_OS);
    }
    cell_t* map = stack::push_slot();
    cell::begin(map);
    map::make_at(map, block, 0);
    stack::push_down();
    return stack::top();
}

void parse_release(const char* release, uint8_t out[3]) {
    out[0] = out[1] = out[2] = 0;
    const char* p = release;
    for (int part = 0; part < 3; part++) {
        if (*p < '0' || *p > '9') break;
        int value = 0;
        while (*p >= '0' && *p <= '9') {
            if (value < 1000) value = value * 10 + (*p - '0');
            p++;
        }
        out[part] = static_cast<uint8_t>(value > 255 ? 255 : value);
        if (*p != '.') break;
        p++;
    }
}

int32_t build_number(const char* version) {
    if (*version != '#') return 0;
    int64_t n = 0;
    for (const char* p = version + 1; *p >= '0' && *p <= '9'; p++) {
        n = n * 10 + (*p - '0');
        if (n > INT32_MAX) return 0;
    }
    return static_cast<int32_t>(n);
}

const char* arch_name(const char* machine) {
    if (std::strcmp(machine, "x86_64") == 0 || std::strcmp(machine, "amd64") == 0) return "x86-64";
    if (std::strcmp(machine, "aarch64") == 0 || std::strcmp(machine, "arm64") == 0) return "ARM64";
    if (std::strcmp(machine, "ia64") == 0) return "IA-64";
    if (machine[0] == 'i' && machine[1] >= '3' && machine[1] <= '6' &&
        std::strcmp(machine + 2, "86") == 0)
        return "x86-32";
    if (std::strncmp(machine, "arm", 3) == 0) return "ARM";
    return "Unknown";
}

cell_t* get_os_info() {
    struct utsname u;
    if (::uname(&u) != 0) {
        std::memset(&u, 0, sizeof u);
    }
    cell_t* obj = stack::push_slot();
    cell::begin(obj);
    object::make_at(obj, 8);
    node_t ctx = object::context_of(obj);

    cell_t* name = push_utf8("Linux");
    set_field(ctx, "name", name);
    stack::pop(1);

    cell_t arch;
    word::make_at(symbol::make(arch_name(u.machine)), &arch);
    set_field(ctx, "arch", &arch);

    uint8_t version[3];
    parse_release(u.release, version);
    cell_t tuple;
    cell::begin(&tuple);
    tuple::make_at(&tuple, version, 3);
    set_field(ctx, "version", &tuple);

    cell_t build;
    integer::make_at(&build, build_number(u.version));
    set_field(ctx, "build", &build);
    return obj;
}

void expect_type(const cell_t* value, int32_t type) {
    if (type_of(value) == type) return;
    cell_t v = *value;
    fire(err::invalid_arg, &v);
}

namespace routines {

void os_info() {
    cell_t* obj = get_os_info();
    stack::set_last_keep(obj);
}

}  // namespace routines

}  // namespace zuv::platform
