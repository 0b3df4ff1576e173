// What the companion reads from outside; the first byte (a digit in the seeds) picks the parser:
// 0 pairing file, 1 sqlite3 rows, 2 event time, 3 socket table, 4 cmdline, 5 PID, 6 autostart,
// 7 the daemon's answer to the pairing request.
#include <cstdlib>

#include "app/Text.h"
#include "daemon/CaptureHelperPid.h"
#include "digest/CompanionDigest.h"
#include "digest/ShortTime.h"
#include "pairing/PairingPayload.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/XdgLoginItem.h"
#include "platform/posix/LoopbackHttpClient.h"

using namespace companion;
using namespace std::chrono;
using Text = const std::string&;

static void (*const parsers[])(Text) = {
    [](Text text) {
        // The texts go on to the window, the link and the clipboard, which take only UTF-8.
        for (const auto& [name, value] : parsePairingPayload(text).value_or(PairingPayload()))
            if (!isValidUtf8(name) || !isValidUtf8(value))
                std::abort();
    },
    [](Text text) { companionDigestFromOutput(text); },
    [](Text text) {
        // A UTC time keeps its own hour and minute: a fraction never rounds into the next one.
        const auto instant = parseInternetDateTime(text);
        if (instant && text.back() == 'Z' &&
            floor<minutes>(*instant) - floor<days>(*instant) !=
                hours(std::stoi(text.substr(11, 2))) + minutes(std::stoi(text.substr(14, 2))))
            std::abort();
    },
    [](Text text) { socketTableListensOn(text, 50051); },
    [](Text text) { programNameFromCmdline(text); },
    [](Text text) {
        // The number is one the file spells out, never a neighbour of it.
        const auto pid = parseCaptureHelperPid(text);
        if (pid && (*pid <= 0 || text.find(std::to_string(*pid)) == std::string::npos))
            std::abort();
    },
    [](Text text) {
        if (const auto exec = desktopEntryValue(text, "Exec"))
            desktopEntryProgram(*exec);
        // Whatever the program's path, the entry written for it must read back as that program.
        const auto written =
            desktopEntryValue("[Desktop Entry]\nExec=" + desktopEntryExec(text), "Exec");
        if (!text.empty() && (!written || desktopEntryProgram(*written) != text))
            std::abort();
    },
    [](Text text) {
        // A status comes only from an HTTP/1.x status line, and always has three digits.
        const auto status = httpStatusOf(text);
        if (status && (!text.starts_with("HTTP/1.") || *status < 100 || *status > 999))
            std::abort();
    },
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0)
        parsers[uint8_t(data[0] - '0') % std::size(parsers)]({(const char*)data + 1, size - 1});
    return 0;
}
