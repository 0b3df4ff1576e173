#pragma once

#include <memory>
#include <string>

#include "platform/AdminShellRunner.h"
#include "platform/Directories.h"
#include "platform/HttpClient.h"
#include "platform/LoginItem.h"
#include "platform/MainQueue.h"
#include "platform/Probes.h"
#include "platform/ProcessLauncher.h"
#include "platform/ToolRunner.h"
#include "platform/Ui.h"

namespace companion {

// How the texts name this machine and its system. The Mac's words are the default, so there the
// texts read exactly as they always have.
struct PlatformWords {
    std::string thisComputer = "this Mac";
    std::string systemWillAsk = "macOS will ask";
};

// Every way the core reaches the world, handed to it by the composition root.
struct Platform {
    std::shared_ptr<Ui> ui;
    std::shared_ptr<MainQueue> mainQueue;
    std::shared_ptr<ProcessLauncher> processLauncher;
    std::shared_ptr<ToolRunner> toolRunner;
    std::shared_ptr<HttpClient> httpClient;
    std::shared_ptr<Directories> directories;
    std::shared_ptr<Bundle> bundle;
    std::shared_ptr<LoginItem> loginItem;
    std::shared_ptr<AdminShellRunner> adminShellRunner;
    std::shared_ptr<PortProbe> portProbe;
    std::shared_ptr<ProcessProbe> processProbe;
    std::shared_ptr<HostNameSource> hostNameSource;
    PlatformWords words;
};

}  // namespace companion
