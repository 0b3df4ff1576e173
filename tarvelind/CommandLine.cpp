#include "CommandLine.h"

#include <arpa/inet.h>

#include <charconv>

namespace tarvelind {
namespace {

CommandLine failure(std::string message) {
    return {std::nullopt, std::move(message), 2};
}

bool isAddressLiteral(const std::string& text) {
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, text.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

std::optional<std::uint16_t> parsePort(const std::string& text) {
    unsigned value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value == 0 ||
        value > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

}  // namespace

std::string usageText() {
    return "usage: tarvelind [-allow-capture] -addr lan|loopback|ADDRESS -port PORT "
           "-config DIR -pairing-code-file FILE";
}

CommandLine parseCommandLine(std::span<const std::string> args) {
    std::optional<std::string> addr, port, config, codeFile;
    bool allowCapture = false;

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 2 || arg[0] != '-' || arg == "--") {
            return failure("tarvelind: unexpected argument \"" + arg + "\"");
        }
        std::string name = arg.substr(arg[1] == '-' ? 2 : 1);
        std::optional<std::string> inlineValue;
        if (auto eq = name.find('='); eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }

        if (name == "h" || name == "help") {
            return {std::nullopt, usageText(), 0};
        }
        if (name == "allow-capture") {
            if (!inlineValue || *inlineValue == "true" || *inlineValue == "1") {
                allowCapture = true;
            } else if (*inlineValue == "false" || *inlineValue == "0") {
                allowCapture = false;
            } else {
                return failure("tarvelind: invalid boolean value \"" + *inlineValue +
                               "\" for -allow-capture");
            }
            continue;
        }

        std::optional<std::string>* slot = name == "addr"                ? &addr
                                           : name == "port"              ? &port
                                           : name == "config"            ? &config
                                           : name == "pairing-code-file" ? &codeFile
                                                                         : nullptr;
        if (slot == nullptr) {
            return failure("tarvelind: flag provided but not defined: -" + name);
        }
        if (inlineValue) {
            *slot = *inlineValue;
        } else if (i + 1 < args.size()) {
            *slot = args[++i];
        } else {
            return failure("tarvelind: flag needs an argument: -" + name);
        }
    }

    if (!addr)
        return failure("tarvelind: missing required flag -addr");
    if (!port)
        return failure("tarvelind: missing required flag -port");
    if (!config)
        return failure("tarvelind: missing required flag -config");
    if (!codeFile)
        return failure("tarvelind: missing required flag -pairing-code-file");

    Options options;
    options.addr = *addr;
    options.allowCapture = allowCapture;
    if (*addr == "lan") {
        // IPv4 wildcard rather than "::": the phone reaches the Mac over IPv4 on the LAN, and
        // peers then show up as plain IPv4 addresses instead of v4-mapped IPv6 ones.
        options.bindHost = "0.0.0.0";
    } else if (*addr == "loopback") {
        options.bindHost = "127.0.0.1";
    } else if (isAddressLiteral(*addr)) {
        options.bindHost = *addr;
    } else {
        return failure("tarvelind: invalid value \"" + *addr +
                       "\" for -addr: use lan, loopback or an IP address");
    }

    auto portNumber = parsePort(*port);
    if (!portNumber) {
        return failure("tarvelind: invalid value \"" + *port +
                       "\" for -port: use a number from 1 to 65535");
    }
    options.port = *portNumber;

    if (config->empty())
        return failure("tarvelind: -config must not be empty");
    if (codeFile->empty())
        return failure("tarvelind: -pairing-code-file must not be empty");
    options.configDir = *config;
    options.pairingCodeFile = *codeFile;
    return {std::move(options), {}, 0};
}

}  // namespace tarvelind
