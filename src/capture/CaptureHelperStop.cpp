#include "capture/CaptureHelperStop.h"

#include <thread>

#include "app/CompanionAppDelegate.h"
#include "app/CompanionFiles.h"
#include "capture/ShellQuoting.h"

namespace companion {

std::string captureHelperStopCommand(std::optional<long long> pid,
                                     const std::filesystem::path& pidFile) {
    const std::string removal = "rm -f " + shellQuoted(pidFile.string());
    if (!pid) {
        return removal;
    }
    const std::string p = std::to_string(*pid);
    const std::string lines[] = {
        "if kill -0 " + p + " 2>/dev/null; then",
        "  kill " + p + " 2>/dev/null || true",
        "  i=0",
        "  while kill -0 " + p + " 2>/dev/null && [ \"$i\" -lt 50 ]; do",
        "    i=$((i + 1))",
        "    sleep 0.1",
        "  done",
        "  if kill -0 " + p + " 2>/dev/null; then",
        "    kill -KILL " + p + " 2>/dev/null || true",
        "  fi",
        "fi",
        removal,
    };
    std::string command;
    for (const auto& line : lines) {
        command += command.empty() ? line : "\n" + line;
    }
    return command;
}

void CompanionAppDelegate::stopCaptureHelper() {
    const auto command =
        captureHelperStopCommand(captureHelperPID(), appSupport() / kCaptureHelperPidFileName);
    // Whatever the outcome, the PID file decides afterwards which daemon should run, so a
    // refused request needs no message of its own.
    runAdminShell(command, [queue = platform.mainQueue, probe = platform.portProbe, port = port,
                            weak = weak_from_this()](AdminShellResult) {
        std::thread([queue, probe, port, weak] {
            // Waited for here, not on the main thread, so the menu stays responsive. The delegate
            // is not held meanwhile: were the companion to quit, its last reference would go on
            // this thread and take the tray icon and windows with it, away from the main thread.
            waitForPortToClose(*probe, port);
            queue->post([weak] {
                if (auto self = weak.lock()) {
                    self->startDaemon();
                    self->rebuildMenu();
                }
            });
        }).detach();
    });
}

}  // namespace companion
