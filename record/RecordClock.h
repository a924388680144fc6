#pragma once

#include "record/LocaleConfig.h"

#include <QString>
#include <QStringList>
#include <QTime>

namespace qm45 {

// Where the recorder's time column comes from: the time of day and the
// character the system puts between hours, minutes and seconds.
class RecordClock {
public:
    virtual ~RecordClock() = default;
    [[nodiscard]] virtual QTime timeOfDay() const = 0;
    // Never empty.
    [[nodiscard]] virtual QString timeSeparator() const = 0;
};

// The local clock, and the time separator of the machine's default locale as
// the locale configuration files name it (/etc/default/locale on Debian,
// /etc/locale.conf with systemd), not the environment of this process. The
// separator is read once, at construction.
class SystemRecordClock final : public RecordClock {
public:
    explicit SystemRecordClock(const QStringList& configFiles = kLocaleConfigFiles);
    [[nodiscard]] QTime timeOfDay() const override;
    [[nodiscard]] QString timeSeparator() const override;

    // The locale that governs times according to the first configuration file
    // that exists: LC_ALL, else LC_TIME, else LANG, else "C". An empty result
    // means the file could not be read.
    [[nodiscard]] static QString timeLocaleName(const QStringList& configFiles);
    // The separator of a named locale's time format; from Qt's locale data
    // when the locale is not generated on the machine; empty when neither
    // knows it.
    [[nodiscard]] static QString timeSeparatorOf(const QString& localeName);
    // The text between the hour and the minute in a Qt time format
    // ("HH.mm.ss" gives "."; quotes are removed), empty when there is none.
    [[nodiscard]] static QString separatorInQtTimeFormat(const QString& format);
    // The text between the hour and the minute in a strftime time format
    // ("%H.%M.%S" gives "."), empty when the format has no such pair.
    [[nodiscard]] static QString separatorInTimeFormat(const QString& format);

private:
    QString separator_;
};

} // namespace qm45
