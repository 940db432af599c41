#include "runtime/build_info.h"

#include <cstdio>
#include <cstring>

#include "git_info.h"

namespace zuv::build {

const char* date_text() {
    static char text[24];
    if (text[0] == 0) {
        // __DATE__ is "Mmm dd yyyy" with a space-padded day.
        const char* date = __DATE__;
        int day = 0, year = 0;
        std::sscanf(date + 4, "%d %d", &day, &year);
        std::snprintf(text, sizeof text, "%d-%.3s-%d/%s", day, date, year, __TIME__);
    }
    return text;
}

const char* git_text() { return ZUV_GIT_INFO; }

}  // namespace zuv::build
