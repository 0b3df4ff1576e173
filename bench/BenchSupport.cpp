#include "BenchSupport.h"

#include <cstdlib>
#include <stdexcept>

#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/XdgLoginItem.h"
#include "platform/posix/LoopbackHttpClient.h"
#include "platform/posix/PosixProcessLauncher.h"
#include "platform/posix/PosixToolRunner.h"

namespace companion::bench {

namespace {

class ImmediateQueue : public MainQueue {
public:
    class Task : public ScheduledTask {
    public:
        void cancel() override { cancelled = true; }
        bool isCancelled() const override { return cancelled; }
        bool cancelled = false;
    };
    void post(std::function<void()>) override {}
    std::shared_ptr<ScheduledTask> postAfter(Seconds, std::function<void()>) override {
        return std::make_shared<Task>();
    }
    MonotonicClock::time_point monotonicNow() const override { return MonotonicClock::now(); }
    WallClock::time_point wallNow() const override { return WallClock::now(); }
};

}  // namespace

BenchHome::BenchHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "companion-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    folder = pattern;
    const char* resources = std::getenv("COMPANION_BENCH_RESOURCES");
    platform = Platform{
        .ui = std::make_shared<NullUi>(),
        .mainQueue = std::make_shared<ImmediateQueue>(),
        .processLauncher = std::make_shared<PosixProcessLauncher>(),
        .toolRunner = std::make_shared<PosixToolRunner>(),
        .httpClient = std::make_shared<LoopbackHttpClient>(),
        .directories = nullptr,
        .bundle = std::make_shared<ResourceFolderBundle>(resources ? resources : folder),
        .loginItem = std::make_shared<XdgLoginItem>(),
        .adminShellRunner = nullptr,
        .portProbe = std::make_shared<LinuxPortProbe>(),
        .processProbe = std::make_shared<LinuxProcessProbe>(),
        .hostNameSource = std::make_shared<PosixHostNameSource>(),
    };
    struct Folders : Directories {
        std::filesystem::path root;
        std::filesystem::path applicationSupportDirectory() const override { return root / "data"; }
        std::filesystem::path libraryDirectory() const override { return root / "state"; }
    };
    auto folders = std::make_shared<Folders>();
    folders->root = folder;
    platform.directories = folders;
}

BenchHome::~BenchHome() {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

}  // namespace companion::bench
