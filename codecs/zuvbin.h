// Zuvbin: values to streams and back (the stream is described in
// codecs/zuvbin_format.h).
//
// The encoder writes one value (or, for the boot image, several root values)
// into a stream of either layout. The decoder appends the root values of a
// stream to a target block, in one of two modes: codec mode (what scripts
// decode: bound words carry their owners) and boot mode (the library image:
// definitions and root-position binding allowed).
//
// Record faults raise rb-invalid-record with the 1-based byte position of
// the fault; values that have no stream form raise no-codec.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/cell.h"

namespace zuv::zuvbin {

// 1 while the codec (encoder, or a decode for a script) runs, 0 in boot mode.
extern int32_t codec_q;

// --- encoding ----------------------------------------------------------------
// The stream of count root values: plain or compact layout, the given
// version byte. Raises no-codec for values without a stream form.
std::vector<uint8_t> encode_values(const cell_t* values, int32_t count, bool compact,
                                   uint8_t version);
// encode and encode-cp: a new binary! holding the stream of value, written
// into out (out must be a rooted cell).
void encode(const cell_t* value, cell_t* out);
void encode_cp(const cell_t* value, cell_t* out);

// --- decoding ----------------------------------------------------------------
// Appends the root values of the stream to the block target (a rooted
// cell). length -1: unknown (no end checks; only for trusted data).
// `argument` is the value that invalid-data names (nullptr: the data as a
// binary!). Returns the index in target of the first value added.
int32_t decode(const uint8_t* data, int64_t length, cell_t* target, bool codec_mode,
               const cell_t* argument = nullptr);

// The runtime's own native! and action! values by number (nullptr for a
// number without one), which codec mode gives scripts in place of a decoded
// native or action. The natives and the library's tables sit above the
// codecs, so start-up installs these.
extern const cell_t* (*native_value)(int32_t number);
extern const cell_t* (*action_value)(int32_t number);

// The boot load: the image decoded in boot mode into the root block with the
// collector held off. Returns the root index of the first value added; the
// root cell pointer (first_root) is set to it unless keep is set. A stream
// that is no Zuvbin or whose compressed frame is bad prints the message on
// standard output and ends the process through lowrt::quit with status 99;
// a record fault prints the error and ends the same way.
int32_t boot_load(const uint8_t* data, int64_t length, bool keep);
extern int32_t first_root;

// The routines of system/codecs/zuvbin (arguments on the stack).
void encode_star_routine();
void decode_routine();

}  // namespace zuv::zuvbin
