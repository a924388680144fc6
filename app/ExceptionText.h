#pragma once

#include <QString>

#include <exception>

namespace qm45 {

// The text the user is shown for an exception: its what(), "Out of memory."
// for std::bad_alloc, "An unknown error occurred." for anything else.
[[nodiscard]] QString describeException(const std::exception_ptr& error);

} // namespace qm45
