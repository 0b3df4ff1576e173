#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "capture/AdminShell.h"
#include "platform/linux/PkexecAdminShellRunner.h"
#include "platform/posix/OsascriptAdminShellRunner.h"
#include "platform/posix/PosixToolRunner.h"
#include "support/DirectShellRunner.h"
#include "support/TestEnvironment.h"

namespace companion {

// Read in failure messages instead of bytes.
inline void PrintTo(const AdminShellResult& result, std::ostream* out) {
    *out << (result.isSuccess() ? "success" : "failure(\"" + result.text + "\")");
}

namespace testing {
namespace {

using ::testing::HasSubstr;

// Stand-ins for the elevation tools that run the command as the test's user, after checking
// that they were called exactly as the real tools would be.
struct Runners {
    TemporaryFolder folder;
    std::shared_ptr<ToolRunner> tools = std::make_shared<PosixToolRunner>();

    Runners() {
        writeScript(pkexec(),
                    "[ $# -eq 3 ] && [ \"$1\" = /bin/sh ] && [ \"$2\" = -c ] || "
                    "{ echo 'bad arguments'; exit 99; }\n"
                    "exec \"$@\"");
        // Decodes the AppleScript literal the way osascript would and hands it to the shell.
        writeScript(osascript(), R"perl(exec /usr/bin/perl -e '
            die "bad arguments\n" unless @ARGV == 2 && $ARGV[0] eq "-e" && $ARGV[1] !~ /\n/;
            $ARGV[1] =~ /\Ado shell script "((?:[^"\\]|\\.)*)" with administrator privileges\z/s
                or die "bad script\n";
            (my $command = $1) =~ s/\\(.)/$1 eq "n" ? "\n" : $1/ges;
            exec "/bin/sh", "-c", $command;' -- "$@")perl");
    }
    std::filesystem::path pkexec() const { return folder.path() / "pkexec"; }
    std::filesystem::path osascript() const { return folder.path() / "osascript"; }

    std::vector<std::pair<std::string, std::shared_ptr<AdminShellRunner>>> all() {
        return {{"direct", std::make_shared<DirectShellRunner>()},
                {"pkexec", std::make_shared<PkexecAdminShellRunner>(tools, pkexec())},
                {"osascript", std::make_shared<OsascriptAdminShellRunner>(tools, osascript())}};
    }
};

TEST(AdminShellRunner, OutcomeFollowsStatusAndOutput) {
    const AdminShellResult cancelled = AdminShellResult::failure(kAdminRequestFailedText);
    const std::pair<std::string, AdminShellResult> cases[] = {
        {"echo dropped; exit 0", AdminShellResult::success()},
        {"printf '  \\n'; exit 1", cancelled},
        {"exit 1", cancelled},
        {"printf '\\nRequest dismissed\\n' >&2; exit 126",
         AdminShellResult::failure("Request dismissed")},
        {"printf 'first\\n'; printf 'second\\n' >&2; exit 2",
         AdminShellResult::failure("first\nsecond")},
        {"printf '\\377\\376 not text'; exit 1", cancelled},
        {"kill -KILL $$", cancelled},
        {"printf '%s\\n' \"a\\\"b\" 'c\\d' \"$((1 + 1))\" >&2\nexit 3",
         AdminShellResult::failure("a\"b\nc\\d\n2")},
    };
    Runners runners;
    for (const auto& [name, runner] : runners.all()) {
        for (const auto& [command, expected] : cases) {
            EXPECT_EQ(runner->run(command), expected) << name << ": " << command;
        }
    }
}

TEST(AdminShellRunner, MissingToolGivesItsLaunchError) {
    auto tools = std::make_shared<PosixToolRunner>();
    const std::filesystem::path missing = "/nonexistent/elevate";
    const std::shared_ptr<AdminShellRunner> runners[] = {
        std::make_shared<PkexecAdminShellRunner>(tools, missing),
        std::make_shared<OsascriptAdminShellRunner>(tools, missing)};
    for (const auto& runner : runners) {
        const AdminShellResult result = runner->run("exit 0");
        EXPECT_FALSE(result.isSuccess());
        EXPECT_THAT(result.text, HasSubstr(missing.string()));
    }
}

}  // namespace
}  // namespace testing
}  // namespace companion
