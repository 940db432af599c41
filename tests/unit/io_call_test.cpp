// Running other programs: exit statuses, redirections to data, files and the
// null device, large exchanges, children nobody waits for, and what a call
// leaves behind.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <utility>

#include "datatypes/binary.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "io/call.h"
#include "io/call_reap.h"
#include "runtime/fire.h"
#include "runtime/platform/platform.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "runtime_fixture.h"

extern char** environ;

namespace zuv::testing {
namespace {

struct options {
    bool wait = true;
    bool console = false;
    const cell_t* in = nullptr;
    cell_t* out = nullptr;
    cell_t* err = nullptr;
};

class IoCall : public Runtime {
protected:
    std::string dir;

    void SetUp() override {
        Runtime::SetUp();
        char tmpl[] = "/tmp/zuv-call-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = std::string(tmpl) + "/";
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    // Values are pushed on the argument stack, which roots them.
    static cell_t* text(const std::string& utf8) {
        return string::load(reinterpret_cast<const uint8_t*>(utf8.data()),
                            static_cast<int64_t>(utf8.size()), string::ENCODING_UTF8);
    }
    static cell_t* bytes(const std::string& raw) {
        return binary::load(reinterpret_cast<const uint8_t*>(raw.data()),
                            static_cast<int64_t>(raw.size()));
    }
    static cell_t* file(const std::string& path) {
        cell_t* f = text(path);
        cell::set_type(f, TYPE_file);
        return f;
    }
    static std::string contents(const cell_t* v) {
        if (type_of(v) == TYPE_binary) {
            cell_t b = *v;
            return std::string(reinterpret_cast<const char*>(binary::rs_head(&b)),
                               static_cast<size_t>(binary::rs_length_q(&b)));
        }
        return unicode::to_utf8(v);
    }
    static void put(const std::string& path, const std::string& data) {
        std::ofstream(path, std::ios::binary) << data;
    }
    static std::string slurp(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static int32_t call(const std::string& command, const options& o = {}) {
        return call::run(text(command), o.wait, false, o.console, false, o.in, o.out, o.err);
    }

    // Polls for up to the given seconds; whether the condition came true.
    template <typename F> static bool within(double seconds, F condition) {
        auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }
    static bool proc_entry_q(pid_t pid) {
        return ::access(("/proc/" + std::to_string(pid)).c_str(), F_OK) == 0;
    }
    // The one-letter state of /proc/<pid>/stat ('Z' for a zombie), '?' when gone.
    static char proc_state(pid_t pid) {
        std::string stat = slurp("/proc/" + std::to_string(pid) + "/stat");
        size_t close = stat.rfind(')');
        return close == std::string::npos || close + 2 >= stat.size() ? '?' : stat[close + 2];
    }
    // Every child of this process, from each thread's list.
    static std::string children() {
        std::string all;
        DIR* d = ::opendir("/proc/self/task");
        if (d == nullptr) return "?";
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.')
                all += slurp(std::string("/proc/self/task/") + e->d_name + "/children");
        ::closedir(d);
        return all;
    }
    // Open descriptors of the kinds a call opens (pipes, the null device,
    // files in the test's folder) and what they refer to: what else the
    // process holds, or opens meanwhile, is none of the calls' doing.
    std::map<std::string, std::string> call_fds() const {
        std::map<std::string, std::string> fds;
        DIR* d = ::opendir("/proc/self/fd");
        if (d == nullptr) return fds;
        std::string own = std::to_string(::dirfd(d));
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name == "." || name == ".." || name == own) continue;
            char target[4096];
            ssize_t n = ::readlink(("/proc/self/fd/" + name).c_str(), target, sizeof target);
            std::string to = n < 0 ? "?" : std::string(target, static_cast<size_t>(n));
            if (to.starts_with("pipe:") || to == "/dev/null" || to.starts_with(dir)) fds[name] = to;
        }
        ::closedir(d);
        return fds;
    }
};

TEST_F(IoCall, WaitedCallsGiveTheShellsStatus) {
    const std::pair<const char*, int32_t> rows[] = {
        {"true", 0},
        {"exit 7", 7},
        {"kill -9 $$", 137},  // a signal: 128 + its number
        {"no-such-prog-xyz", 127},  // the shell cannot find it
        {"-x", 127},  // a command, not a shell option
        {"", 0},
        {"kill -PIPE $$", 141},  // the child does not inherit our ignored SIGPIPE
        {"exit 255", 255},
    };
    for (auto [command, status] : rows) EXPECT_EQ(call(command), status) << command;
}

TEST_F(IoCall, CommandAsFileAndBadArguments) {
    EXPECT_EQ(call::run(file("/bin/true"), true, false, false, false, nullptr, nullptr, nullptr),
              0);
    EXPECT_EQ(raised([] { call(std::string("true\0rm -rf x", 13)); }), err::invalid_arg);
    cell_t* n = stack::push_slot();
    integer::make_at(n, 1);
    EXPECT_EQ(raised([&] { call("true", {.in = n}); }), err::invalid_arg);
    EXPECT_EQ(raised([&] { call("true", {.out = n}); }), err::invalid_arg);
    EXPECT_EQ(raised([&] { call::run(n, true, false, false, false, nullptr, nullptr, nullptr); }),
              err::invalid_arg);
}

TEST_F(IoCall, FileCommandIsOneWordForTheShell) {
    const std::pair<const char*, const char*> rows[] = {
        {"/bin/true", "'/bin/true'"},
        {"./my prog.sh", "'./my prog.sh'"},
        {"none;touch X$HOME`id`", "'none;touch X$HOME`id`'"},
        {"it's", "'it'\\''s'"},
        {"", ""}};
    for (auto [path, command] : rows) EXPECT_EQ(call::command_text(file(path)), command) << path;
    // A string! is shell text: it stays as it is.
    EXPECT_EQ(call::command_text(text("a b; c")), "a b; c");
}

TEST_F(IoCall, CommandTooLongForTheSystemIsAnError) {
    // Linux passes no single argument beyond 128 KiB.
    std::string command = "true" + std::string(200 * 1024, ' ');
    EXPECT_EQ(raised([&] { call(command); }), err::too_long);
    EXPECT_EQ(call("true" + std::string(100 * 1024, ' ')), 0);
}

TEST_F(IoCall, CapturesIntoStringsAndBinaries) {
    struct row {
        const char* command;
        bool binary;
        std::string before;  // the target's content before the call
        std::string after;
    };
    const row rows[] = {
        {"printf hi", false, "", "hi"},
        {"printf hi", true, "", "hi"},
        {"printf hi", false, "ab", "abhi"},
        {"printf ''", false, "x", "x"},
        {R"(printf '\303\251\342\202\254\360\237\230\200')", false, "",
         "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {R"(printf '\357\273\277ok')", false, "", "ok"},  // a byte-order mark is dropped
        {R"(printf '\357\273\277ok')", true, "", "\xEF\xBB\xBFok"},  // but not from bytes
        {R"(printf 'a\r\nb\000c')", false, "", std::string("a\r\nb\0c", 6)},  // nothing folded
        {R"(printf '\377\000')", true, "", std::string("\xFF\0", 2)},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.command);
        cell_t* target = r.binary ? bytes(r.before) : text(r.before);
        EXPECT_EQ(call(r.command, {.out = target}), 0);
        EXPECT_EQ(contents(target), r.after);
    }
}

TEST_F(IoCall, OutputAndErrorGoToTheirOwnTargets) {
    cell_t* out = text("");
    cell_t* err = bytes("");
    EXPECT_EQ(call("printf out; printf err >&2; exit 3", {.out = out, .err = err}), 3);
    EXPECT_EQ(contents(out), "out");
    EXPECT_EQ(contents(err), "err");
    // One target for both: output first, then error.
    cell_t* both = text("");
    EXPECT_EQ(call("printf err >&2; printf out", {.out = both, .err = both}), 0);
    EXPECT_EQ(contents(both), "outerr");
}

TEST_F(IoCall, TextThatIsNotUtf8IsAnError) {
    for (const char* command : {R"(printf 'a\377b')", R"(printf 'a\303')"}) {
        SCOPED_TRACE(command);
        cell_t* target = text("");
        EXPECT_EQ(raised([&] { call(command, {.out = target}); }), err::invalid_utf8);
    }
}

TEST_F(IoCall, InputData) {
    struct row {
        const char* name;
        bool binary;
        std::string data;
        std::string echoed;
    };
    const row rows[] = {
        {"text", false, "abc", "abc"},
        {"text goes as UTF-8", false, "\xC3\xA9\xF0\x9F\x98\x80", "\xC3\xA9\xF0\x9F\x98\x80"},
        {"empty text", false, "", ""},
        {"bytes", true, std::string("\x00\xFF\x0A", 3), std::string("\x00\xFF\x0A", 3)},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        cell_t* in = r.binary ? bytes(r.data) : text(r.data);
        cell_t* out = bytes("");
        EXPECT_EQ(call("cat", {.in = in, .out = out}), 0);
        EXPECT_EQ(contents(out), r.echoed);
    }
    // The input's position counts: from the head on.
    cell_t* in = text("skipped,sent");
    string::rs_skip(in, 8);
    cell_t* out = text("");
    EXPECT_EQ(call("cat", {.in = in, .out = out}), 0);
    EXPECT_EQ(contents(out), "sent");
}

TEST_F(IoCall, Files) {
    put(dir + "in.txt", "from a file");
    cell_t* out = text("");
    EXPECT_EQ(call("cat", {.in = file(dir + "in.txt"), .out = out}), 0);
    EXPECT_EQ(contents(out), "from a file");

    // Output and error files are appended to, and made when missing.
    for (int i = 0; i < 2; i++)
        EXPECT_EQ(call("printf x; printf e >&2",
                       {.out = file(dir + "out.txt"), .err = file(dir + "err.txt")}),
                  0);
    EXPECT_EQ(slurp(dir + "out.txt"), "xx");
    EXPECT_EQ(slurp(dir + "err.txt"), "ee");

    // A file that cannot be opened gives -1, and nothing runs.
    const std::pair<const char*, options> failing[] = {
        {"missing input file", {.in = file(dir + "missing")}},
        {"a folder as input", {.in = file(dir)}},
        {"output in a missing folder", {.out = file(dir + "no/out.txt")}},
        {"error in a missing folder", {.err = file(dir + "no/err.txt")}},
        {"empty path", {.out = file("")}},
    };
    for (const auto& [name, o] : failing) {
        SCOPED_TRACE(name);
        EXPECT_EQ(call("touch '" + dir + "ran'", o), -1);
        EXPECT_NE(::access((dir + "ran").c_str(), F_OK), 0) << "the command ran";
    }
    // A failing output leaves the capture target as it was.
    cell_t* kept = text("kept");
    EXPECT_EQ(call("printf more", {.out = kept, .err = file(dir + "no/err.txt")}), -1);
    EXPECT_EQ(contents(kept), "kept");
}

// Our standard output and error, sent to files for one call.
class standard_streams_to_files {
public:
    explicit standard_streams_to_files(const std::string& stem)
        : out_(stem + ".out"), err_(stem + ".err") {
        std::fflush(stdout);
        std::fflush(stderr);
        saved_out_ = ::dup(1);
        saved_err_ = ::dup(2);
        int o = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(o, 1);
        ::dup2(e, 2);
        ::close(o);
        ::close(e);
    }
    ~standard_streams_to_files() { restore(); }
    void restore() {
        if (saved_out_ < 0) return;
        ::dup2(saved_out_, 1);
        ::dup2(saved_err_, 2);
        ::close(saved_out_);
        ::close(saved_err_);
        saved_out_ = saved_err_ = -1;
    }
    const std::string& out() const { return out_; }
    const std::string& err() const { return err_; }

private:
    std::string out_, err_;
    int saved_out_ = -1, saved_err_ = -1;
};

TEST_F(IoCall, OnlyConsoleCallsReachOurStandardStreams) {
    const char* command = "echo out; echo err >&2";
    {
        standard_streams_to_files streams(dir + "quiet");
        int32_t status = call(command);
        streams.restore();
        EXPECT_EQ(status, 0);
        EXPECT_EQ(slurp(streams.out()), "");
        EXPECT_EQ(slurp(streams.err()), "");
    }
    {
        standard_streams_to_files streams(dir + "console");
        int32_t status = call(command, {.console = true});
        streams.restore();
        EXPECT_EQ(status, 0);
        EXPECT_EQ(slurp(streams.out()), "out\n");
        EXPECT_EQ(slurp(streams.err()), "err\n");
    }
    {
        // A redirected output with /console: the error still comes to us.
        standard_streams_to_files streams(dir + "mixed");
        cell_t* out = text("");
        int32_t status = call(command, {.console = true, .out = out});
        streams.restore();
        EXPECT_EQ(status, 0);
        EXPECT_EQ(contents(out), "out\n");
        EXPECT_EQ(slurp(streams.out()), "");
        EXPECT_EQ(slurp(streams.err()), "err\n");
    }
}

TEST_F(IoCall, ChildSeesOurEnvironmentFolderAndOnlyThreeDescriptors) {
    ASSERT_TRUE(platform::set_env("ZUV_CALL_TEST", "set here"));
    std::string cwd = platform::get_current_dir();
    ASSERT_EQ(::chdir(dir.c_str()), 0);
    // A descriptor we were given open, without close-on-exec, stays ours:
    // a file of a name of its own, high above whatever else is open.
    int opened = ::open((dir + "inherited").c_str(), O_RDONLY | O_CREAT, 0600);
    ASSERT_GE(opened, 0);
    int inherited = ::fcntl(opened, F_DUPFD, 100);
    ::close(opened);
    ASSERT_GE(inherited, 100);
    // The child lists the descriptors still open once the glob that lists
    // them has closed its folder, and where each leads: what the shell
    // itself holds open for a moment does not count.
    cell_t* out = text("");
    EXPECT_EQ(call(R"sh(printf '%s|%s|' "$ZUV_CALL_TEST" "$PWD"
for f in /proc/$$/fd/*; do
    if [ -e "$f" ]; then printf '%s>%s\n' "${f##*/}" "$(readlink "$f")"; fi
done)sh",
                   {.out = out}),
              0);
    ::close(inherited);
    ASSERT_EQ(::chdir(cwd.c_str()), 0);
    std::string folder = dir.substr(0, dir.size() - 1);
    std::string listing = contents(out);
    std::string prefix = "set here|" + folder + "|";
    ASSERT_EQ(listing.substr(0, prefix.size()), prefix) << listing;
    std::istringstream lines(listing.substr(prefix.size()));
    std::string numbers;
    for (std::string line; std::getline(lines, line);) {
        EXPECT_EQ(line.find("inherited"), std::string::npos) << line;
        numbers += line.substr(0, line.find('>')) + " ";
    }
    // Our standard streams that are open (the output is the call's pipe),
    // nothing else.
    std::string standard = ::fcntl(0, F_GETFD) >= 0 ? "0 1 " : "1 ";
    if (::fcntl(2, F_GETFD) >= 0) standard += "2 ";
    EXPECT_EQ(numbers, standard) << listing;
}

