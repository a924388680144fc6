#pragma once

#include <string>

namespace qm45::sim {

// A symbolic link that publishes the virtual meter's port under a stable name,
// e.g. /dev/ttyV0 -> /dev/pts/3, where the program's port list finds it. The link
// is removed again by remove() or on destruction, but only while it still points
// to our port: a link somebody has since replaced is left alone.
class PortLink {
public:
    PortLink() = default;
    ~PortLink();
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;

    // Links exactly `linkPath`; fails if that name exists already.
    [[nodiscard]] bool create(const std::string& linkPath, const std::string& target,
                              std::string& error);

    // Links the lowest free `prefix`<N>, N = 0, 1, 2, ... A link left behind by a
    // run that was killed does not count as taken when it dangles or already
    // points to `target`; it is replaced.
    [[nodiscard]] bool createNumbered(const std::string& prefix, const std::string& target,
                                      std::string& error);

    void remove();

    // Empty while no link is held.
    [[nodiscard]] const std::string& path() const { return path_; }

private:
    std::string path_;
    std::string target_;
};

} // namespace qm45::sim
