// simple-io: files and folders on POSIX.
//
// Every operation opens, works and closes: no file stays open between calls,
// on success or failure. Paths are the UTF-8 text of file::to_os_path; local
// and language file names are the same text on POSIX.
//
// Reads never build a value from bytes that were not read: the value is made
// from the bytes that actually arrived (a file that shrank while being read,
// a seek past the end). Writes retry short writes (pipes, signals) until all
// bytes are out or the system reports an error.
//
// Text: reading decodes UTF-8, skips a leading byte-order mark and folds
// CR LF (and a lone CR) to LF; writing text writes LF as LF (line ends on
// this platform are LF). Lines mode splits on LF only and drops one CR
// before each LF; a file that ends with LF has no empty last line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/cell.h"

namespace zuv::simple_io {

// Open modes (bit flags).
constexpr int32_t MODE_READ = 1;
constexpr int32_t MODE_WRITE = 2;
constexpr int32_t MODE_APPEND = 4;
constexpr int32_t MODE_KEEP = 8;  // keep an existing file's content (a seek position was given)

// Size of the chunks a file of unreported size is read in.
constexpr int64_t CHUNK = 65536;

// --- low level (handles are file descriptors; -1 means failure) -------------------
int32_t open_file(const char* path, int32_t mode);
// -1 on failure.
int64_t file_size_q(int32_t handle);
bool seek_file(int32_t handle, int64_t offset);
// Reads up to count bytes, going on after short reads until count bytes came
// or the end of the input; the bytes read, -1 on failure (bytes already read
// are then lost to the caller only if none came).
int64_t read_data(int32_t handle, uint8_t* buffer, int64_t count);
// One read of up to count bytes (a pipe or terminal gives what it has): the
// bytes read, 0 at the end, -1 on failure.
int64_t read_some(int32_t handle, uint8_t* buffer, int64_t count);
// Writes all count bytes (retrying short writes); count, or -1 on failure.
int64_t write_data(int32_t handle, const uint8_t* buffer, int64_t count);
void close_file(int32_t handle);
// One folder level; false on failure.
bool make_dir(const char* path);
// True when anything (file, folder, ...) exists there.
bool file_exists_q(const char* path);

// --- value level -------------------------------------------------------------------
// Whether the text of a file! names a folder: a/, ., .., a/., a/.. are;
// the empty path, a., a..b, x.. are not.
bool dir_q(const cell_t* file);

// Removes a folder (when dir_q) or deletes a file; success.
bool delete_(const cell_t* file);
// Renames; never replaces an existing file or folder at the new name.
bool rename(const cell_t* from, const cell_t* to);
// Pushes the last-write time (date!, UTC, with nanoseconds) or none (missing
// path, or a path ending in "/" that is not a folder). Returns the pushed cell.
cell_t* query(const cell_t* file);

// Pushes the file's content: binary!, a block of strings (lines), or string!.
// part and seek: -1 when not given. Returns nullptr (nothing pushed) when
// the file cannot be opened, sized or read. A seek at or past the end gives
// the empty value.
cell_t* read_file(const char* path, int64_t part, int64_t seek, bool binary, bool lines);
// Pushes the value a file of these bytes reads as (binary!, lines or
// string!, as read_file builds it). The bytes must not lie in a series
// buffer.
cell_t* push_content(const uint8_t* bytes, int64_t count, bool binary, bool lines);
// The front of the read action: a folder is listed; otherwise read_file on
// the path; failure raises access cannot-open with the file. part and seek
// may be nullptr; a number that is not an integer! is truncated, a negative
// part counts as none given. Returns the pushed value.
cell_t* read(const cell_t* file, const cell_t* part, const cell_t* seek, bool binary, bool lines);
// Pushes a block of file! values, folder names ending in "/", in name order
// (byte order of the UTF-8 names), "." and ".." left out. Raises cannot-open
// when the folder cannot be listed.
cell_t* read_dir(const cell_t* dir);
// Pushes a new block of file! values, one per UTF-8 name, in order.
cell_t* push_files(const std::vector<std::string>& names);

// The front of the write action and of write-stdout (file nullptr: standard
// output, not closed). part must be an integer! (else invalid-refine-arg);
// a negative part writes nothing and returns -1. Returns the byte count of
// the last write; raises cannot-open when the file cannot be opened or
// written.
int64_t write(const cell_t* file, const cell_t* data, const cell_t* part, const cell_t* seek,
              bool binary, bool append, bool lines);

// The file's size, -1 when it cannot be opened or sized, or names a folder.
int64_t size_q(const cell_t* file);

// --- the library's routines (entries read stack::arguments, leave the result there) ----
// create-dir path: one level; access no-create with the path on failure.
void create_dir(const cell_t* path);
// exists? path
bool exists_q(const cell_t* path);
// write-stdout data: as write with no file and every option off.
void write_stdout(const cell_t* data);
// read-stdin buffer buflen: reads up to buflen bytes into the binary at its
// head, never past the buffer's capacity; moves the tail on by the count
// read; returns the count (0 at the end of input, -1 on failure).
int64_t read_stdin(cell_t* buffer, int64_t buflen);

namespace routines {
void create_dir();  // path [file!]
void exists_q();  // path [file!] -> logic!
void write_stdout();  // data
void read_stdin();  // buffer [binary!] buflen [integer!]
}  // namespace routines

}  // namespace zuv::simple_io
