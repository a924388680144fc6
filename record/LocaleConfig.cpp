#include "record/LocaleConfig.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>

namespace qm45 {

std::optional<QLocale> qtLocaleFor(const QString& posixName) {
    QString name = posixName;
    for (const QChar cut : {QLatin1Char('@'), QLatin1Char('.')}) {
        const qsizetype at = name.indexOf(cut);
        if (at >= 0)
            name.truncate(at);
    }
    if (name.isEmpty() || name == QLatin1String("C") || name == QLatin1String("POSIX"))
        return std::nullopt;
    const QLocale locale(name);
    if (locale.language() == QLocale::C)
        return std::nullopt;
    return locale;
}

QString configuredLocaleName(const QStringList& configFiles,
                             std::initializer_list<const char*> keys, bool* readable) {
    *readable = false;
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
        *readable = true;
        for (const char* key : keys) {
            const QString value = values.value(QLatin1String(key));
            if (!value.isEmpty())
                return value;
        }
        return QStringLiteral("C");
    }
    // No configuration at all: the machine runs in the C locale.
    *readable = true;
    return QStringLiteral("C");
}

} // namespace qm45
