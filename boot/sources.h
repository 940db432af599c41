// Library sources written in Zuv itself, compiled into the binary so that the
// runtime starts without reading any file. The table is generated at build
// time from boot/*.zuv, in the load order that boot/load-order.txt declares.
#pragma once

namespace zuv::boot {

struct source_t {
    const char* name;  // file name without folder, e.g. "base.zuv"
    const char* text;  // file bytes, NUL-terminated for convenience
    unsigned long size;  // byte count, not counting the terminating NUL
};

// sources[source_count] is a sentinel whose members are all null/zero.
extern const source_t sources[];
extern const unsigned long source_count;
// The first source loaded after event! is registered (the "event!" line of
// boot/load-order.txt); source_count when none is.
extern const unsigned long event_index;

}  // namespace zuv::boot
