#include <gtest/gtest.h>

#include "capture/AppleScript.h"
#include "capture/CaptureHelperScript.h"
#include "capture/CaptureHelperStop.h"

namespace companion {
namespace {

TEST(CaptureHelperScript, QuotesEveryValueWhole) {
    const std::filesystem::path appSupport = "/home/o'neil/data home/Orvane Pelix/Companion";
    const std::string script = captureHelperScript(
        "/opt/Orvane Pelix Companion/Resources/tarvelind-pcap-darwin-arm64",
        appSupport / "tarvelind", appSupport / "tarvelind" / "pairing-code.json",
        appSupport / "capture-helper.pid",
        "/home/o'neil/state home/Logs/Orvane Pelix/Orvane Pelix Capture Helper.log", "50051");

    const std::string expected = R"script(#!/bin/sh
set -u

binary='/opt/Orvane Pelix Companion/Resources/tarvelind-pcap-darwin-arm64'
config_dir='/home/o'\''neil/data home/Orvane Pelix/Companion/tarvelind'
code_file='/home/o'\''neil/data home/Orvane Pelix/Companion/tarvelind/pairing-code.json'
pid_file='/home/o'\''neil/data home/Orvane Pelix/Companion/capture-helper.pid'
log_file='/home/o'\''neil/state home/Logs/Orvane Pelix/Orvane Pelix Capture Helper.log'
port='50051'

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
    EXPECT_EQ(script, expected);
    EXPECT_EQ(kCaptureHelperScriptTail.size(), 747u);
    EXPECT_TRUE(script.ends_with(kCaptureHelperScriptTail));
    EXPECT_TRUE(script.ends_with("exit \"$status\""));
    EXPECT_EQ(script.find('\r'), std::string::npos);
}

TEST(CaptureHelperScript, LaunchCommandRunsTheScriptInTheBackground) {
    EXPECT_EQ(captureHelperLaunchCommand("/home/o'neil/Orvane Pelix/run-capture-helper.sh"),
              "/bin/sh '/home/o'\\''neil/Orvane Pelix/run-capture-helper.sh' >/dev/null 2>&1 &");
}

TEST(CaptureHelperStopCommand, WithAndWithoutALiveProcess) {
    const std::filesystem::path pidFile = "/home/o'neil/Orvane Pelix/Companion/capture-helper.pid";
    EXPECT_EQ(captureHelperStopCommand(4242, pidFile),
              "if kill -0 4242 2>/dev/null; then\n"
              "  kill 4242 2>/dev/null || true\n"
              "  i=0\n"
              "  while kill -0 4242 2>/dev/null && [ \"$i\" -lt 50 ]; do\n"
              "    i=$((i + 1))\n"
              "    sleep 0.1\n"
              "  done\n"
              "  if kill -0 4242 2>/dev/null; then\n"
              "    kill -KILL 4242 2>/dev/null || true\n"
              "  fi\n"
              "fi\n"
              "rm -f '/home/o'\\''neil/Orvane Pelix/Companion/capture-helper.pid'");
    EXPECT_EQ(captureHelperStopCommand(std::nullopt, pidFile),
              "rm -f '/home/o'\\''neil/Orvane Pelix/Companion/capture-helper.pid'");
}

TEST(AppleScript, EscapesBackslashesFirstThenQuotesThenLineFeeds) {
    const std::string command = "echo \"a\\b\"\nprintf '%s\\n' x\r\tdone\n";
    EXPECT_EQ(administratorAppleScript(command),
              "do shell script \"echo \\\"a\\\\b\\\"\\nprintf '%s\\\\n' x\r\tdone\\n\" "
              "with administrator privileges");
    EXPECT_EQ(osascriptArguments("say \"hi\""),
              (std::vector<std::string>{
                  "-e", "do shell script \"say \\\"hi\\\"\" with administrator privileges"}));
    // The stop command's twelve lines travel as one line of script.
    const std::string stop = administratorAppleScript(captureHelperStopCommand(7, "/p"));
    EXPECT_EQ(stop.find('\n'), std::string::npos);
    EXPECT_NE(stop.find("then\\n  kill 7"), std::string::npos);
}

}  // namespace
}  // namespace companion
