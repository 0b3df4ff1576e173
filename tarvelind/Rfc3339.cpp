#include "Rfc3339.h"

#include <cstdio>
#include <ctime>

namespace tarvelind {

std::string formatRfc3339(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    auto millis = floor<milliseconds>(when).time_since_epoch().count();
    auto seconds = static_cast<std::time_t>(millis / 1000);
    auto fraction = static_cast<int>(millis % 1000);
    if (fraction < 0) {  // instants before 1970 still print a positive fraction
        fraction += 1000;
        --seconds;
    }
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, fraction);
    return text;
}

}  // namespace tarvelind
