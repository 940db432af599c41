// simple-io: files and folders on POSIX.
#include "io/simple_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/file.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/console_output.h"
#include "runtime/fire.h"
#include "runtime/platform/platform.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace zuv::simple_io {

namespace {

// A series stays below 2^31 bytes; a file too large for one value cannot be
// read whole.
constexpr int64_t MAX_VALUE_BYTES = 0x7FFFFFF0;

// Writes are gathered up to this many bytes before a system call.
constexpr size_t WRITE_BATCH = 1 << 20;

// The OS path of a file! value; false when it cannot name a file.
bool os_path(const cell_t* file, std::string* out) { return file::to_os_path(file, out); }

[[noreturn]] void fire_cannot_open(const cell_t* file) {
    cell_t f = *file;
    fire(err::cannot_open, &f);
}

// The integer a /part or /seek argument means: an integer!'s value, a
// float! truncated toward zero; -1 when absent.
int64_t number_arg(const cell_t* value) {
    if (value == nullptr) return -1;
    switch (type_of(value)) {
    case TYPE_integer: return integer::get(value);
    case TYPE_float_: {
        double d = cell::get_float(value);
        if (!std::isfinite(d)) {
            cell_t v = *value;
            fire(err::invalid_arg, &v);
        }
        if (d >= 9.0e18) return INT64_MAX;
        if (d <= -9.0e18) return INT64_MIN;
        return static_cast<int64_t>(d);
    }
    default: break;
    }
    cell_t v = *value;
    fire(err::invalid_arg, &v);
}

cell_t* push_empty(bool binary) {
    cell_t* c = stack::push_slot();
    cell::begin(c);
    if (binary) {
        binary::make_at(c, 0);
    } else {
        string::make_at(c, 1);
    }
    return c;
}

// Whether every byte is below 0x80.
bool ascii_q(const uint8_t* p, int64_t n) {
    constexpr int64_t BLOCK = 4096;
    for (int64_t at = 0; at < n; at += BLOCK) {
        int64_t end = std::min(n, at + BLOCK);
        uint8_t bits = 0;
        for (int64_t i = at; i < end; i++) bits |= p[i];
        if (bits & 0x80) return false;
    }
    return true;
}

// Whether the bytes are ASCII without CR: then they are the string's
// characters as they stand, with nothing to decode, fold or skip.
bool plain_ascii_q(const uint8_t* p, int64_t n) {
    if (n > 0 && std::memchr(p, '\r', static_cast<size_t>(n)) != nullptr) return false;
    return ascii_q(p, n);
}

// A new string! of 1-byte units holding the ASCII bytes, in cell.
void make_ascii_at(cell_t* c, const uint8_t* bytes, int64_t count) {
    string::make_at(c, count);
    series_buffer_t* s = string::buffer_of(c);
    std::memcpy(s->tail_ptr(), bytes, static_cast<size_t>(count));
    s->tail += static_cast<int32_t>(count);
}

// A new string! from UTF-8 bytes, pushed; fold turns CR LF and lone CR into
// LF (the byte-order mark is skipped in any case). whole: the bytes are all
// of the text, so a sequence cut at their end is invalid; a part of a text
// may end inside one, and the cut character is left out.
cell_t* push_text(const uint8_t* bytes, int64_t count, bool fold, bool whole) {
    cell_t* c = stack::push_slot();
    cell::begin(c);
    if (plain_ascii_q(bytes, count)) {
        make_ascii_at(c, bytes, count);
        return c;
    }
    int64_t rest = 0;
    node_t node = unicode::load_utf8(text_source::at(bytes), count, 0, &rest, fold);
    // Dropping the cut sequence would lose those bytes unseen.
    if (rest > 0 && whole) {
        uint8_t cut[4];
        int64_t n = std::min<int64_t>(rest, 4);
        std::memcpy(cut, bytes + count - rest, static_cast<size_t>(n));
        fire(err::invalid_utf8, binary::load(cut, n));
    }
    c->data1 = 0;
    c->data2 = node;
    c->data3 = 0;
    cell::set_type(c, TYPE_string);
    return c;
}

// Pushes a block of the lines of the bytes (see the header).
cell_t* push_lines(const uint8_t* bytes, int64_t count) {
    const uint8_t* end = bytes + count;
    int64_t lines = 0;
    for (const uint8_t* p = bytes; p < end; p++) {
        p = static_cast<const uint8_t*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        if (p == nullptr) break;
        lines++;
    }
    if (count > 0 && end[-1] != '\n') lines++;
    cell_t* block = stack::push_slot();
    cell::begin(block);
    block::make_at(block, static_cast<int32_t>(std::min<int64_t>(lines, INT32_MAX)));
    // Every string made here stays reachable from the block, so a collection
    // meanwhile frees nothing of it, yet each one marks all lines made so
    // far: for a large file that is quadratic. The collector is held off
    // until the block is complete (small files keep it, and with it the
    // checks of the stress mode).
    collector::hold_off hold(lines > 4096);
    const uint8_t* start = bytes;
    while (start < end) {
        const uint8_t* lf =
            static_cast<const uint8_t*>(std::memchr(start, '\n', static_cast<size_t>(end - start)));
        const uint8_t* stop = lf ? lf : end;
        int64_t n = stop - start;
        if (lf && n > 0 && stop[-1] == '\r') n--;
        if (plain_ascii_q(start, n)) {
            cell_t* slot = stack::push_slot();
            cell::begin(slot);
            make_ascii_at(slot, start, n);
            *alloc::alloc_tail(block::buffer_of(block)) = *slot;
            stack::pop(1);
        } else {
            string::load_in(start, n, block, string::ENCODING_UTF8);
        }
        if (!lf) break;
        start = lf + 1;
    }
    return block;
}

// Owns a file descriptor until the end of the scope.
struct handle_guard {
    int32_t fd;
    explicit handle_guard(int32_t h) : fd(h) {}
    ~handle_guard() {
        if (fd >= 0) close_file(fd);
    }
    handle_guard(const handle_guard&) = delete;
    handle_guard& operator=(const handle_guard&) = delete;
};

bool wait_writable(int32_t fd) {
    pollfd p{fd, POLLOUT, 0};
    for (;;) {
        int r = ::poll(&p, 1, -1);
        if (r > 0) return true;
        if (r < 0 && errno != EINTR) return false;
    }
}

// The output of one write call: pieces are gathered and sent in batches, a
// large piece straight from where it lies.
struct writer_t {
    int32_t fd = -1;
    bool failed = false;
    int64_t written = 0;
    std::string pending;

