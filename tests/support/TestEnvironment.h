#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/CompanionAppDelegate.h"
#include "support/FakeUi.h"
#include "support/ManualMainQueue.h"

namespace companion::testing {

// A folder of its own for one test, removed with everything in it afterwards.
class TemporaryFolder {
  public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

class FixedDirectories : public Directories {
  public:
    FixedDirectories(std::filesystem::path data, std::filesystem::path library)
        : data_(std::move(data)), library_(std::move(library)) {}
    std::filesystem::path applicationSupportDirectory() const override { return data_; }
    std::filesystem::path libraryDirectory() const override { return library_; }

  private:
    std::filesystem::path data_;
    std::filesystem::path library_;
};

// The system's login-item service, scripted.
class ScriptedLoginItem : public LoginItem {
  public:
    LoginItemStatus status() const override { return currentStatus; }
    std::optional<std::string> registerItem() override;
    std::optional<std::string> unregisterItem() override;

    LoginItemStatus currentStatus = LoginItemStatus::NotRegistered;
    std::optional<std::string> failure;
    int registrations = 0;
    int unregistrations = 0;
};

// Sets an environment variable, or removes it when the value is absent, for the life of the
// object; then puts back what was there.
class ScopedEnvironment {
  public:
    ScopedEnvironment(std::string name, const std::optional<std::string>& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    std::string name_;
    std::optional<std::string> previous_;
};

void writeFile(const std::filesystem::path& file, const std::string& contents);
std::string readFile(const std::filesystem::path& file);
// Writes an executable /bin/sh script.
void writeScript(const std::filesystem::path& file, const std::string& body);

// A temporary home with the companion's two folders and a resources folder, the fake display,
// the manual queue, and the real POSIX and Linux pieces for everything else.
class TestEnvironment {
  public:
    TestEnvironment();

    std::filesystem::path dataHome() const { return home.path() / "data home"; }
    std::filesystem::path stateHome() const { return home.path() / "state home"; }
    std::filesystem::path resources() const { return home.path() / "Resources"; }
    std::filesystem::path appSupport() const { return dataHome() / "Orvane Pelix" / "Companion"; }
    std::filesystem::path logDir() const { return stateHome() / "Logs" / "Orvane Pelix"; }
    std::filesystem::path configDirectory() const { return appSupport() / "tarvelind"; }

    // Puts a shell script in the resources in place of the lightweight daemon.
    void installDaemonScript(const std::string& body);
    // Puts the reference daemon built with the project in the resources, under both names.
    void installReferenceDaemon();

    std::shared_ptr<CompanionAppDelegate> makeDelegate();
    Platform platform();

    TemporaryFolder home;
    std::shared_ptr<FakeUi> ui = std::make_shared<FakeUi>();
    std::shared_ptr<ManualMainQueue> queue = std::make_shared<ManualMainQueue>();
    std::shared_ptr<ScriptedLoginItem> loginItem = std::make_shared<ScriptedLoginItem>();
    // Tests that need the administrator runner set one.
    std::shared_ptr<AdminShellRunner> adminShellRunner;
    std::shared_ptr<HttpClient> httpClient;
};

// Starts a plain child process with its output discarded; it is not watched by the companion.
std::shared_ptr<ChildProcess> startChild(const std::filesystem::path& executable,
                                         std::vector<std::string> arguments = {});
// Starts a copy of sleep under the capture daemon's name, as a running capture helper would
// look, and records it in the PID file.
std::shared_ptr<ChildProcess> startFakeCaptureHelper(const TestEnvironment& env);

// Polls in real time until the condition holds; false when the time ran out first.
bool waitUntil(const std::function<bool()>& condition, double timeoutSeconds = 10.0);

// The folder the build laid the reference daemon in.
std::filesystem::path builtResources();

}  // namespace companion::testing
