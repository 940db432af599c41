// The frame a compiled helper calls an action on.
#pragma once

#include <exception>

#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/stack.h"

namespace zuv::helpers {

// The word a frame is named by: an error raised in it names the action, as
// it would in the helper's body.
inline cell_t action_word(const char* name) {
    cell_t w;
    word::make_raw(&w, TYPE_word, 0, symbol::make(name), -1);
    return w;
}

// A native frame of its own for the action a helper calls (an action leaves
// its result in its frame's first cell), dropped when the call returns; an
// error leaves the tops to its catcher, which reads the error off them.
class scratch {
public:
    explicit scratch(const cell_t& word)
        : saved_(stack::tops()), errors_(std::uncaught_exceptions()) {
        stack::mark_native(&word);
    }
    ~scratch() {
        if (std::uncaught_exceptions() == errors_) stack::restore_tops(saved_);
    }
    scratch(const scratch&) = delete;
    scratch& operator=(const scratch&) = delete;

    cell_t* push(const cell_t* value) { return stack::push(value); }

private:
    stack::tops_t saved_;
    int errors_;
};

}  // namespace zuv::helpers
