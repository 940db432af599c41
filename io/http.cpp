// HTTP requests over libcurl.
#include "io/http.h"

#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/url.h"
#include "datatypes/word.h"
#include "io/simple_io.h"
#include "runtime/collector.h"
#include "runtime/fire.h"
#include "runtime/platform/dynamic_library.h"
#include "runtime/platform/platform.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace zuv::simple_io {

namespace {

// libcurl, and the two dozen libraries it brings (TLS, Kerberos, LDAP, SSH),
// are loaded at the first request rather than linked: loading them cost every
// start-up about 4 ms, which most scripts never use.
// clang-format off
#define ZUV_CURL_FUNCTIONS(X)                                                                       \
    X(curl_global_init) X(curl_easy_init) X(curl_easy_setopt) X(curl_easy_perform)                  \
    X(curl_easy_getinfo) X(curl_easy_cleanup) X(curl_slist_append) X(curl_slist_free_all) \
    X(curl_easy_strerror)
// clang-format on

struct curl_api {
    ZUV_CURL_FUNCTIONS(ZUV_LIBRARY_SLOT)

    static constexpr const char* SONAME = "libcurl.so.4";
    bool bind(void* library) {
        if (!(true ZUV_CURL_FUNCTIONS(ZUV_LIBRARY_BIND))) return false;
        return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    }
};

// The loaded library, nullptr when it cannot be had (then no request can go).
const curl_api* curl_lib() { return platform::load_library<curl_api>(); }

constexpr long MAX_REDIRECTS = 10;
constexpr long CONNECT_TIMEOUT_S = 60;
constexpr long STALL_TIMEOUT_S = 30;
// Larger than libcurl's 16 KB default: a big body arrives in fewer calls.
constexpr long RECEIVE_BUFFER = 512 * 1024;
// A body is one value: a series stays below 2^31 bytes.
constexpr size_t MAX_BODY = 0x7FFFFFF0;

// Sent when no header block is given, in this order.
const char* const default_headers[] = {
    "Content-Type: application/x-www-form-urlencoded",
    "Accept-Charset: UTF-8",
    "User-Agent: Mozilla/5.0 (X11; Linux x86_64)",
};

// Hosts that never go through a proxy, whatever the environment says.
constexpr const char* LOOPBACK_HOSTS = "localhost,127.0.0.1,::1";

// The UTF-8 text of a value: a word's name, a string's characters, any
// other value's form. The value is copied first: forming allocates.
std::string text_of(const cell_t* value_at) {
    cell_t value = *value_at;
    uint8_t t = type_of(&value);
    if (t == TYPE_word || t == TYPE_set_word || t == TYPE_lit_word || t == TYPE_get_word)
        return symbol::get_utf8(word::symbol_of(&value));
    if (t == TYPE_string) return unicode::to_utf8(&value);
    cell_t* held = stack::push(&value);
    cell_t* out = stack::push_slot();
    cell::begin(out);
    string::make_at(out, 64);
    actions::form(held, out, false, -1);
    std::string text = unicode::to_utf8(out);
    stack::pop(2);
    return text;
}

// A header name or method must be an HTTP token: anything else would be
// read by the server as another name, or end the line.
bool token_q(const std::string& text) {
    if (text.empty()) return false;
    for (unsigned char c : text) {
        bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (!alnum && std::strchr("!#$%&'*+-.^_`|~", c) == nullptr) return false;
    }
    return true;
}

// A CR or LF in a value would start another header line (or end the
// headers), and a NUL would cut the value: such a value is refused.
bool field_value_q(const std::string& text) {
    return text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

[[noreturn]] void fire_invalid(const cell_t* value) {
    cell_t v = *value;
    fire(err::invalid_arg, &v);
}

// The header lines of a header block, each name and value checked before
// anything is sent. curl reads "Name:" as "remove the header" and "Name;"
// as "send it empty".
std::vector<std::string> header_lines(const cell_t* headers_at) {
    cell_t headers = *headers_at;
    collector::root_cell keep(&headers);
    std::vector<std::string> lines;
    int32_t head = block::head_index(&headers);
    for (int32_t i = head; i + 1 < block::abs_length(&headers); i += 2) {
        cell_t name = *block::rs_abs_at(&headers, i);
        cell_t value = *block::rs_abs_at(&headers, i + 1);
        collector::root_cell keep_name(&name);
        collector::root_cell keep_value(&value);
        std::string line = text_of(&name);
        if (!token_q(line)) fire_invalid(&name);
        std::string text =
            type_of(&value) == TYPE_string ? unicode::to_utf8(&value) : text_of(&value);
        if (!field_value_q(text)) fire_invalid(&value);
        line += text.empty() ? ";" : ": " + text;
        lines.push_back(std::move(line));
    }
    return lines;
}

// The URL as libcurl takes it. The URL's text is kept decoded, so it goes
// out percent-encoded again, except the brackets of an IP literal host,
// which are the authority's syntax, not data.
std::string request_target(const cell_t* url) {
    std::string text = unicode::to_utf8(url);
    size_t authority = text.find("://");
    authority = authority == std::string::npos ? text.size() : authority + 3;
    size_t authority_end = std::min(text.find_first_of("/?#", authority), text.size());
    std::string target;
    for (size_t i = 0; i < text.size(); i++) {
        auto b = static_cast<unsigned char>(text[i]);
        if (i >= authority && i < authority_end && (b == '[' || b == ']')) {
            target += static_cast<char>(b);
            continue;
        }
        url::encoded_byte e = url::encode_byte(url::MODE_SAFE, b);
        target.append(e.text, static_cast<size_t>(e.length));
    }
    return target;
}

// Pushes a string! of bytes from the wire: UTF-8 when they are sound UTF-8,
// else Latin-1, each byte one character (HTTP's obs-text): a header is
// never refused, and never loses a byte, for its encoding.
cell_t* push_wire_text(const char* bytes, size_t length) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes);
    if (unicode::valid_utf8_q(p, p + length))
        return string::load(p, static_cast<int64_t>(length), string::ENCODING_UTF8);
    std::string utf8;
    utf8.reserve(length * 2);
    for (size_t i = 0; i < length; i++) {
        uint8_t out[4];
        int n = unicode::cp_to_utf8(p[i], out);
        utf8.append(reinterpret_cast<const char*>(out), static_cast<size_t>(n));
    }
    return string::load(reinterpret_cast<const uint8_t*>(utf8.data()),
                        static_cast<int64_t>(utf8.size()), string::ENCODING_UTF8);
}

