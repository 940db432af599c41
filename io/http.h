// HTTP requests over libcurl: the whole of the program's HTTP support. The
// url! actions read and write call request_http for URLs that begin with
// "http" (so also "https").
//
// One synchronous request per call; nothing persists between calls. Choices
// left to the transport: redirects are followed (at most 10), certificates
// are verified against the system store, connecting gives up after 60 s and
// a transfer that moves no byte for 30 s is aborted; proxies come from the
// environment, never for the loopback host.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace zuv::simple_io {

// Performs one request and pushes the result: the body (binary!, a block of
// lines or string!, as a file's content is read), or with info a block of
// the status integer!, the response headers map! and the body. Returns the
// pushed cell. When the request cannot be made or answered, raises
// no-connect with the URL and the transfer library's reason.
//
// method: a word; its name in upper case is the method text. headers: a
// block of name/value pairs, or nullptr for the three default headers. data:
// the body (a binary!'s bytes from its head, any other value's form as
// UTF-8), or nullptr; GET and HEAD never send one. A method or header name
// that is not an HTTP token, or a header value holding a CR, LF or NUL,
// raises invalid-arg with it before anything is sent.
cell_t* request_http(const cell_t* method, const cell_t* url, const cell_t* headers,
                     const cell_t* data, bool binary, bool lines, bool info);

// Fills map (a map!) from a response's header lines: each "name: value"
// line puts the value, a string!, under the word of the name; a name met
// again gets a block of its values in order of arrival. The value starts
// after the colon and any blanks and runs to the end of the line. Text that
// is not UTF-8 is taken as Latin-1.
void parse_headers(const char* text, size_t length, cell_t* map);

}  // namespace zuv::simple_io
