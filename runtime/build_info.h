// When this executable was built.
#pragma once

namespace zuv::build {

// The build date and time in the language's date literal form, such as
// "29-Nov-2026/21:49:50".
const char* date_text();

// The commit record of the checkout the build came from, as a Zuv block
// ("[commit: ... date: ... branch: ... tag: ... ahead: ...]"), or "none"
// when it was built outside git.
const char* git_text();

}  // namespace zuv::build
