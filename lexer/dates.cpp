// Date literals: the general form (1-Jan-2000, 2000-01-01, 1/1/2000 with an
// optional time and zone), the compact ISO form (20000101T120000Z), ISO
// weeks (2000-W01-1) and ordinal days (2000-032).
#include <cctype>
#include <cstring>
#include <string>

#include "lexer/loaders.h"

namespace zuv::lexer {
namespace {

const char* const month_names[12] = {"january",   "february", "march",    "april",
                                     "may",       "june",     "july",     "august",
                                     "september", "october",  "november", "december"};

bool leap_q(int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int32_t month_length(int32_t y, int32_t m) {
    static const int32_t days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap_q(y) ? 29 : days[m - 1];
}

int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Days from 1 March of year 0.
int64_t day_number(int64_t y, int64_t m, int64_t d) {
    if (m < 3) y -= 1, m += 12;
    return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400) +
           (153 * (m - 3) + 2) / 5 + d - 1;
}

void from_day_number(int64_t n, int32_t* y, int32_t* m, int32_t* d) {
    int64_t year = floor_div(10000 * n + 14780, 3652425);
    int64_t ddd =
        n - (365 * year + floor_div(year, 4) - floor_div(year, 100) + floor_div(year, 400));
    if (ddd < 0) {
        --year;
        ddd = n - (365 * year + floor_div(year, 4) - floor_div(year, 100) + floor_div(year, 400));
    }
    int64_t mi = (100 * ddd + 52) / 3060;
    *m = static_cast<int32_t>((mi + 2) % 12 + 1);
    *y = static_cast<int32_t>(year + (mi + 2) / 12);
    *d = static_cast<int32_t>(ddd - (mi * 306 + 5) / 10 + 1);
}

// Digits to a number, saturating: a long run of digits is out of every range
// the callers accept, never an exception.
int32_t to_int(const std::string& digits) {
    int64_t v = 0;
    for (char c : digits) {
        v = v * 10 + (c - '0');
        if (v > 99999999) return 99999999;
    }
    return static_cast<int32_t>(v);
}

int32_t weekday(int64_t n) { return static_cast<int32_t>(((n + 2) % 7 + 7) % 7); }  // 0 = Monday

struct reader_t {
    const std::string& t;
    size_t i = 0;
    bool at_end() const { return i >= t.size(); }
    char peek() const { return at_end() ? '\0' : t[i]; }
    // Up to max digits (at least one); -1 when none.
    int64_t number(int32_t max, int32_t* count = nullptr) {
        int64_t v = 0;
        int32_t n = 0;
        while (!at_end() && std::isdigit(static_cast<unsigned char>(t[i])) && n < max)
            v = v * 10 + (t[i++] - '0'), ++n;
        if (count) *count = n;
        return n ? v : -1;
    }
};

// The time part: hours ":" minutes [":" seconds[.fraction]], then the zone.
bool read_time_and_zone(reader_t& r, date_fields_t* out) {
    int64_t h = r.number(2);
    if (h < 0 || r.peek() != ':') return false;
    ++r.i;
    int64_t mi = r.number(2);
    if (mi < 0) return false;
    double sec = 0;
    if (r.peek() == ':') {
        ++r.i;
        size_t from = r.i;
        while (!r.at_end() &&
               (std::isdigit(static_cast<unsigned char>(r.peek())) || r.peek() == '.'))
            ++r.i;
        std::string s = r.t.substr(from, r.i - from);
        if (s.empty() || s.find('.') != s.rfind('.') || s[0] == '.') return false;
        sec = std::strtod(s.c_str(), nullptr);
    }
    if (h > 23 || mi > 59 || sec >= 60) return false;
    out->has_time = true;
    out->seconds = static_cast<double>(h * 3600 + mi * 60) + sec;
    char c = r.peek();
    if (c == 'Z' || c == 'z') {
        ++r.i;
        out->has_zone = true;
    } else if (c == '+' || c == '-') {
        ++r.i;
        int32_t digits = 0;
        int64_t zh = r.number(4, &digits);
        int64_t zm = 0;
        if (zh < 0) return false;
        if (digits > 2) {
            if (digits != 4) return false;
            zm = zh % 100, zh /= 100;
        } else if (r.peek() == ':') {
            ++r.i;
            zm = r.number(2);
            if (zm < 0) return false;
        }
        if (zh > 15 || zm > 59) return false;
        out->has_zone = true;
        out->zone_minutes = static_cast<int32_t>((zh * 60 + zm) * (c == '-' ? -1 : 1));
    }
    return r.at_end();
}

bool valid_q(const date_fields_t& d) {
    return d.month >= 1 && d.month <= 12 && d.year >= -9999 && d.year <= 9999 && d.day >= 1 &&
           d.day <= month_length(d.year, d.month);
}

// 20000101T120000Z
bool compact(const std::string& t, date_fields_t* out) {
    size_t tpos = t.find_first_of("Tt");
    size_t i = t[0] == '-' ? 1 : 0;
    if (tpos == std::string::npos || tpos < i + 5 || tpos > i + 8) return false;
    for (size_t k = i; k < tpos; ++k)
        if (!std::isdigit(static_cast<unsigned char>(t[k]))) return false;
    out->year = to_int(t.substr(i, tpos - 4 - i)) * (i ? -1 : 1);
    out->month = to_int(t.substr(tpos - 4, 2));
    out->day = to_int(t.substr(tpos - 2, 2));
    reader_t r{t, tpos + 1};
    int32_t n = 0;
    int64_t hh = r.number(2, &n);
    if (n != 2) return false;
    int64_t mm = r.number(2, &n);
    if (n != 2 || hh > 23 || mm > 59) return false;
    double sec = 0;
    if (std::isdigit(static_cast<unsigned char>(r.peek()))) {
        size_t from = r.i;
        while (!r.at_end() &&
               (std::isdigit(static_cast<unsigned char>(r.peek())) || r.peek() == '.'))
            ++r.i;
        std::string s = t.substr(from, r.i - from);
        if (s.find('.') != s.rfind('.')) return false;
        sec = std::strtod(s.c_str(), nullptr);
        if (sec >= 60) return false;
    }
    out->has_time = true;
    out->seconds = static_cast<double>(hh * 3600 + mm * 60) + sec;
    char c = r.peek();
    if (c == 'Z' || c == 'z') {
        ++r.i;
        out->has_zone = true;
    } else if (c == '+' || c == '-') {
        ++r.i;
        int64_t zh = r.number(2, &n);
        if (n != 2) return false;
        int64_t zm = r.number(2, &n);
        if (n != 2 || zh > 15 || zm > 59) return false;
        out->has_zone = true;
        out->zone_minutes = static_cast<int32_t>((zh * 60 + zm) * (c == '-' ? -1 : 1));
    }
    return r.at_end() && valid_q(*out);
}

// 2000-W01-1 and 2000-032
bool iso_forms(const std::string& t, date_fields_t* out, bool* matched) {
    *matched = false;
    if (t.size() >= 8 && t[4] == '-' && (t[5] == 'W' || t[5] == 'w')) {
        *matched = true;
        for (int k = 0; k < 4; ++k)
            if (!std::isdigit(static_cast<unsigned char>(t[k]))) return false;
        if (!std::isdigit(static_cast<unsigned char>(t[6])) ||
            !std::isdigit(static_cast<unsigned char>(t[7])))
            return false;
        int32_t year = to_int(t.substr(0, 4));
        int32_t week = to_int(t.substr(6, 2));
        int32_t day = 1;
        if (t.size() == 10 && t[8] == '-' && t[9] >= '1' && t[9] <= '7') day = t[9] - '0';
        else if (t.size() != 8) return false;
        if (week < 1 || week > 53) return false;
        int64_t jan4 = day_number(year, 1, 4);
        int64_t n = jan4 - weekday(jan4) + (week - 1) * 7 + (day - 1);
        from_day_number(n, &out->year, &out->month, &out->day);
        return valid_q(*out);
    }
    size_t dash = t.find('-', 1);
    if (dash != std::string::npos && t.size() == dash + 4) {
        bool digits = true;
        for (size_t k = 0; k < t.size(); ++k)
            if (k != dash && !std::isdigit(static_cast<unsigned char>(t[k]))) digits = false;
        if (!digits) return false;
        *matched = true;
        int32_t year = to_int(t.substr(0, dash));
        int32_t ordinal = to_int(t.substr(dash + 1));
        if (ordinal < 1 || ordinal > (leap_q(year) ? 366 : 365)) return false;
        from_day_number(day_number(year, 1, 1) + ordinal - 1, &out->year, &out->month, &out->day);
        return valid_q(*out);
    }
    return false;
}

bool general(const std::string& t, date_fields_t* out) {
    reader_t r{t};
    int32_t first_digits = 0;
    int64_t first = r.number(9, &first_digits);
    if (first < 0) return false;
    char sep = r.peek();
    if (sep != '-' && sep != '/') return false;
    ++r.i;
    int32_t month = 0;
    if (std::isdigit(static_cast<unsigned char>(r.peek()))) {
        int64_t m = r.number(2);
        month = static_cast<int32_t>(m);
    } else {
        size_t from = r.i;
        while (!r.at_end() && std::isalpha(static_cast<unsigned char>(r.peek()))) ++r.i;
        std::string name = t.substr(from, r.i - from);
        if (name.size() < 3 || name.size() > 9) return false;
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (int k = 0; k < 12 && !month; ++k)
            if (std::strncmp(month_names[k], name.c_str(), name.size()) == 0 &&
                std::strlen(month_names[k]) >= name.size())
                month = k + 1;
        if (!month) return false;
    }
    if (r.peek() != sep) return false;
    ++r.i;
    int32_t last_digits = 0;
    int64_t last = r.number(9, &last_digits);
    if (last < 0) return false;
    int64_t year, day;
    int32_t year_digits;
    if (first > 99 && last <= 31) {
        year = first, day = last, year_digits = first_digits;
    } else {
        day = first, year = last, year_digits = last_digits;
    }
    if (year_digits <= 2) year += year > 49 ? 1900 : 2000;
    if (year > 9999 || day > 31) return false;
    out->year = static_cast<int32_t>(year);
    out->month = month;
    out->day = static_cast<int32_t>(day);
    if (!r.at_end()) {
        char c = r.peek();
        if (c != '/' && c != 'T' && c != 't') return false;
        ++r.i;
        if (!read_time_and_zone(r, out)) return false;
    }
    return valid_q(*out);
}

}  // namespace

bool parse_date(const uint8_t* p, int32_t length, date_fields_t* out) {
    std::string t(reinterpret_cast<const char*>(p), static_cast<size_t>(length));
    if (t.empty()) return false;
    *out = date_fields_t{};
    bool matched = false;
    if (iso_forms(t, out, &matched) || matched) return matched && valid_q(*out);
    size_t sep = t.find_first_of("-/", 1);
    size_t tpos = t.find_first_of("Tt");
    if (tpos != std::string::npos && (sep == std::string::npos || sep > tpos))
        return compact(t, out);
    return general(t, out);
}

void build_date(cell_t* cell, const date_fields_t& d) {
    int32_t zone = d.has_zone ? d.zone_minutes : 0;
    int32_t magnitude = zone < 0 ? -zone : zone;
    uint32_t packed = static_cast<uint32_t>(d.year) << 17 | static_cast<uint32_t>(d.month) << 12 |
                      static_cast<uint32_t>(d.day) << 7;
    double stored = 0;
    if (d.has_time) {
        packed |= 1u << 16;
        packed |= (zone < 0 ? 1u : 0u) << 6 | static_cast<uint32_t>(magnitude / 60) << 2 |
                  static_cast<uint32_t>((magnitude % 60) / 15);
        stored = d.seconds - (zone < 0 ? -1 : 1) *
                                 ((magnitude / 60) * 3600.0 + ((magnitude % 60) / 15) * 900.0);
    }
    cell::begin(cell);
    cell->data1 = packed;
    cell::put_float(cell, stored);
    cell->header = TYPE_date;
}

}  // namespace zuv::lexer
