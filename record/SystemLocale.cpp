#include "record/SystemLocale.h"

#include "record/LocaleConfig.h"

#include <clocale>
#include <langinfo.h>
#include <locale.h>

namespace qm45 {

LinuxSystemLocale::LinuxSystemLocale(QStringList configFiles)
    : configFiles_(std::move(configFiles)) {}

QString LinuxSystemLocale::decimalMark() const {
    bool ok = false;
    const QString name = numericLocaleName(configFiles_, &ok);
    return ok ? decimalMarkOf(name) : QString();
}

QString LinuxSystemLocale::numericLocaleName(const QStringList& configFiles, bool* ok) {
    return configuredLocaleName(configFiles, {"LC_ALL", "LC_NUMERIC", "LANG"}, ok);
}

QString LinuxSystemLocale::decimalMarkOf(const QString& localeName) {
    const QByteArray name = localeName.toLocal8Bit();
    locale_t loc = newlocale(LC_NUMERIC_MASK, name.constData(), locale_t(nullptr));
    if (loc == locale_t(nullptr)) {
        const std::optional<QLocale> known = qtLocaleFor(localeName);
        return known ? known->decimalPoint() : QString();
    }
    const char* radix = nl_langinfo_l(RADIXCHAR, loc);
    const QString mark = radix ? QString::fromUtf8(radix) : QString();
    freelocale(loc);
    return mark;
}

} // namespace qm45
