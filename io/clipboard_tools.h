// The desktop's clipboard through its command-line tools: wl-copy and
// wl-paste under Wayland, xclip under X, chosen at each call from the
// environment and PATH.
//
// The tools run from an argument vector (no shell), with the data on a
// pipe. A writer's output and error go to the null device, and only the
// writer itself is waited for: xclip leaves a server behind that keeps what
// it inherited open. A reader's output is drained under a time limit; a
// tool that fails, or outlives the limit (it is killed then), gives false.
#pragma once

#include <string>
#include <vector>

namespace zuv::clipboard::tools {

enum class bridge_t { NONE, WAYLAND, XCLIP };

// WAYLAND when WAYLAND_DISPLAY is set and wl-copy and wl-paste are on PATH;
// else XCLIP when DISPLAY is set and xclip is on PATH; else NONE.
bridge_t chosen();

// The desktop's name of a type: xclip calls UTF-8 text UTF8_STRING.
std::string type_name(bridge_t bridge, const std::string& mime);

// What an emptied clipboard holds under xclip, which cannot give the
// selection up: nothing, under this type.
constexpr const char* EMPTY_TYPE = "application/x-zuv-empty";

// Places bytes under a type; an empty type empties the clipboard.
bool put(bridge_t bridge, const std::string& type, const std::string& bytes);
// The types the clipboard offers, one a line (none when it holds nothing,
// also when it has no owner at all).
bool offered(bridge_t bridge, std::vector<std::string>* types);
// The clipboard's bytes of a type.
bool fetch(bridge_t bridge, const std::string& type, std::string* bytes);

}  // namespace zuv::clipboard::tools