// Raises no-connect with the URL and the transfer library's reason.
[[noreturn]] void fire_no_connect(const cell_t* url, const std::string& reason) {
    cell_t u = *url;
    collector::root_cell keep(&u);
    cell_t* why = push_wire_text(reason.data(), reason.size());
    fire(err::no_connect, &u, why);
}

// What the transfer callbacks gather. A binary body of announced length is
// received straight into its binary! value (direct: a cell on the argument
// stack); anything else into body, from which the value is built after.
struct response_t {
    std::string headers;
    std::vector<uint8_t> body;
    cell_t* direct = nullptr;  // nullptr unless binary mode
    int64_t capacity = 0;  // of the direct value; 0 while it is none
    int64_t filled = 0;
    bool too_large = false;
    bool no_memory = false;

    // The direct value's bytes go to body: the body outgrew it.
    void spill() {
        if (capacity == 0) return;
        const uint8_t* head = binary::rs_head(direct);
        body.insert(body.end(), head, head + filled);
        none::make_at(direct);
        capacity = filled = 0;
    }
};

size_t on_body(char* data, size_t size, size_t count, void* user) {
    auto* r = static_cast<response_t*>(user);
    size_t n = size * count;
    if (r->capacity > 0 && r->filled + static_cast<int64_t>(n) <= r->capacity) {
        // Nothing allocates between taking the address and the copy.
        std::memcpy(binary::rs_head(r->direct) + r->filled, data, n);
        r->filled += static_cast<int64_t>(n);
        return n;
    }
    r->spill();
    if (r->body.size() + n > MAX_BODY) {
        r->too_large = true;
        return 0;  // aborts the transfer
    }
    r->body.insert(r->body.end(), data, data + n);
    return n;
}

// Makes the direct value for an announced length. Nothing may be thrown
// through libcurl: a failure is noted and aborts the transfer.
bool make_direct(response_t* r, int64_t length) {
    try {
        binary::make_at(r->direct, length);
    } catch (...) {
        none::make_at(r->direct);
        r->no_memory = true;
        return false;
    }
    r->capacity = length;
    r->filled = 0;
    return true;
}

