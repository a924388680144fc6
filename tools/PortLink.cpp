#include "tools/PortLink.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace qm45::sim {

namespace {

constexpr int kMaxNumberedLinks = 256;

[[nodiscard]] bool isDanglingLink(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
        return false;
    }
    return stat(path.c_str(), &info) != 0 && errno == ENOENT;
}

[[nodiscard]] std::string linkTarget(const std::string& path) {
    char buffer[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

} // namespace

PortLink::~PortLink() {
    remove();
}

bool PortLink::create(const std::string& linkPath, const std::string& target, std::string& error) {
    remove();
    if (symlink(target.c_str(), linkPath.c_str()) != 0) {
        error = linkPath + ": " + std::strerror(errno);
        return false;
    }
    path_ = linkPath;
    target_ = target;
    return true;
}

bool PortLink::createNumbered(const std::string& prefix, const std::string& target,
                              std::string& error) {
    remove();
    for (int n = 0; n < kMaxNumberedLinks; ++n) {
        const std::string candidate = prefix + std::to_string(n);
        if (symlink(target.c_str(), candidate.c_str()) == 0) {
            path_ = candidate;
            target_ = target;
            return true;
        }
        if (errno != EEXIST) {
            error = candidate + ": " + std::strerror(errno);
            return false;
        }
        // A link to our own, brand-new port can only be left over from a run that
        // had the same pty number. Another simulator may take the name between the
        // unlink and the symlink; then this number is taken and the search goes on.
        const bool stale = isDanglingLink(candidate) || linkTarget(candidate) == target;
        if (stale && unlink(candidate.c_str()) == 0 &&
            symlink(target.c_str(), candidate.c_str()) == 0) {
            path_ = candidate;
            target_ = target;
            return true;
        }
    }
    error =
        "no free name from " + prefix + "0 to " + prefix + std::to_string(kMaxNumberedLinks - 1);
    return false;
}

void PortLink::remove() {
    if (path_.empty()) {
        return;
    }
    if (linkTarget(path_) == target_) {
        unlink(path_.c_str());
    }
    path_.clear();
    target_.clear();
}

} // namespace qm45::sim