TEST_F(IoCall, LargeExchangesDoNotDeadlock) {
    constexpr int64_t MB = 1 << 20;
    {
        // Error written first: reading output and then error would wait
        // forever on a child blocked on its full error pipe.
        cell_t* out = bytes("");
        cell_t* err = bytes("");
        EXPECT_EQ(call("head -c 1048576 /dev/zero >&2; head -c 1048576 /dev/zero",
                       {.out = out, .err = err}),
                  0);
        EXPECT_EQ(binary::rs_length_q(out), MB);
        EXPECT_EQ(binary::rs_length_q(err), MB);
    }
    std::string data(10 * MB, '\0');
    for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<char>(i * 7 + i / 4096);
    {
        // cat writes while it reads: all input first would fill both pipes.
        cell_t* out = bytes("");
        EXPECT_EQ(call("cat", {.in = bytes(data), .out = out}), 0);
        EXPECT_TRUE(contents(out) == data);
    }
    {
        // Input sent from the binary! that the output is appended to: it
        // gets the input as it was before the call, then the output.
        cell_t* both = bytes(data);
        EXPECT_EQ(call("cat", {.in = both, .out = both}), 0);
        EXPECT_TRUE(contents(both) == data + data);
    }
    {
        // A child that ends without reading: the sending stops quietly and
        // the status still comes back.
        EXPECT_EQ(call("exit 3", {.in = bytes(data)}), 3);
        cell_t* out = text("");
        EXPECT_EQ(call("head -c 5 >/dev/null; printf done", {.in = bytes(data), .out = out}), 0);
        EXPECT_EQ(contents(out), "done");
    }
}