    void flush() {
        if (!pending.empty() && !failed)
            send(reinterpret_cast<const uint8_t*>(pending.data()), pending.size());
        pending.clear();
    }
    void send(const uint8_t* bytes, size_t n) {
        int64_t r = write_data(fd, bytes, static_cast<int64_t>(n));
        if (r < 0) {
            // Standard output that cannot be written ends the process, as
            // for every other writer to it.
            if (fd == STDOUT_FILENO) platform::output_failed(errno);
            failed = true;
            return;
        }
        written += r;
    }
    void put(const uint8_t* bytes, size_t n) {
        if (failed) return;
        if (n >= WRITE_BATCH) {
            flush();
            send(bytes, n);
            return;
        }
        pending.append(reinterpret_cast<const char*>(bytes), n);
        if (pending.size() >= WRITE_BATCH) flush();
    }
    void put(const std::string& s) { put(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }
};

// Writes the bytes of a value (value-to-bytes): a string's UTF-8 limited to
// part characters (part -1: all); a binary's bytes limited only by a part
// above 0; any other value molded and written as a string. The value's cell
// may lie in a series buffer: it is copied first.
void put_value(writer_t& w, const cell_t* value_at, int64_t part) {
    cell_t value = *value_at;
    uint8_t t = type_of(&value);
    if (t == TYPE_binary) {
        int32_t length = binary::rs_length_q(&value);
        int64_t n = length;
        if (part > 0 && part < n) n = part;
        w.put(binary::rs_head(&value), static_cast<size_t>(n));
        return;
    }
    if (string::any_string_q(t)) {
        int32_t length = string::rs_length_q(&value);
        int64_t n = part < 0 ? length : std::min<int64_t>(part, length);
        // ASCII in 1-byte units is its own UTF-8: written from where it lies.
        if (string::buffer_of(&value)->unit() == 1) {
            const uint8_t* head = string::rs_head(&value);
            if (ascii_q(head, n)) {
                w.put(head, static_cast<size_t>(n));
                return;
            }
        }
        w.put(unicode::to_utf8(&value, static_cast<int32_t>(n), false));
        return;
    }
    cell_t* held = stack::push(&value);
    cell_t* text = stack::push_slot();
    cell::begin(text);
    string::make_at(text, 64);
    actions::mold(held, text, {});
    int32_t p = part < 0 ? -1 : static_cast<int32_t>(std::min<int64_t>(part, INT32_MAX));
    std::string bytes = unicode::to_utf8(text, p, false);
    stack::pop(2);
    w.put(bytes);
}

// The /part refinement word for the invalid-refine-arg message.
cell_t part_refinement() {
    cell_t r;
    cell::begin(&r);
    word::make_at(symbol::make("part"), &r);
    cell::set_type(&r, TYPE_refinement);
    return r;
}

// The date of a file time, UTC.
cell_t* push_date(const timespec& t) {
    struct tm parts;
    time_t seconds = t.tv_sec;
    if (gmtime_r(&seconds, &parts) == nullptr) return nullptr;
    int32_t year = parts.tm_year + 1900;
    if (year < date::MIN_YEAR || year > date::MAX_YEAR) return nullptr;
    cell_t* c = stack::push_slot();
    cell::begin(c);
    date::make_at_hms(c, year, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min,
                      parts.tm_sec, static_cast<int32_t>(t.tv_nsec));
    return c;
}

}  // namespace

// --- low level -----------------------------------------------------------------------

int32_t open_file(const char* path, int32_t mode) {
    int flags = O_CLOEXEC;
    if (mode & MODE_WRITE) {
        flags |= (mode & MODE_READ) ? O_RDWR : O_WRONLY;
        flags |= O_CREAT;
        if (!(mode & (MODE_APPEND | MODE_KEEP))) flags |= O_TRUNC;
    } else {
        flags |= O_RDONLY;
    }
    int fd;
    do {
        fd = ::open(path, flags, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int64_t file_size_q(int32_t handle) {
    struct stat st;
    if (::fstat(handle, &st) != 0) return -1;
    // Pipes, terminals and many files of /proc report no size: they are
    // read through to their end instead.
    if (!S_ISREG(st.st_mode)) return 0;
    return st.st_size;
}

bool seek_file(int32_t handle, int64_t offset) {
    return ::lseek(handle, offset, SEEK_SET) == offset;
}

int64_t read_some(int32_t handle, uint8_t* buffer, int64_t count) {
    for (;;) {
        ssize_t n =
            ::read(handle, buffer, static_cast<size_t>(std::min<int64_t>(count, 0x7FFFF000)));
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            pollfd p{handle, POLLIN, 0};
            if (::poll(&p, 1, -1) < 0 && errno != EINTR) return -1;
            continue;
        }
        return -1;
    }
}

int64_t read_data(int32_t handle, uint8_t* buffer, int64_t count) {
    int64_t total = 0;
    while (total < count) {
        int64_t n = read_some(handle, buffer + total, count - total);
        if (n < 0) return total > 0 ? total : -1;
        if (n == 0) break;
        total += n;
    }
    return total;
}

int64_t write_data(int32_t handle, const uint8_t* buffer, int64_t count) {
    int64_t total = 0;
    while (total < count) {
        ssize_t n = ::write(handle, buffer + total,
                            static_cast<size_t>(std::min<int64_t>(count - total, 0x7FFFF000)));
        if (n > 0) {
            total += n;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!wait_writable(handle)) return -1;
            continue;
        }
        if (n == 0) errno = EIO;  // no progress and no reason: give up rather than spin
        return -1;
    }
    return total;
}

void close_file(int32_t handle) { ::close(handle); }

bool make_dir(const char* path) { return ::mkdir(path, 0777) == 0; }

bool file_exists_q(const char* path) {
    struct stat st;
    return ::lstat(path, &st) == 0;
}

// --- value level -----------------------------------------------------------------------

bool dir_q(const cell_t* file) {
    cell_t f = *file;
    int32_t n = string::rs_length_q(&f);
    if (n == 0) return false;
    int32_t head = static_cast<int32_t>(f.data1);
    auto at = [&](int32_t i) { return string::rs_abs_at(&f, head + i); };
    uint32_t last = at(n - 1);
    if (last == '/') return true;
    if (last != '.') return false;
    if (n == 1) return true;  // .
    if (at(n - 2) == '/') return true;  // a/.
    if (at(n - 2) != '.') return false;  // a.
    return n == 2 || at(n - 3) == '/';  // .. or a/..
}

bool delete_(const cell_t* file) {
    std::string path;
    if (!os_path(file, &path)) return false;
    return dir_q(file) ? ::rmdir(path.c_str()) == 0 : ::unlink(path.c_str()) == 0;
}

bool rename(const cell_t* from, const cell_t* to) {
    std::string a, b;
    if (!os_path(from, &a) || !os_path(to, &b)) return false;
    if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system that cannot refuse by itself: look first. (Another
    // process could still slip a file in between; nothing portable closes
    // that gap.)
    if (file_exists_q(b.c_str())) return false;
    return ::rename(a.c_str(), b.c_str()) == 0;
}

cell_t* query(const cell_t* file) {
    std::string path;
    struct stat st;
    if (os_path(file, &path) && ::stat(path.c_str(), &st) == 0) {
        bool names_dir = !path.empty() && path.back() == '/';
        if (!names_dir || S_ISDIR(st.st_mode)) {
            cell_t* d = push_date(st.st_mtim);
            if (d != nullptr) return d;
        }
    }
    cell_t* c = stack::push_slot();
    none::make_at(c);
    return c;
}

cell_t* read_file(const char* path, int64_t part, int64_t seek, bool binary, bool lines) {
    int32_t fd = open_file(path, MODE_READ);
    if (fd < 0) return nullptr;
    handle_guard guard(fd);
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) return nullptr;
    int64_t size = file_size_q(fd);
    if (size < 0) return nullptr;

    // The bytes of a value not built in place: text and lines are decoded
    // from here, and a file of unreported size is gathered here whole.
    std::unique_ptr<uint8_t, decltype(&std::free)> bytes(nullptr, &std::free);
    int64_t count = 0;
    int64_t offset = 0;  // where the value's bytes begin in `bytes`

    if (size == 0) {
        // No size known: read through to the end (a pipe cannot be read
        // twice), then apply seek and part to what came. With a part, no
        // more than seek + part bytes are needed: an endless source
        // (/dev/zero, /dev/urandom) is read only that far.
        int64_t want = -1;
        if (part >= 0 && part <= MAX_VALUE_BYTES && seek <= MAX_VALUE_BYTES)
            want = std::max<int64_t>(seek, 0) + part;
        int64_t capacity = 0;
        for (;;) {
            if (want >= 0 && count >= want) break;
            if (count == capacity) {
                if (capacity >= MAX_VALUE_BYTES) fire(err::no_memory);
                capacity = capacity == 0 ? CHUNK : std::min(capacity * 2, MAX_VALUE_BYTES);
                void* grown = std::realloc(bytes.get(), static_cast<size_t>(capacity));
                if (grown == nullptr) fire(err::no_memory);
                bytes.release();
                bytes.reset(static_cast<uint8_t*>(grown));
            }
            int64_t room = capacity - count;
            if (want >= 0) room = std::min(room, want - count);
            int64_t n = read_some(fd, bytes.get() + count, room);
            if (n < 0) return nullptr;
            if (n == 0) break;
            count += n;
        }
        if (seek > 0) {
            offset = std::min(seek, count);
            count -= offset;
        }
        if (part == 0) count = 0;
        if (part > 0 && part < count) count = part;
        if (count == 0) return push_empty(binary);
    } else {
        if (seek >= 0) {
            // A seek at or past the end leaves nothing to read.
            if (seek >= size) return push_empty(binary);
            if (!seek_file(fd, seek)) return nullptr;
            size -= seek;
        }
        if (part == 0) return push_empty(binary);
        if (part > 0 && part < size) size = part;
        if (size > MAX_VALUE_BYTES) fire(err::no_memory);
        if (binary) {
            // Straight into the value's own buffer: nothing allocates
            // between taking its address and the read.
            cell_t* c = stack::push_slot();
            cell::begin(c);
            binary::make_at(c, size);
            int64_t n = read_data(fd, binary::rs_head(c), size);
            if (n < 0) {
                stack::pop(1);
                return nullptr;
            }
            binary::buffer_of(c)->tail = binary::buffer_of(c)->head + static_cast<int32_t>(n);
            return c;
        }
        bytes.reset(static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size))));
        if (!bytes) fire(err::no_memory);
        count = read_data(fd, bytes.get(), size);
        if (count < 0) return nullptr;
        // A file that shrank meanwhile gives what was read, never more.
        if (count == 0) return push_empty(binary);
    }
    close_file(fd);
    guard.fd = -1;

    const uint8_t* p = bytes.get() + offset;
    if (binary) return binary::load(p, count);
    if (lines) return push_lines(p, count);
    return push_text(p, count, true, part < 0);
}

