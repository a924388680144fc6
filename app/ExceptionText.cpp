#include "app/ExceptionText.h"

#include <new>
#include <stdexcept>

namespace qm45 {

QString describeException(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        return QStringLiteral("Out of memory.");
    } catch (const std::exception& e) {
        const QString text = QString::fromLocal8Bit(e.what());
        return text.isEmpty() ? QStringLiteral("An unknown error occurred.") : text;
    } catch (...) {
        return QStringLiteral("An unknown error occurred.");
    }
}

} // namespace qm45