TEST_F(IoCall, UnwaitedChildIsReapedAndOthersKeepTheirStatus) {
    // A child of our own, ended before the call's child and waited for after.
    pid_t own;
    char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>("exit 5"),
                    nullptr};
    ASSERT_EQ(posix_spawn(&own, "/bin/sh", nullptr, nullptr, argv, environ), 0);

    int32_t pid = call("sleep 1", {.wait = false});
    ASSERT_GT(pid, 0);
    // Returned at once: the child still runs.
    char state = proc_state(pid);
    EXPECT_TRUE(state != 'Z' && state != 'X' && state != '?') << state;
    EXPECT_TRUE(within(6, [&] { return !proc_entry_q(pid); })) << "no zombie left";
    EXPECT_EQ(call::adopted_count(), 0);

    int status = 0;
    ASSERT_EQ(::waitpid(own, &status, 0), own);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 5);
}

TEST_F(IoCall, AnIgnoredChildSignalIsUndoneAtStartUp) {
    // Ignored, the signal makes the system reap every child at once.
    struct sigaction saved {};
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(sigaction(SIGCHLD, &ignore, &saved), 0);
    call::unignore_child_signal();
    int32_t status = call("exit 7");
    sigaction(SIGCHLD, &saved, nullptr);
    EXPECT_EQ(status, 7);
}

