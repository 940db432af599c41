// call: running another program for the call native.
//
// Every command runs as `/bin/sh -c COMMAND`, started with posix_spawn, with
// or without /shell: the shell splits the words of a string! and runs its
// built-ins, and a program it cannot find gives its status 127. A file!
// names one program: it goes to the shell quoted as one word. The child gets descriptors 0,
// 1 and 2 only (everything the runtime opens is close-on-exec, and any other
// descriptor the process was given is closed in the child), the
// environment as set-env left it, the current folder, and default signal
// dispositions with nothing blocked (the runtime ignores SIGPIPE; a pipeline
// in the child must not).
//
// Standard input is ours unless redirected. Standard output and error go to
// the null device unless redirected or /console is given, when the child
// shares ours. A redirection is data (string! as UTF-8, binary! as it is), a
// file (input: must exist; output and error: appended to, created when
// missing) or a capture into the target string! or binary!.
//
// A call waits for the child with /wait, /console or any redirection, and
// returns its exit status (128 + the signal number when a signal ended it);
// otherwise it returns the child's pid at once, and the child is reaped when
// it ends (io/call_reap.h). -1 when a file cannot be opened or the shell
// cannot be started; every descriptor the call opened is closed again on
// every path. A command longer than the system passes to a program raises
// too-long instead, so it is not taken for a missing one.
//
// Captured output is gathered in memory mapped for it (grown by remapping,
// never copied) and then moved onto the target's tail a slice at a time,
// text decoded on the way, each slice's pages given back as it is done: the
// output is held about once, not once per copy. A target that an object
// owns is told of the change before the child starts and once its output
// is in.
//
// While waiting, one poll loop writes the input and drains output and error
// together, so a child that writes much before it reads, or fills its error
// pipe, cannot deadlock with us; a child that ends without reading all its
// input only stops the writing.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace zuv::call {

// Captured output beyond this many bytes could not become one value.
constexpr int64_t MAX_CAPTURE = 0x7FFFFFF0;

// One of standard input, output and error, as the worker sees it.
struct redirect_t {
    enum kind_t : uint8_t { NONE, DATA, FILE, CAPTURE };
    kind_t kind = NONE;
    // DATA: the bytes to send. They may lie in a series buffer: the worker
    // allocates nothing in series memory, so they stay where they are.
    const uint8_t* data = nullptr;
    // DATA: bytes to send; CAPTURE: bytes captured so far.
    int64_t length = 0;
    // FILE: the OS path.
    std::string path;
    // CAPTURE: mapped, 64 KiB at first and remapped to twice its size each
    // time it fills; pages below released are given back already.
    uint8_t* buffer = nullptr;
    int64_t capacity = 0;
    int64_t released = 0;
    // CAPTURE: more came than MAX_CAPTURE or memory allowed; the rest was
    // drained and dropped.
    bool overflow = false;

    redirect_t() = default;
    ~redirect_t();
    // Gives back the whole pages of the buffer below offset end: their
    // bytes have been moved out.
    void release_below(int64_t end);
    redirect_t(const redirect_t&) = delete;
    redirect_t& operator=(const redirect_t&) = delete;
};

struct flags_t {
    bool wait = false;
    bool show = false;  // no windows here: changes nothing
    bool console = false;  // output and error not redirected are ours
    bool shell = false;  // every command goes through the shell anyway
};

// Start-up step: SIGCHLD back to its default when it came to us ignored.
void init();

// The call native's work, arguments in its order. cmd is a string! or
// file!; in, out and err are string!, file! or binary!, or nullptr or none!
// when absent; out and err must stay rooted (the captured output is
// appended to them). Returns the exit status, the pid or -1. Raises
// invalid-arg for a command holding a NUL or an argument of another type,
// too-long for a command the system will not pass, no-memory when a capture
// outgrows one value, invalid-utf8 (leaving the string! as it was) when text
// captured into a string! is not UTF-8.
int32_t run(const cell_t* cmd, bool wait, bool show, bool console, bool shell, const cell_t* in,
            cell_t* out, cell_t* err);

// The worker: starts the command and, when the call waits, feeds and
// drains the redirections and waits. Fills the captures; raises nothing.
// Returns -1 with errno set when nothing could be started.
int32_t spawn(const std::string& command, const flags_t& flags, redirect_t& in, redirect_t& out,
              redirect_t& err);

// The text a command is given to the shell as: a string!'s as it is; a
// file!'s local path quoted as one word ('...', a ' inside written '\''),
// an empty one left empty; both as names of the system
// (unicode::to_os_text). Raises invalid-arg for what no name holds.
std::string command_text(const cell_t* cmd);

// Hands a URL or a local file name to the desktop's opener, `xdg-open`,
// found on PATH and given the text as its one argument: no shell sees it.
// Nobody waits for the opener; it is reaped when it ends. False when it
// cannot be started (not on PATH, not executable, a NUL in the text).
bool open_with_desktop(const std::string& target);

// Appends captured bytes to the target, giving the capture's pages back as
// they are moved: a binary! gets them as they are, a string! gets them
// decoded as UTF-8 (whatever the shell or console flags; a leading
// byte-order mark dropped). Raises invalid-utf8, having appended nothing,
// when the text is not UTF-8 or ends inside a character.
void decode_output(cell_t* target, redirect_t& capture);

}  // namespace zuv::call