cell_t* push_content(const uint8_t* bytes, int64_t count, bool binary, bool lines) {
    if (count > MAX_VALUE_BYTES) fire(err::no_memory);
    if (count == 0) return lines ? push_lines(bytes, 0) : push_empty(binary);
    if (binary) return binary::load(bytes, count);
    if (lines) return push_lines(bytes, count);
    return push_text(bytes, count, true, true);
}

cell_t* read(const cell_t* file, const cell_t* part, const cell_t* seek, bool binary, bool lines) {
    if (dir_q(file)) return read_dir(file);
    int64_t p = number_arg(part);
    int64_t s = number_arg(seek);
    std::string path;
    cell_t* result = nullptr;
    if (os_path(file, &path)) result = read_file(path.c_str(), p, s, binary, lines);
    if (result == nullptr) fire_cannot_open(file);
    return result;
}

cell_t* read_dir(const cell_t* dir) {
    std::string path;
    if (!os_path(dir, &path)) fire_cannot_open(dir);
    std::vector<std::string> names;
    {
        DIR* d = ::opendir(path.empty() ? "." : path.c_str());
        if (d == nullptr) fire_cannot_open(dir);
        int fd = ::dirfd(d);
        // readdir tells its end from its failure by errno alone, which the
        // look at a link below may have set (a link to nothing is listed
        // too, as a file): it is cleared before each entry.
        dirent* e;
        while ((errno = 0, e = ::readdir(d)) != nullptr) {
            const char* name = e->d_name;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
            bool is_dir = e->d_type == DT_DIR;
            if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
                struct stat st;
                is_dir = ::fstatat(fd, name, &st, 0) == 0 && S_ISDIR(st.st_mode);
            }
            names.emplace_back(name);
            if (is_dir) names.back().push_back('/');
        }
        bool failed = errno != 0;
        ::closedir(d);
        if (failed) fire_cannot_open(dir);
    }
    std::sort(names.begin(), names.end());
    return push_files(names);
}

