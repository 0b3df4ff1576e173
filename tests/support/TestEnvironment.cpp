#include "support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/linux/LinuxPlatform.h"
#include "platform/posix/CurlHttpClient.h"
#include "platform/posix/PosixProbes.h"
#include "platform/posix/PosixProcessLauncher.h"
#include "platform/posix/PosixToolRunner.h"

namespace companion::testing {

namespace fs = std::filesystem;

TemporaryFolder::TemporaryFolder() {
    std::string pattern = (fs::temp_directory_path() / "companion-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    path_ = pattern;
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    // A test may leave folders without write permission behind.
    for (auto it = fs::recursive_directory_iterator(path_, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(path_, ignored);
}

std::optional<std::string> ScriptedLoginItem::registerItem() {
    ++registrations;
    if (failure) {
        return failure;
    }
    currentStatus = LoginItemStatus::Enabled;
    return std::nullopt;
}

std::optional<std::string> ScriptedLoginItem::unregisterItem() {
    ++unregistrations;
    if (failure) {
        return failure;
    }
    currentStatus = LoginItemStatus::NotRegistered;
    return std::nullopt;
}

ScopedEnvironment::ScopedEnvironment(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)) {
    if (const char* previous = std::getenv(name_.c_str())) {
        previous_ = previous;
    }
    if (value) {
        ::setenv(name_.c_str(), value->c_str(), 1);
    } else {
        ::unsetenv(name_.c_str());
    }
}

ScopedEnvironment::~ScopedEnvironment() {
    if (previous_) {
        ::setenv(name_.c_str(), previous_->c_str(), 1);
    } else {
        ::unsetenv(name_.c_str());
    }
}

void writeFile(const fs::path& file, const std::string& contents) {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << contents;
    if (!out) {
        throw std::runtime_error("cannot write " + file.string());
    }
}

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

void writeScript(const fs::path& file, const std::string& body) {
    writeFile(file, "#!/bin/sh\n" + body + "\n");
    fs::permissions(file, fs::perms::owner_all);
}

TestEnvironment::TestEnvironment() : httpClient(std::make_shared<CurlHttpClient>()) {
    fs::create_directories(resources());
}

void TestEnvironment::installDaemonScript(const std::string& body) {
    writeScript(resources() / "tarvelind-darwin-arm64", body);
}

fs::path builtResources() {
    const char* folder = std::getenv("COMPANION_TEST_RESOURCES");
    return folder ? fs::path(folder) : fs::path(COMPANION_BUILT_RESOURCES);
}

void TestEnvironment::installReferenceDaemon() {
    for (const char* name : {"tarvelind-darwin-arm64", "tarvelind-pcap-darwin-arm64"}) {
        fs::copy_file(builtResources() / name, resources() / name,
                      fs::copy_options::overwrite_existing);
    }
}

std::shared_ptr<ChildProcess> startChild(const fs::path& executable,
                                         std::vector<std::string> arguments) {
    auto launched = PosixProcessLauncher().launch({executable, std::move(arguments), "/dev/null"},
                                                  [](const auto&) {});
    if (auto* error = std::get_if<std::string>(&launched)) {
        throw std::runtime_error(*error);
    }
    return std::get<std::shared_ptr<ChildProcess>>(launched);
}

std::shared_ptr<ChildProcess> startFakeCaptureHelper(const TestEnvironment& env) {
    const fs::path impostor = env.home.path() / "bin" / "tarvelind-pcap-darwin-arm64";
    fs::create_directories(impostor.parent_path());
    fs::copy_file("/bin/sleep", impostor, fs::copy_options::overwrite_existing);
    auto helper = startChild(impostor, {"60"});
    writeFile(env.appSupport() / "capture-helper.pid",
              std::to_string(helper->processIdentifier()) + "\n");
    return helper;
}

bool waitUntil(const std::function<bool()>& condition, double timeoutSeconds) {
    const auto deadline = std::chrono::steady_clock::now() + Seconds(timeoutSeconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

Platform TestEnvironment::platform() {
    auto toolRunner = std::make_shared<PosixToolRunner>();
    return Platform{
        .ui = ui,
        .mainQueue = queue,
        .processLauncher = std::make_shared<PosixProcessLauncher>(),
        .toolRunner = toolRunner,
        .httpClient = httpClient,
        .directories = std::make_shared<FixedDirectories>(dataHome(), stateHome()),
        .bundle = std::make_shared<ResourceFolderBundle>(resources()),
        .loginItem = loginItem,
        .adminShellRunner = adminShellRunner,
        .portProbe = std::make_shared<ProcNetPortProbe>(),
        .processProbe = std::make_shared<LinuxProcessProbe>(),
        .hostNameSource = std::make_shared<PosixHostNameSource>(),
    };
}

std::shared_ptr<CompanionAppDelegate> TestEnvironment::makeDelegate() {
    return std::make_shared<CompanionAppDelegate>(platform());
}

}  // namespace companion::testing
