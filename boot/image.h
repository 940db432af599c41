// The boot image: the library sources lexed at build time and stored as one
// compact Zuvbin stream (tools/boot_image.cpp makes it), one root block per
// source in file-name order. The generated file that holds it registers it
// here before main runs; a build without it (the source boot, unit tests,
// the build tools themselves) leaves the data null and the top level lexes
// the sources instead.
#pragma once

namespace zuv::boot {

struct image_t {
    const unsigned char* data;
    unsigned long size;
    const char* const* names;  // the source file names, one per root block
    unsigned long count;
};

extern image_t image;

// Made by a static object of the generated file.
struct image_registration {
    image_registration(const unsigned char* data, unsigned long size, const char* const* names,
                       unsigned long count) {
        image = image_t{data, size, names, count};
    }
};

}  // namespace zuv::boot
