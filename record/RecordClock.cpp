#include "record/RecordClock.h"

#include <QRegularExpression>

#include <clocale>
#include <langinfo.h>
#include <locale.h>

namespace qm45 {

namespace {
const QString kDefaultSeparator = QStringLiteral(":");
}

SystemRecordClock::SystemRecordClock(const QStringList& configFiles) {
    const QString name = timeLocaleName(configFiles);
    separator_ = name.isEmpty() ? QString() : timeSeparatorOf(name);
    if (separator_.isEmpty())
        separator_ = kDefaultSeparator;
}

QTime SystemRecordClock::timeOfDay() const {
    return QTime::currentTime();
}

QString SystemRecordClock::timeSeparator() const {
    return separator_;
}

QString SystemRecordClock::timeLocaleName(const QStringList& configFiles) {
    bool readable = false;
    return configuredLocaleName(configFiles, {"LC_ALL", "LC_TIME", "LANG"}, &readable);
}

QString SystemRecordClock::timeSeparatorOf(const QString& localeName) {
    const QByteArray name = localeName.toLocal8Bit();
    locale_t loc = newlocale(LC_TIME_MASK, name.constData(), locale_t(nullptr));
    if (loc == locale_t(nullptr)) {
        const std::optional<QLocale> known = qtLocaleFor(localeName);
        if (!known)
            return {};
        // Qt's formats are written for reading ("HH 'h' mm" in fr_CA); the
        // time column takes one mark between the fields, or the default.
        const QString separator = separatorInQtTimeFormat(known->timeFormat(QLocale::LongFormat));
        const bool oneMark = separator.size() == 1 && !separator[0].isLetterOrNumber() && !separator[0].isSpace();
        return oneMark ? separator : kDefaultSeparator;
    }
    const char* format = nl_langinfo_l(T_FMT, loc);
    const QString separator = format ? separatorInTimeFormat(QString::fromUtf8(format)) : QString();
    freelocale(loc);
    return separator;
}

QString SystemRecordClock::separatorInQtTimeFormat(const QString& format) {
    // Letters are fields, text in single quotes is literal ('' is a quote).
    QString separator;
    bool afterHour = false;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == u'\'') {
            if (i + 1 < format.size() && format[i + 1] == u'\'') {
                if (afterHour)
                    separator += c;
                ++i;
            } else {
                quoted = !quoted;
            }
            continue;
        }
        if (quoted || !c.isLetter()) {
            if (afterHour)
                separator += c;
            continue;
        }
        if (c == u'h' || c == u'H') {
            if (afterHour && !separator.isEmpty())
                separator.clear(); // a second hour field: start again
            afterHour = true;
        } else if (afterHour) {
            if (c == u'm' && !separator.isEmpty())
                return separator;
            separator.clear();
            afterHour = false;
        }
    }
    return {};
}

QString SystemRecordClock::separatorInTimeFormat(const QString& format) {
    QString expanded = format;
    expanded.replace(QLatin1String("%T"), QLatin1String("%H:%M:%S"));
    expanded.replace(QLatin1String("%R"), QLatin1String("%H:%M"));
    expanded.replace(QLatin1String("%r"), QLatin1String("%I:%M:%S %p"));
    // An hour conversion (with optional flag, width and E/O modifier), the
    // separator, then a minute conversion.
    static const QRegularExpression hourThenMinute(
        QStringLiteral(R"re(%[-_0^#]?\d*[EO]?[HIkl]([^%]+)%[-_0^#]?\d*[EO]?M)re"));
    const auto m = hourThenMinute.match(expanded);
    return m.hasMatch() ? m.captured(1) : QString();
}

} // namespace qm45