// Each header line as it arrives. A status line starts a new response (a
// redirect's, or an interim 1xx): what came before belongs to another one.
size_t on_header(char* data, size_t size, size_t count, void* user) {
    auto* r = static_cast<response_t*>(user);
    size_t n = size * count;
    if (n >= 5 && std::memcmp(data, "HTTP/", 5) == 0) {
        r->headers.clear();
        r->body.clear();
        if (r->direct) none::make_at(r->direct);
        r->capacity = r->filled = 0;
        return n;
    }
    r->headers.append(data, n);
    // The announced length: the body is made once at its size.
    static constexpr char LENGTH[] = "content-length:";
    if (n > sizeof LENGTH && strncasecmp(data, LENGTH, sizeof LENGTH - 1) == 0) {
        unsigned long long length = std::strtoull(
            std::string(data + sizeof LENGTH - 1, n - (sizeof LENGTH - 1)).c_str(), nullptr, 10);
        if (length > 0 && length <= MAX_BODY) {
            if (r->direct == nullptr) {
                r->body.reserve(static_cast<size_t>(length));
            } else if (r->capacity == 0 && r->body.empty() &&
                       !make_direct(r, static_cast<int64_t>(length))) {
                return 0;
            }
        }
    }
    return n;
}

struct easy_deleter {
    void operator()(CURL* c) const { curl_lib()->curl_easy_cleanup(c); }
};
struct slist_deleter {
    void operator()(curl_slist* l) const { curl_lib()->curl_slist_free_all(l); }
};

// The environment's no-proxy list with the loopback hosts added.
std::string no_proxy_list() {
    const char* env = platform::get_env("no_proxy");
    if (env == nullptr || *env == '\0') env = platform::get_env("NO_PROXY");
    std::string list = env != nullptr ? env : "";
    if (list == "*") return list;
    if (!list.empty()) list += ',';
    return list + LOOPBACK_HOSTS;
}

// Appends value to the map's entry under key: a first value is put as it
// is; a second turns the entry into a block of both; later ones append.
void add_header(cell_t* map, cell_t* key, cell_t* value) {
    cell_t* found = map::find_value(map, key, actions::cmp::EQUAL);
    if (found == nullptr) {
        map::put_value(map, key, value, false);
        return;
    }
    if (type_of(found) == TYPE_block) {
        cell_t values = *found;
        block::rs_append(&values, value);
        return;
    }
    cell_t old = *found;
    cell_t* values = stack::push_slot();
    cell::begin(values);
    block::make_at(values, 4);
    block::rs_append(values, &old);
    block::rs_append(values, value);
    map::put_value(map, key, values, false);
    stack::pop(1);
}

}  // namespace

void parse_headers(const char* text, size_t length, cell_t* map) {
    const char* end = text + length;
    const char* line = text;
    while (line < end) {
        const char* stop =
            static_cast<const char*>(std::memchr(line, '\n', static_cast<size_t>(end - line)));
        if (stop == nullptr) stop = end;
        const char* line_end = stop;
        if (line_end > line && line_end[-1] == '\r') line_end--;
        const char* colon =
            static_cast<const char*>(std::memchr(line, ':', static_cast<size_t>(line_end - line)));
        if (colon != nullptr && colon > line) {
            const char* value = colon + 1;
            while (value < line_end && (*value == ' ' || *value == '\t')) value++;
            // A name that is not UTF-8 is taken as Latin-1, as a value is.
            cell_t* name = push_wire_text(line, static_cast<size_t>(colon - line));
            std::string name_text = unicode::to_utf8(name);
            cell_t* key = name;
            word::make_at(
                symbol::make_alt(name_text.data(), static_cast<int32_t>(name_text.size())), key);
            push_wire_text(value, static_cast<size_t>(line_end - value));
            add_header(map, key, key + 1);
            stack::pop(2);
        }
        line = stop + 1;
    }
}