cell_t* push_files(const std::vector<std::string>& names) {
    cell_t* block = stack::push_slot();
    cell::begin(block);
    block::make_at(block, static_cast<int32_t>(names.size()));
    for (const std::string& name : names) {
        cell_t* f = string::load_in(reinterpret_cast<const uint8_t*>(name.data()),
                                    static_cast<int64_t>(name.size()), block, string::ENCODING_OS);
        cell::set_type(f, TYPE_file);
    }
    return block;
}

int64_t write(const cell_t* file, const cell_t* data, const cell_t* part, const cell_t* seek,
              bool binary, bool append, bool lines) {
    (void)binary;  // text and binary write the same bytes: line ends are LF here
    int64_t p = -1;
    if (part != nullptr) {
        if (type_of(part) != TYPE_integer) {
            cell_t r = part_refinement();
            cell_t v = *part;
            fire(err::invalid_refine_arg, &r, &v);
        }
        p = integer::get(part);
        if (p < 0) return -1;
    }
    int64_t s = number_arg(seek);

    cell_t value = *data;
    bool lines_block = lines && type_of(&value) == TYPE_block;
    bool newline_after = lines && !lines_block;

    int32_t fd = STDOUT_FILENO;
    std::string path;
    if (file != nullptr) {
        if (!os_path(file, &path)) fire_cannot_open(file);
        int32_t mode = MODE_WRITE | (append ? MODE_APPEND : 0) | (s >= 0 ? MODE_KEEP : 0);
        fd = open_file(path.c_str(), mode);
        if (fd < 0) fire_cannot_open(file);
    } else {
        // What print has gathered goes out first, keeping the order.
        platform::flush_console_output();
    }
    handle_guard guard(file != nullptr ? fd : -1);
    if (file != nullptr) {
        bool placed = true;
        if (s > 0) placed = seek_file(fd, s);
        // A pipe or terminal has no end to seek to: everything written to it
        // already follows what came before.
        if (placed && append) placed = ::lseek(fd, 0, SEEK_END) >= 0 || errno == ESPIPE;
        if (!placed) fire_cannot_open(file);
    }

    writer_t w;
    w.fd = fd;
    if (lines_block) {
        // Each value by index: molding allocates and may move the block.
        cell_t* held = stack::push(&value);
        int32_t head = block::head_index(held);
        for (int32_t i = head; i < block::abs_length(held) && !w.failed; i++) {
            put_value(w, block::rs_abs_at(held, i), -1);
            w.put(reinterpret_cast<const uint8_t*>("\n"), 1);
        }
        stack::pop(1);
    } else {
        put_value(w, &value, p);
        if (newline_after) w.put(reinterpret_cast<const uint8_t*>("\n"), 1);
    }
    w.flush();
    if (w.failed) {
        if (file != nullptr) fire_cannot_open(file);
        return -1;
    }
    if (file != nullptr) {
        guard.fd = -1;
        if (::close(fd) != 0 && errno != EINTR)
            fire_cannot_open(file);  // e.g. a full disk seen at close
    }
    return w.written;
}

