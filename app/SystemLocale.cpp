#include "app/SystemLocale.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>

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
    *ok = false;
    for (const QString& path : configFiles) {
        QFile file(path);
        if (!file.exists())
            continue;
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            return {};
        // Shell-style assignments; values may be quoted. Later lines win, as
        // they would when the file is sourced.
        static const QRegularExpression assignment(
            QStringLiteral(R"re(^\s*(?:export\s+)?([A-Z_]+)=\s*(?:"([^"]*)"|'([^']*)'|(\S*)))re"));
        QHash<QString, QString> values;
        while (!file.atEnd()) {
            const QString line = QString::fromUtf8(file.readLine(4096));
            const auto m = assignment.match(line);
            if (m.hasMatch())
                values.insert(m.captured(1), m.captured(2) + m.captured(3) + m.captured(4));
        }
        *ok = true;
        for (const char* key : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
            const QString value = values.value(QLatin1String(key));
            if (!value.isEmpty())
                return value;
        }
        return QStringLiteral("C");
    }
    // No configuration at all: the machine runs in the C locale.
    *ok = true;
    return QStringLiteral("C");
}

QString LinuxSystemLocale::decimalMarkOf(const QString& localeName) {
    const QByteArray name = localeName.toLocal8Bit();
    locale_t loc = newlocale(LC_NUMERIC_MASK, name.constData(), locale_t(nullptr));
    if (loc == locale_t(nullptr))
        return {};
    const char* radix = nl_langinfo_l(RADIXCHAR, loc);
    const QString mark = radix ? QString::fromUtf8(radix) : QString();
    freelocale(loc);
    return mark;
}

} // namespace qm45