cell_t* request_http(const cell_t* method, const cell_t* url, const cell_t* headers,
                     const cell_t* data, bool binary, bool lines, bool info) {
    // Everything the request needs is C++ text before libcurl runs: the
    // transfer calls back into nothing that allocates values.
    std::string verb = text_of(method);
    for (char& c : verb)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (!token_q(verb)) fire_invalid(method);
    std::string target = request_target(url);
    bool bodiless = verb == "GET" || verb == "HEAD";
    bool has_body = !bodiless && data != nullptr && type_of(data) != TYPE_none;
    std::string body;
    if (has_body) {
        if (type_of(data) == TYPE_binary) {
            cell_t b = *data;
            body.assign(reinterpret_cast<const char*>(binary::rs_head(&b)),
                        static_cast<size_t>(binary::rs_length_q(&b)));
        } else {
            body = text_of(data);
        }
    }
    std::vector<std::string> lines_out;
    if (headers != nullptr && type_of(headers) == TYPE_block) {
        lines_out = header_lines(headers);
    } else {
        lines_out.assign(std::begin(default_headers), std::end(default_headers));
    }
    // libcurl's own Content-Type and Expect are not sent: the server sees
    // the headers given (or the defaults) and what the transport needs.
    bool own_type = false;
    for (const std::string& l : lines_out)
        if (strncasecmp(l.c_str(), "content-type", 12) == 0 && (l[12] == ':' || l[12] == ';'))
            own_type = true;
    if (!own_type) lines_out.emplace_back("Content-Type:");
    lines_out.emplace_back("Expect:");
    std::string no_proxy = no_proxy_list();

    const curl_api* lib = curl_lib();
    if (lib == nullptr) fire_no_connect(url, "libcurl.so.4 cannot be loaded");
    std::unique_ptr<CURL, easy_deleter> curl(lib->curl_easy_init());
    if (!curl) fire(err::no_memory);
    std::unique_ptr<curl_slist, slist_deleter> list;
    for (const std::string& l : lines_out) {
        curl_slist* grown = lib->curl_slist_append(list.get(), l.c_str());
        if (grown == nullptr) fire(err::no_memory);
        list.release();
        list.reset(grown);
    }
    response_t response;
    // The body's value, when it is received in place.
    cell_t* held = stack::push_slot();
    none::make_at(held);
    if (binary && !lines && verb != "HEAD") response.direct = held;
    CURL* c = curl.get();
    // libcurl's own words for a failure, more telling than its code's name.
    char reason[CURL_ERROR_SIZE] = "";
    lib->curl_easy_setopt(c, CURLOPT_ERRORBUFFER, reason);
    lib->curl_easy_setopt(c, CURLOPT_URL, target.c_str());
    lib->curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    // Only HTTP, also where a redirect leads: a server must not make a
    // read open a local file.
    lib->curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    lib->curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    lib->curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    lib->curl_easy_setopt(c, CURLOPT_MAXREDIRS, MAX_REDIRECTS);
    lib->curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, CONNECT_TIMEOUT_S);
    lib->curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    lib->curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, STALL_TIMEOUT_S);
    lib->curl_easy_setopt(c, CURLOPT_NOPROXY, no_proxy.c_str());
    lib->curl_easy_setopt(c, CURLOPT_BUFFERSIZE, RECEIVE_BUFFER);
    lib->curl_easy_setopt(c, CURLOPT_HTTPHEADER, list.get());
    lib->curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, on_body);
    lib->curl_easy_setopt(c, CURLOPT_WRITEDATA, &response);
    lib->curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, on_header);
    lib->curl_easy_setopt(c, CURLOPT_HEADERDATA, &response);
    if (verb == "GET") {
        lib->curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    } else if (verb == "HEAD") {
        lib->curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
    } else {
        if (has_body || verb == "POST") {
            lib->curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE,
                                  static_cast<curl_off_t>(body.size()));
            lib->curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
        }
        if (verb != "POST") lib->curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, verb.c_str());
    }
    CURLcode code = lib->curl_easy_perform(c);
    if (response.too_large || response.no_memory) fire(err::no_memory);
    if (code != CURLE_OK) {
        curl.reset();
        list.reset();
        stack::pop(1);
        fire_no_connect(url, *reason != '\0' ? reason : lib->curl_easy_strerror(code));
    }
    long status = 0;
    lib->curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    curl.reset();
    list.reset();

    // The body's value in held: the direct value cut to what came (a body
    // shorter than announced), or one built from the gathered bytes.
    if (response.capacity > 0) {
        series_buffer_t* b = binary::buffer_of(held);
        b->tail = b->head + static_cast<int32_t>(response.filled);
    } else {
        push_content(response.body.data(), static_cast<int64_t>(response.body.size()), binary,
                     lines);
        *held = *(stack::top_slot - 1);
        stack::pop(1);
        std::vector<uint8_t>().swap(response.body);
    }
    if (!info) return held;
    cell_t* result = stack::push_slot();
    cell::begin(result);
    block::make_at(result, 3);
    integer::make_in(result, static_cast<int32_t>(status));
    cell_t* map = stack::push_slot();
    cell::begin(map);
    map::make_at(map, nullptr, 20);
    parse_headers(response.headers.data(), response.headers.size(), map);
    block::rs_append(result, map);
    block::rs_append(result, held);
    cell_t made = *result;
    stack::pop(3);
    *held = made;
    return held;
}

}  // namespace zuv::simple_io
