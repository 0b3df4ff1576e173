#include "support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <zbar.h>
#include <fstream>
#include <thread>

#include "platform/linux/LinuxPlatform.h"
#include "platform/posix/LoopbackHttpClient.h"
#include "platform/posix/PosixProbes.h"
#include "platform/posix/PosixProcessLauncher.h"
#include "platform/posix/PosixToolRunner.h"

namespace companion::testing {

FakeUi::~FakeUi() {
    for (const auto& [messageText, answer] : expected)
        ADD_FAILURE() << "expected alert never shown: " << messageText;
}

int FakeUi::runModal(const Alert& alert) {
    alerts.push_back(alert);
    if (expected.empty()) {
        ADD_FAILURE() << "unexpected alert: " << alert.messageText << " / "
                      << alert.informativeText;
        return kAlertFirstButtonReturn;
    }
    const auto [messageText, answer] = expected.front();
    expected.pop_front();
    EXPECT_EQ(alert.messageText, messageText) << alert.informativeText;
    return answer;
}

std::string FakeUi::shortTimeOfDay(std::chrono::system_clock::time_point instant) const {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(instant);
    std::tm utc{};
    char text[8];
    std::strftime(text, sizeof text, "%H:%M", gmtime_r(&seconds, &utc));
    return text;
}

struct ManualMainQueue::Timer : ScheduledTask {
    explicit Timer(std::function<void()> task) : task(std::move(task)) {}
    void cancel() override { cancelled = true; }
    bool isCancelled() const override { return cancelled; }
    std::function<void()> task;
    bool cancelled = false;
};

void ManualMainQueue::post(std::function<void()> task) {
    std::lock_guard lock(mutex);
    posts.push_back(std::move(task));
    posted.notify_all();
}

std::shared_ptr<ScheduledTask> ManualMainQueue::postAfter(Seconds delay,
                                                          std::function<void()> task) {
    auto timer = std::make_shared<Timer>(std::move(task));
    timers.emplace(monotonic + std::chrono::duration_cast<MonotonicClock::duration>(delay), timer);
    return timer;
}

void ManualMainQueue::runPosted() {
    std::unique_lock lock(mutex);
    while (!posts.empty()) {
        auto task = std::move(posts.front());
        posts.pop_front();
        lock.unlock();
        task();
        lock.lock();
    }
}

void ManualMainQueue::advance(double seconds) {
    runPosted();
    const auto end =
        monotonicNow() + std::chrono::duration_cast<MonotonicClock::duration>(Seconds(seconds));
    for (;;) {
        const auto next = timers.begin();
        const bool due = next != timers.end() && next->first <= end;
        wall += (due ? next->first : end) - monotonic;
        monotonic = due ? next->first : end;
        if (!due)
            return;
        const auto timer = next->second;
        timers.erase(next);
        if (!timer->cancelled)
            timer->task();
        runPosted();
    }
}

bool ManualMainQueue::runUntil(const std::function<bool()>& condition, double limitSeconds) {
    const auto limit = std::chrono::steady_clock::now() + Seconds(limitSeconds);
    for (runPosted(); !condition(); runPosted()) {
        std::unique_lock lock(mutex);
        if (!posted.wait_until(lock, limit, [this] { return !posts.empty(); }))
            return false;
    }
    return true;
}

std::optional<double> ManualMainQueue::nextTimerDelay() const {
    for (const auto& [deadline, timer] : timers) {
        if (!timer->cancelled)
            return Seconds(deadline - monotonic).count();
    }
    return std::nullopt;
}

TemporaryFolder::TemporaryFolder() {
    std::string pattern = (fs::temp_directory_path() / "companion-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    folder = pattern;
}

void writeFile(const fs::path& file, const std::string& contents) {
    fs::create_directories(file.parent_path());
    if (!(std::ofstream(file, std::ios::binary | std::ios::trunc) << contents))
        throw std::runtime_error("cannot write " + file.string());
}

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeScript(const fs::path& file, const std::string& body) {
    writeFile(file, "#!/bin/sh\n" + body + "\n");
    fs::permissions(file, fs::perms::owner_all);
}

bool waitUntil(const std::function<bool()>& condition, double limitSeconds) {
    const auto limit = std::chrono::steady_clock::now() + Seconds(limitSeconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= limit)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::shared_ptr<ChildProcess> startChild(const fs::path& executable,
                                         std::vector<std::string> arguments) {
    auto launched = PosixProcessLauncher().launch({executable, std::move(arguments), "/dev/null"},
                                                  [](const auto&) {});
    if (auto* error = std::get_if<std::string>(&launched))
        throw std::runtime_error(*error);
    return std::get<std::shared_ptr<ChildProcess>>(launched);
}

std::vector<std::string> decodeQrCodes(int width, int height, const std::uint8_t* pixels) {
    zbar::ImageScanner scanner;
    scanner.set_config(zbar::ZBAR_NONE, zbar::ZBAR_CFG_ENABLE, 0);
    scanner.set_config(zbar::ZBAR_QRCODE, zbar::ZBAR_CFG_ENABLE, 1);
    // Raw bytes, without zbar's guess at a character set.
    scanner.set_config(zbar::ZBAR_QRCODE, zbar::ZBAR_CFG_BINARY, 1);
    zbar::Image picture(width, height, "Y800", pixels, static_cast<unsigned long>(width) * height);
    scanner.scan(picture);
    std::vector<std::string> texts;
    for (auto symbol = picture.symbol_begin(); symbol != picture.symbol_end(); ++symbol)
        texts.push_back(symbol->get_data());
    return texts;
}

std::vector<std::string> decodeQrCodes(const QrSymbol& symbol) {
    const int side = (symbol.size + 8) * 4;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(side) * side, 255);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const int mx = static_cast<int>(i % side) / 4 - 4, my = static_cast<int>(i / side) / 4 - 4;
        if (mx >= 0 && my >= 0 && mx < symbol.size && my < symbol.size && symbol.dark(mx, my))
            pixels[i] = 0;
    }
    return decodeQrCodes(side, side, pixels.data());
}

void TestEnvironment::installReferenceDaemon() {
    for (const char* name : {"tarvelind-darwin-arm64", "tarvelind-pcap-darwin-arm64"}) {
        fs::copy_file(fs::path(COMPANION_BUILT_RESOURCES) / name, resources() / name,
                      fs::copy_options::overwrite_existing);
    }
}

struct FixedDirectories : Directories {
    FixedDirectories(fs::path data, fs::path library) : data(std::move(data)), library(library) {}
    fs::path applicationSupportDirectory() const override { return data; }
    fs::path libraryDirectory() const override { return library; }
    fs::path data, library;
};

Platform TestEnvironment::platform() {
    return Platform{
        .ui = ui,
        .mainQueue = queue,
        .processLauncher = std::make_shared<PosixProcessLauncher>(),
        .toolRunner = std::make_shared<PosixToolRunner>(),
        .httpClient = std::make_shared<LoopbackHttpClient>(),
        .directories = std::make_shared<FixedDirectories>(dataHome(), stateHome()),
        .bundle = std::make_shared<ResourceFolderBundle>(resources()),
        .loginItem = loginItem,
        .adminShellRunner = adminShellRunner,
        .portProbe = std::make_shared<LinuxPortProbe>(),
        .processProbe = std::make_shared<LinuxProcessProbe>(),
        .hostNameSource = std::make_shared<PosixHostNameSource>(),
        .words = linuxPlatformWords(),
    };
}

}  // namespace companion::testing
