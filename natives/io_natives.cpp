// The natives of the process environment and of files: get-env, set-env,
// list-env, to-local-file and size?.
#include <cstdlib>
#include <string>

#include "datatypes/file.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "io/platform_io.h"
#include "io/simple_io.h"
#include "natives/natives.h"
#include "runtime/fire.h"
#include "runtime/platform/platform.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace zuv::natives {

namespace {

// The variable's name: a string's text from its head (unicode::to_os_text),
// or a word's name. A name the system cannot hold (empty, with "=" after its
// first character, a NUL, a surrogate that stands for no byte) raises
// invalid-arg: setting it would silently do nothing.
std::string env_name(const cell_t* var, bool for_setting) {
    cell_t v = *var;
    std::string name;
    bool bad = false;
    if (string::any_string_q(type_of(&v))) {
        bad = !unicode::to_os_text(&v, &name);
    } else {
        name = symbol::get_utf8(word::symbol_of(&v));
    }
    if (for_setting) bad = bad || name.empty() || name.find('=', 1) != std::string::npos;
    if (bad) fire(err::invalid_arg, &v);
    return name;
}

}  // namespace

void get_env(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::get_env, refinements);
    std::string name = env_name(stack::arguments, false);
    const char* value = name.empty() ? nullptr : platform::get_env(name.c_str());
    if (value == nullptr) {
        none::make_at(stack::arguments);
        stack::keep();
        return;
    }
    std::string text(value);  // decoding allocates; keep no pointer into the environment
    cell_t* s = string::load(reinterpret_cast<const uint8_t*>(text.data()),
                             static_cast<int64_t>(text.size()), string::ENCODING_OS);
    stack::set_last_keep(s);
}

void set_env(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::set_env, refinements);
    std::string name = env_name(stack::arguments, true);
    cell_t* value = stack::arguments + 1;
    bool ok;
    if (type_of(value) == TYPE_none) {
        ok = platform::unset_env(name.c_str());
    } else {
        std::string text;
        if (!unicode::to_os_text(value, &text)) {
            cell_t v = *value;
            fire(err::invalid_arg, &v);
        }
        ok = platform::set_env(name.c_str(), text.c_str());
    }
    if (!ok) {
        cell_t v = *stack::arguments;
        fire(err::invalid_arg, &v);
    }
    stack::set_last_keep(stack::arguments + 1);
}

void list_env(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::list_env, refinements);
    cell_t* map = platform::list_env();
    stack::set_last_keep(map);
}

void to_local_file(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::to_local_file, refinements);
    bool full = refinements[0] != -1;
    cell_t* target = stack::push_slot();
    cell::begin(target);
    string::make_at(target, string::rs_length_q(stack::arguments) + 1);
    file::to_local_path(stack::arguments, target, full);
    stack::set_last_keep(target);
}

void size_q(int32_t check, const int32_t* refinements) {
    if (check) check_args(id::size_q, refinements);
    int64_t size = simple_io::size_q(stack::arguments);
    if (size < 0) none::make_at(stack::arguments);
    else make_figure(stack::arguments, size);
    stack::keep();
}

}  // namespace zuv::natives
