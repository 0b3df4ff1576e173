#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <fstream>

namespace companion {

namespace fs = std::filesystem;

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
    // Opened without waiting and checked on the open descriptor, so a FIFO swapped in after a
    // look at the path cannot block the main thread.
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat status {};
    std::optional<std::string> contents;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
        static_cast<std::size_t>(status.st_size) <= maxBytes) {
        std::string read(maxBytes + 1, '\0');
        std::size_t total = 0;
        for (;;) {
            const ssize_t got = ::read(fd, read.data() + total, read.size() - total);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                if (got == 0 && total <= maxBytes) {
                    read.resize(total);
                    contents = std::move(read);
                }
                break;
            }
            total += static_cast<std::size_t>(got);
            if (total > maxBytes) {
                break;  // it grew past the limit while we read
            }
        }
    }
    ::close(fd);
    return contents;
}

}  // namespace companion
