#include "Identity.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace tarvelind {

std::string fingerprintOf(const IdentityKey& key) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(key.data(), key.size(), digest, &length, EVP_sha256(), nullptr);
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

std::optional<Identity> loadOrCreateIdentity(const std::filesystem::path& dir,
                                             const std::optional<FileOwner>& owner,
                                             std::string& error) {
    const std::filesystem::path path = dir / "identity.key";
    Identity identity;

    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        // One byte more than a key, so that an overlong file is noticed.
        unsigned char buffer[sizeof identity.key + 1];
        std::size_t total = 0;
        ssize_t n = 0;
        while (total < sizeof buffer &&
               (n = read(fd, buffer + total, sizeof buffer - total)) != 0) {
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                break;
            total += static_cast<std::size_t>(n);
        }
        int readErrno = n < 0 ? errno : 0;
        close(fd);
        if (readErrno != 0) {
            errno = readErrno;
            error = "cannot read " + path.string() + ": " + errnoText();
            return std::nullopt;
        }
        if (total != identity.key.size()) {
            error = path.string() + " is damaged: it should hold exactly 32 bytes";
            return std::nullopt;
        }
        std::copy_n(buffer, identity.key.size(), identity.key.begin());
    } else if (errno == ENOENT) {
        if (RAND_bytes(identity.key.data(), static_cast<int>(identity.key.size())) != 1) {
            error = "the random generator failed to produce an identity key";
            return std::nullopt;
        }
        std::string_view bytes(reinterpret_cast<const char*>(identity.key.data()),
                               identity.key.size());
        if (auto failure = writeFileAtomically(path, bytes, 0600, owner)) {
            error = "cannot create the identity key: " + *failure;
            return std::nullopt;
        }
    } else {
        error = "cannot open " + path.string() + ": " + errnoText();
        return std::nullopt;
    }

    identity.fingerprint = fingerprintOf(identity.key);
    return identity;
}

}  // namespace tarvelind
