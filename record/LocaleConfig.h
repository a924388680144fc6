#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>

#include <initializer_list>
#include <optional>

namespace qm45 {

// The machine's default locale as the locale configuration files name it
// (/etc/default/locale on Debian, /etc/locale.conf with systemd), not the
// environment of this process.
inline const QStringList kLocaleConfigFiles{QStringLiteral("/etc/default/locale"),
                                            QStringLiteral("/etc/locale.conf")};

// The locale named by the first of `configFiles` that exists: the value of
// the first of `keys` it assigns (e.g. LC_ALL, LC_NUMERIC, LANG), else "C";
// "C" too when none of the files exists. `*readable` is false, and the result
// empty, when the first existing file cannot be read.
// Qt's own data for a POSIX locale name such as "fr_FR.UTF-8": the name
// without its codeset and modifier. For a locale that is configured but not
// generated on the machine, which the C library then cannot open. Nothing
// when Qt does not know the name either (it would give the C locale).
[[nodiscard]] std::optional<QLocale> qtLocaleFor(const QString& posixName);

[[nodiscard]] QString configuredLocaleName(const QStringList& configFiles,
                                           std::initializer_list<const char*> keys, bool* readable);

} // namespace qm45
