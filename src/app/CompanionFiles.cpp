#include "app/CompanionFiles.h"

#include <fstream>
#include <iterator>
#include <system_error>

#include "app/CompanionAppDelegate.h"

namespace companion {

namespace fs = std::filesystem;

fs::path CompanionAppDelegate::appSupport() const {
    return platform.directories->applicationSupportDirectory() / kAppSupportRelativePath;
}

fs::path CompanionAppDelegate::logDir() const {
    return platform.directories->libraryDirectory() / kLogDirRelativePath;
}

fs::path CompanionAppDelegate::daemonConfigDirectory() const {
    return appSupport() / kDaemonConfigDirectoryName;
}

std::string describeFileError(const std::string& action, const fs::path& path,
                              const std::error_code& error) {
    return action + " \u201c" + path.string() + "\u201d: " + error.message() + ".";
}

std::optional<std::string> createFolder(const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (!error && !fs::is_directory(folder, error) && !error) {
        error = std::make_error_code(std::errc::not_a_directory);
    }
    if (error) {
        return describeFileError("Could not create the folder", folder, error);
    }
    return std::nullopt;
}

std::optional<std::string> writeFileAtomically(const fs::path& file, const std::string& contents) {
    fs::path temporary = file;
    temporary += ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (out) {
            out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
            out.flush();
        }
        if (!out) {
            std::error_code error(errno ? errno : EIO, std::generic_category());
            std::error_code ignored;
            fs::remove(temporary, ignored);
            return describeFileError("Could not write the file", file, error);
        }
    }
    std::error_code error;
    fs::rename(temporary, file, error);
    if (error) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return describeFileError("Could not write the file", file, error);
    }
    return std::nullopt;
}

std::optional<std::string> readSmallRegularFile(const fs::path& file, std::size_t maxBytes) {
    std::error_code error;
    if (!fs::is_regular_file(file, error)) {
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string contents;
    contents.resize(maxBytes + 1);
    in.read(contents.data(), static_cast<std::streamsize>(contents.size()));
    if (in.bad()) {
        return std::nullopt;
    }
    contents.resize(static_cast<std::size_t>(in.gcount()));
    if (contents.size() > maxBytes) {
        return std::nullopt;
    }
    return contents;
}

}  // namespace companion
