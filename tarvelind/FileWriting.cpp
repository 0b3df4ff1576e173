#include "FileWriting.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarvelind {

std::string errnoText() {
    return std::strerror(errno);
}

std::optional<FileOwner> ownerForFilesIn(const std::filesystem::path& dir) {
    struct stat info {};
    if (geteuid() != 0 || stat(dir.c_str(), &info) != 0 || info.st_uid == 0) {
        return std::nullopt;
    }
    return FileOwner{info.st_uid, info.st_gid};
}

std::optional<std::string> writeFileAtomically(const std::filesystem::path& target,
                                               std::string_view bytes, mode_t mode,
                                               const std::optional<FileOwner>& owner) {
    std::filesystem::path folder = target.parent_path();
    if (folder.empty())
        folder = ".";
    // Appended, never prepended: GCC 12 at -O3 warns of an overlapping copy in an insert at the
    // front of a string (a false -Wrestrict).
    std::string tempName = folder.string() + "/." + target.filename().string() + ".XXXXXX";

    int fd = mkstemp(tempName.data());
    if (fd < 0) {
        return "cannot create a temporary file in " + folder.string() + ": " + errnoText();
    }
    auto fail = [&](const std::string& what) {
        std::string message = what + ": " + errnoText();
        if (fd >= 0)
            close(fd);
        unlink(tempName.c_str());
        return std::optional<std::string>(message);
    };

    for (std::size_t done = 0; done < bytes.size();) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail("cannot write " + tempName);
        }
        done += static_cast<std::size_t>(n);
    }
    if (fchmod(fd, mode) != 0)
        return fail("cannot set the mode of " + tempName);
    if (owner && fchown(fd, owner->uid, owner->gid) != 0)
        return fail("cannot change the owner of " + tempName);
    if (fsync(fd) != 0)
        return fail("cannot sync " + tempName);
    int closed = close(fd);
    fd = -1;
    if (closed != 0)
        return fail("cannot close " + tempName);
    if (rename(tempName.c_str(), target.c_str()) != 0) {
        return fail("cannot rename " + tempName + " to " + target.string());
    }

    // The rename itself only survives a power cut once the folder is synced too.
    int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return std::nullopt;
}

}  // namespace tarvelind
