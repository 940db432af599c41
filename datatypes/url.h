// url!: a string naming a resource. Its text is kept decoded; molding
// percent-encodes it. Also the percent encoding and decoding that enhex,
// dehex and the lexer share.
#pragma once

#include <cstdint>

#include "datatypes/action_types.h"
#include "runtime/cell.h"

namespace zuv::url {

// The HTTP request the actions read and write run for http and https URLs.
// The I/O layer (io/http.h), which sits above the datatypes, installs it at
// start-up.
using request_http_t = cell_t* (*)(const cell_t* method, const cell_t* url, const cell_t* headers,
                                   const cell_t* data, bool binary, bool lines, bool info);
extern request_http_t request_http;

// Modes of encode and encode_byte: which bytes stay as they are.
constexpr int MODE_UNRESERVED = 254;  // - . 0-9 A-Z _ a-z ~
constexpr int MODE_SAFE = 255;  // the unreserved ones and ! # $ & ' ( ) * + , / : = ? @

// Whether the ASCII code c stays unencoded under the mode.
bool keeps_q(int mode, uint8_t c);
// The hexadecimal digit's value, 255 for any other code.
uint8_t hex_digit(uint32_t c);

// True, with the byte, when p (not beyond end) holds "%" and two hex digits.
bool hex_byte_q(const uint8_t* p, const uint8_t* end, uint8_t* out);

// The byte itself (length 1) or "%" and two upper-case digits (length 3).
struct encoded_byte {
    char text[4];
    int length;
};
encoded_byte encode_byte(int mode, uint8_t byte);

// Appends the string's characters (from its head) as percent-encoded UTF-8
// to target (a string).
void encode(const cell_t* string, cell_t* target, int mode);
// Appends the percent-decoded text of string (from its head) to target;
// raises invalid-utf8 for an escaped sequence that is not valid UTF-8.
void decode(const cell_t* string, cell_t* target);
// The same over raw UTF-8 bytes.
void decode_bytes(const uint8_t* p, const uint8_t* end, cell_t* target);

// --- action entries ------------------------------------------------------------
cell_t* make(cell_t* proto, cell_t* spec, int32_t type);
cell_t* to(cell_t* proto, cell_t* spec, int32_t type);
int32_t mold(cell_t* value, cell_t* buffer, mold_options_t how);
// Path access of url! and file!: joins the element's form with one slash.
cell_t* eval_path(cell_t* parent, cell_t* element, cell_t* value, cell_t* path, cell_t* gparent,
                  cell_t* p_item, int32_t index, bool case_, bool get, bool tail, bool evt);
cell_t* open(cell_t* port, bool new_, bool read, bool write, bool seek, cell_t* allow);
cell_t* read(cell_t* source, cell_t* part, cell_t* seek, bool binary, bool lines, bool info,
             cell_t* as);
cell_t* write(cell_t* destination, cell_t* data, bool binary, bool lines, bool info, bool append_,
              cell_t* part, cell_t* seek, cell_t* allow, cell_t* as);

// Registers url! (id 9, parent string!).
void init();

}  // namespace zuv::url