TEST_F(IoCall, ManyCallsLeaveNoDescriptorOrChild) {
    put(dir + "in.txt", "in");
    std::map<std::string, std::string> before = call_fds();
    cell_t* mark = stack::top_slot;
    for (int i = 0; i < 1000; i++) {
        switch (i % 6) {
        case 0: EXPECT_EQ(call("true"), 0); break;
        case 1: {
            cell_t* out = text("");
            EXPECT_EQ(call("printf x; printf y >&2", {.out = out, .err = out}), 0);
            break;
        }
        case 2: EXPECT_EQ(call("cat", {.in = text("abc"), .out = bytes("")}), 0); break;
        case 3: EXPECT_EQ(call("cat", {.in = file(dir + "missing"), .out = bytes("")}), -1); break;
        case 4:
            EXPECT_EQ(call("cat", {.in = file(dir + "in.txt"), .out = file(dir + "out.txt")}), 0);
            break;
        case 5: EXPECT_GT(call("exit 1", {.wait = false}), 0); break;
        }
        stack::top_slot = mark;
    }
    EXPECT_TRUE(within(5, [] { return call::adopted_count() == 0; }));
    EXPECT_EQ(children(), "");
    EXPECT_EQ(call_fds(), before);
    EXPECT_EQ(slurp(dir + "out.txt").size(), 2u * 166);
}

}  // namespace
}  // namespace zuv::testing
