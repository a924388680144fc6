#pragma once

#include "record/LocaleConfig.h"

#include <QString>
#include <QStringList>

namespace qm45 {

// Where the decimal separator comes from. The program follows the machine's
// default locale, not the locale of the user who started it.
class SystemLocale {
public:
    virtual ~SystemLocale() = default;
    // The decimal separator, or an empty text when it cannot be determined.
    [[nodiscard]] virtual QString decimalMark() const = 0;
};

// Linux: the system default is what the locale configuration files say
// (/etc/default/locale on Debian, /etc/locale.conf with systemd), never the
// environment of this process.
class LinuxSystemLocale final : public SystemLocale {
public:
    explicit LinuxSystemLocale(QStringList configFiles = kLocaleConfigFiles);
    [[nodiscard]] QString decimalMark() const override;

    // The locale that governs numbers according to the first configuration
    // file that exists: LC_ALL, else LC_NUMERIC, else LANG, else "C".
    // An empty result means the configuration could not be read.
    [[nodiscard]] static QString numericLocaleName(const QStringList& configFiles, bool* ok);
    // The decimal separator of a named locale; from Qt's locale data when the
    // locale is not generated on the machine; empty when neither knows it.
    [[nodiscard]] static QString decimalMarkOf(const QString& localeName);

private:
    QStringList configFiles_;
};

} // namespace qm45
