#include "Log.h"

#include <cstdio>
#include <mutex>

#include "Rfc3339.h"

namespace tarvelind {

void logLine(std::string_view message) {
    static std::mutex mutex;
    std::string stamp = rfc3339Now();
    std::lock_guard lock(mutex);
    std::fprintf(stdout, "%s %.*s\n", stamp.c_str(), static_cast<int>(message.size()),
                 message.data());
    std::fflush(stdout);
}

}  // namespace tarvelind
