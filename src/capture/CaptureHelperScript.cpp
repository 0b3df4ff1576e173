#include "capture/CaptureHelperScript.h"

#include "capture/ShellQuoting.h"

namespace companion {

// The daemon must stay in the foreground of this script: the wait and the PID file track it.
const std::string_view kCaptureHelperScriptTail = R"script(

mkdir -p "$config_dir" "$(dirname "$log_file")" "$(dirname "$pid_file")"
touch "$code_file" "$log_file"
chmod 600 "$code_file"

echo "$(date '+%Y-%m-%d %H:%M:%S') starting packet capture helper" >> "$log_file"
echo "binary: $binary" >> "$log_file"
echo "config: $config_dir" >> "$log_file"

child=""
cleanup() {
  if [ -n "$child" ]; then
    kill "$child" 2>/dev/null || true
  fi
  rm -f "$pid_file"
}
trap cleanup TERM INT

"$binary" -allow-capture -addr lan -port "$port" -config "$config_dir" -pairing-code-file "$code_file" >> "$log_file" 2>&1 &
child=$!
echo "$child" > "$pid_file"
wait "$child"
status=$?
echo "$(date '+%Y-%m-%d %H:%M:%S') packet capture helper exited with status $status" >> "$log_file"
rm -f "$pid_file"
exit "$status")script";

std::string captureHelperScript(const std::filesystem::path& binary,
                                const std::filesystem::path& configDirectory,
                                const std::filesystem::path& pairingFile,
                                const std::filesystem::path& pidFile,
                                const std::filesystem::path& log, const std::string& port) {
    std::string script = "#!/bin/sh\nset -u\n\n";
    script += "binary=" + shellQuoted(binary.string()) + "\n";
    script += "config_dir=" + shellQuoted(configDirectory.string()) + "\n";
    script += "code_file=" + shellQuoted(pairingFile.string()) + "\n";
    script += "pid_file=" + shellQuoted(pidFile.string()) + "\n";
    script += "log_file=" + shellQuoted(log.string()) + "\n";
    script += "port=" + shellQuoted(port);
    script += kCaptureHelperScriptTail;
    return script;
}

std::string captureHelperLaunchCommand(const std::filesystem::path& script) {
    return "/bin/sh " + shellQuoted(script.string()) + " >/dev/null 2>&1 &";
}

}  // namespace companion