int64_t size_q(const cell_t* file) {
    if (dir_q(file)) return -1;
    std::string path;
    if (!os_path(file, &path)) return -1;
    // Without O_NONBLOCK, opening a FIFO waits for a writer that may never
    // come; its size is known without one.
    int32_t fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    handle_guard guard(fd);
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) return -1;
    return file_size_q(fd);
}

// --- the library's routines --------------------------------------------------------------

void create_dir(const cell_t* path) {
    std::string p;
    if (!os_path(path, &p) || !make_dir(p.c_str())) {
        cell_t v = *path;
        fire(err::no_create, &v);
    }
}

bool exists_q(const cell_t* path) {
    std::string p;
    return os_path(path, &p) && !p.empty() && file_exists_q(p.c_str());
}

void write_stdout(const cell_t* data) {
    write(nullptr, data, nullptr, nullptr, false, false, false);
}

int64_t read_stdin(cell_t* buffer, int64_t buflen) {
    if (buflen <= 0) return 0;
    series_buffer_t* s = binary::buffer_of(buffer);
    int64_t at = static_cast<int64_t>(s->head) + buffer->data1;
    int64_t room = static_cast<int64_t>(s->size) - std::max<int64_t>(at, s->tail);
    int64_t n = std::min(buflen, room);
    if (n <= 0) return 0;
    // No allocation between taking the address and the read.
    int64_t got = read_some(STDIN_FILENO, s->data() + at, n);
    // The tail moves on by the count read; it never comes to lie past
    // bytes that were not read.
    if (got > 0) s->tail = static_cast<int32_t>(std::max<int64_t>(s->tail, at + got));
    return got;
}

namespace routines {

void create_dir() {
    simple_io::create_dir(stack::arguments);
    stack::set_last(&unset_value);
}

void exists_q() {
    bool yes = simple_io::exists_q(stack::arguments);
    logic::make_at(stack::arguments, yes);
}

void write_stdout() {
    simple_io::write_stdout(stack::arguments);
    stack::set_last(&unset_value);
}

void read_stdin() {
    cell_t* buffer = stack::arguments;
    if (type_of(buffer) != TYPE_binary) fire(err::invalid_arg, buffer);
    cell_t* length = stack::arguments + 1;
    if (type_of(length) != TYPE_integer) fire(err::invalid_arg, length);
    simple_io::read_stdin(buffer, integer::get(length));
    stack::set_last(&unset_value);
}

}  // namespace routines

}  // namespace zuv::simple_io
