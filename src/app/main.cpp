#include <QApplication>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <memory>

#include "app/Arguments.h"
#include "app/CompanionAppDelegate.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/PkexecAdminShellRunner.h"
#include "platform/linux/XdgLoginItem.h"
#include "platform/posix/LoopbackHttpClient.h"
#include "platform/posix/PosixProcessLauncher.h"
#include "platform/posix/PosixToolRunner.h"
#include "platform/qt/QtMainQueue.h"
#include "platform/qt/QtUi.h"
#include "platform/qt/SingleInstance.h"
#include "platform/qt/TerminationSignals.h"

#ifdef COMPANION_DIRECT_ADMIN_SHELL
#include "support/DirectShellRunner.h"
#endif

namespace companion {

// The one place that chooses how administrator commands run: through the system's approval
// dialog, or, in the build the end-to-end tests drive, directly as the user.
std::shared_ptr<AdminShellRunner> makeAdminShellRunner(std::shared_ptr<ToolRunner> toolRunner) {
#ifdef COMPANION_DIRECT_ADMIN_SHELL
    (void)toolRunner;
    return std::make_shared<testing::DirectShellRunner>();
#else
    return std::make_shared<PkexecAdminShellRunner>(std::move(toolRunner));
#endif
}

// The entry: builds the platform pieces, hands them to the one delegate and runs the event loop.
struct CompanionMain {
    static int main(int argc, char** argv) {
        // Before anything else, so that asking for help needs no display, daemon or file.
        switch (const auto choice = chooseLaunch({argv + 1, argv + argc}); choice.kind) {
            case LaunchChoice::Kind::Run:
                break;
            case LaunchChoice::Kind::Help:
                std::fputs(usageText().c_str(), stdout);
                return 0;
            case LaunchChoice::Kind::Version:
                std::fputs(versionText().c_str(), stdout);
                return 0;
            case LaunchChoice::Kind::Unknown:
                std::fprintf(stderr, "orvane-pelix-companion: unknown option %s\n\n%s",
                             choice.unknown.c_str(), usageText().c_str());
                return 2;
        }
        TerminationSignals termination;
        // A peer that goes away mid-write must not end the companion.
        std::signal(SIGPIPE, SIG_IGN);

        QApplication application(argc, argv);
        QApplication::setApplicationName("Orvane Pelix Companion");
        QApplication::setOrganizationName("Orvane Pelix");
        QApplication::setDesktopFileName("orvane-pelix-companion");

        // Opening the application again while it runs reopens the running one, as on macOS;
        // a second companion would fight the first over the daemon.
        SingleInstance instance;
        switch (instance.claim()) {
            case SingleInstance::Claim::Running:
                break;
            case SingleInstance::Claim::HandedOver:
                return 0;
            case SingleInstance::Claim::NoAnswer:
                std::fputs("Orvane Pelix Companion is already running but does not answer.\n",
                           stderr);
                return 1;
        }

        std::weak_ptr<CompanionAppDelegate> weakDelegate;
        auto toolRunner = std::make_shared<PosixToolRunner>();
        auto ui = std::make_shared<QtUi>([&weakDelegate](Command command) {
            if (auto delegate = weakDelegate.lock()) {
                delegate->perform(command);
            }
        });
        Platform platform{
            .ui = ui,
            .mainQueue = std::make_shared<QtMainQueue>(),
            .processLauncher = std::make_shared<PosixProcessLauncher>(),
            .toolRunner = toolRunner,
            .httpClient = std::make_shared<LoopbackHttpClient>(),
            .directories = std::make_shared<XdgDirectories>(),
            .bundle =
                std::make_shared<ResourceFolderBundle>(ResourceFolderBundle::besideExecutable()),
            .loginItem = std::make_shared<XdgLoginItem>(),
            .adminShellRunner = makeAdminShellRunner(toolRunner),
            .portProbe = std::make_shared<LinuxPortProbe>(),
            .processProbe = std::make_shared<LinuxProcessProbe>(),
            .hostNameSource = std::make_shared<PosixHostNameSource>(),
            .words = linuxPlatformWords(),
        };
        // main holds the only strong reference for the whole run.
        auto delegate = std::make_shared<CompanionAppDelegate>(std::move(platform));
        weakDelegate = delegate;
        instance.setReopenHandler([&weakDelegate, &ui](bool hasVisibleWindows) {
            ui->revealStatusItem();
            if (auto delegate = weakDelegate.lock()) {
                delegate->applicationShouldHandleReopen(hasVisibleWindows);
            }
        });
        termination.onSignal([&weakDelegate] {
            if (auto delegate = weakDelegate.lock()) {
                delegate->perform(Command::Quit);
            }
        });

        QTimer::singleShot(0, [&delegate] { delegate->applicationDidFinishLaunching(); });
        return QApplication::exec();
    }
};

}  // namespace companion

int main(int argc, char** argv) {
    return companion::CompanionMain::main(argc, argv);
}
