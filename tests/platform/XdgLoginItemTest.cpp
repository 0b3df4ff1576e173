#include "platform/linux/XdgLoginItem.h"

#include <gtest/gtest.h>
#include <chrono>
#include <functional>
#include <iterator>
#include <thread>

#include "platform/posix/PosixToolRunner.h"
#include "support/TestEnvironment.h"

namespace companion::testing {
namespace {

namespace fs = std::filesystem;

std::optional<std::string> programOfEntry(const std::string& entry) {
    const auto exec = desktopEntryValue(entry, "Exec");
    return exec ? desktopEntryProgram(*exec) : std::nullopt;
}

// Characters the desktop entry format reserves, and those that its string escapes touch.
const std::vector<std::string> kAwkwardPaths = {
    "/opt/orvane-pelix-companion/bin/orvane-pelix-companion",
    "/home/ann/Orvane Pelix Companion/bin/orvane-pelix-companion",
    "/tmp/say \"hi\"/app",
    "/tmp/$HOME and ${PATH}/app",
    "/tmp/back\\slash\\\\/app",
    "/tmp/tick`id`/app",
    "/tmp/100%/%u %f %%/app",
    "/tmp/it's/app",
    "/tmp/new\nline\tand tab/app",
    "/tmp/m\xc3\xa9moire; rm -rf ~ | cat > x & <y>/app",
};

TEST(DesktopEntryExec, EveryPathReadsBackAsItself) {
    for (const auto& path : kAwkwardPaths) {
        const std::string exec = desktopEntryExec(path);
        EXPECT_EQ(exec.find('\n'), std::string::npos) << exec;
        EXPECT_EQ(programOfEntry("[Desktop Entry]\nExec=" + exec + "\n"), path) << exec;
    }
}

TEST(DesktopEntryExec, ReadsEntriesOthersWrote) {
    struct Case {
        const char* entry;
        std::optional<std::string> program;
    };
    const Case cases[] = {
        {"[Desktop Entry]\nExec=orvane-pelix-companion\n", "orvane-pelix-companion"},
        {"[Desktop Entry]\nExec = /usr/bin/app --tray %U\n", "/usr/bin/app"},
        {"[Desktop Entry]\nExec=\"/a b/c\" %u\n", "/a b/c"},
        {"[Desktop Entry]\nExec='/a b/c'\n", "/a b/c"},
        {"[Desktop Entry]\nExec=/a\\\\ b/c\n", "/a b/c"},
        {"[Desktop Entry]\nExec=/a\\sb/c\n", "/a"},
        {"[Desktop Entry]\nExec=\"/a\\$b\"\n", "/a$b"},
        {"# comment\n[Desktop Entry]\nExec[de]=/de\nExec=/first\nExec=/last\n", "/last"},
        {"[Desktop Action tray]\nExec=/action\n[Desktop Entry]\nName=x\n", std::nullopt},
        {"[Desktop Entry]\nExec=\"/unterminated\n", std::nullopt},
        {"[Desktop Entry]\nExec=   \n", std::nullopt},
        {"[Desktop Entry]\nExec=\"\"\n", std::nullopt},
        {"Exec=/outside/any/group\n", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(programOfEntry(c.entry), c.program) << c.entry;
    }
}

// A temporary home whose configuration folder holds the autostart entry, and a program that
// stands for the companion's executable.
class LoginItemHome {
  public:
    LoginItemHome()
        : configHome_("XDG_CONFIG_HOME", (home.path() / "config").string()),
          home_("HOME", home.path().string()) {
        writeScript(executable(), "exit 0");
    }

    fs::path executable() const { return home.path() / "Orvane Pelix Companion/bin/companion"; }
    fs::path entry() const {
        return home.path() / "config/autostart/orvane-pelix-companion.desktop";
    }
    void writeEntry(const std::string& keys) const {
        writeFile(entry(), "[Desktop Entry]\n" + keys);
    }
    std::string execOf(const fs::path& program) const {
        return "Exec=" + desktopEntryExec(program) + "\n";
    }

    TemporaryFolder home;

  private:
    ScopedEnvironment configHome_;
    ScopedEnvironment home_;
};

TEST(XdgLoginItem, StatusFollowsTheEntry) {
    struct Case {
        const char* name;
        std::function<void(const LoginItemHome&)> prepare;
        LoginItemStatus status;
    };
    const Case cases[] = {
        {"no entry", [](const auto&) {}, LoginItemStatus::NotRegistered},
        {"ours", [](const auto& h) { h.writeEntry(h.execOf(h.executable()) + "Hidden=false\n"); },
         LoginItemStatus::Enabled},
        {"hidden", [](const auto& h) { h.writeEntry(h.execOf(h.executable()) + "Hidden=true\n"); },
         LoginItemStatus::RequiresApproval},
        {"switched off in GNOME",
         [](const auto& h) {
             h.writeEntry(h.execOf(h.executable()) + "X-GNOME-Autostart-enabled=false\n");
         },
         LoginItemStatus::RequiresApproval},
        {"another program", [](const auto& h) { h.writeEntry("Exec=/bin/true\n"); },
         LoginItemStatus::NotRegistered},
        {"through a link",
         [](const auto& h) {
             fs::create_symlink(h.executable(), h.home.path() / "link");
             h.writeEntry(h.execOf(h.home.path() / "link") + "\n");
         },
         LoginItemStatus::Enabled},
        {"a folder in its place", [](const auto& h) { fs::create_directories(h.entry()); },
         LoginItemStatus::NotRegistered},
        {"no Exec", [](const auto& h) { h.writeEntry("Name=Orvane Pelix Companion\n"); },
         LoginItemStatus::NotRegistered},
        {"executable gone",
         [](const auto& h) {
             h.writeEntry(h.execOf(h.executable()));
             fs::remove(h.executable());
         },
         LoginItemStatus::NotFound},
    };
    for (const auto& c : cases) {
        LoginItemHome home;
        c.prepare(home);
        EXPECT_EQ(XdgLoginItem(home.executable()).status(), c.status) << c.name;
    }
}

TEST(XdgLoginItem, FindsABareProgramNameOnThePath) {
    LoginItemHome home;
    fs::create_directories(home.home.path() / "bin");
    fs::create_symlink(home.executable(), home.home.path() / "bin/orvane-pelix-companion");
    ScopedEnvironment path("PATH", "/nonexistent:" + (home.home.path() / "bin").string());
    home.writeEntry("Exec=orvane-pelix-companion %U\n");
    EXPECT_EQ(XdgLoginItem(home.executable()).status(), LoginItemStatus::Enabled);
}

TEST(XdgLoginItem, RegistersAndUnregisters) {
    LoginItemHome home;
    XdgLoginItem item(home.executable());
    EXPECT_EQ(item.registerItem(), std::nullopt);
    EXPECT_EQ(item.status(), LoginItemStatus::Enabled);
    const std::string entry = readFile(home.entry());
    EXPECT_EQ(desktopEntryValue(entry, "Type"), "Application");
    EXPECT_EQ(desktopEntryValue(entry, "Name"), "Orvane Pelix Companion");
    EXPECT_EQ(std::distance(fs::directory_iterator(home.entry().parent_path()), {}), 1)
        << "nothing but the entry is left behind";

    EXPECT_EQ(item.unregisterItem(), std::nullopt);
    EXPECT_FALSE(fs::exists(home.entry()));
    EXPECT_EQ(item.status(), LoginItemStatus::NotRegistered);
    EXPECT_EQ(item.unregisterItem(), std::nullopt) << "nothing left to remove is no failure";
}

TEST(XdgLoginItem, RegisteringReplacesAHiddenOrLinkedEntryWithoutTouchingItsTarget) {
    LoginItemHome home;
    const fs::path shared = home.home.path() / "applications/orvane-pelix-companion.desktop";
    writeFile(shared, "[Desktop Entry]\nExec=/bin/true\nHidden=true\n");
    fs::create_directories(home.entry().parent_path());
    fs::create_symlink(shared, home.entry());

    XdgLoginItem item(home.executable());
    EXPECT_EQ(item.registerItem(), std::nullopt);
    EXPECT_EQ(item.status(), LoginItemStatus::Enabled);
    EXPECT_FALSE(fs::is_symlink(home.entry()));
    EXPECT_EQ(readFile(shared), "[Desktop Entry]\nExec=/bin/true\nHidden=true\n");
}

TEST(XdgLoginItem, FailuresCarryADescription) {
    LoginItemHome home;
    // Root may write anywhere, so the folder is blocked by a file rather than by permissions.
    writeFile(home.entry().parent_path(), "not a folder");
    auto failure = XdgLoginItem(home.executable()).registerItem();
    ASSERT_TRUE(failure);
    EXPECT_NE(failure->find(home.entry().parent_path().string()), std::string::npos) << *failure;

    failure = XdgLoginItem(home.home.path() / "missing").registerItem();
    ASSERT_TRUE(failure);
    EXPECT_FALSE(failure->empty());
}

TEST(XdgLoginItem, AfterAnUpgradeTheReplacementCounts) {
    LoginItemHome home;
    // What /proc/self/exe reads once the running program's file has been replaced.
    const fs::path running = home.home.path() / "self-exe";
    fs::create_symlink(home.executable().string() + " (deleted)", running);
    XdgLoginItem item(running);
    EXPECT_EQ(item.registerItem(), std::nullopt);
    EXPECT_EQ(programOfEntry(readFile(home.entry())), home.executable().string());
    EXPECT_EQ(item.status(), LoginItemStatus::Enabled);
}

}  // namespace
}  // namespace companion::testing
