#include "link/AccessHelp.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class AccessHelpTest : public QObject {
    Q_OBJECT
private slots:
    void installedRuleAsksForAReplug();
    void buildTreeAsksForTheRule();
};

// The package put the rule in place: the cable only has to meet it again.
void AccessHelpTest::installedRuleAsksForAReplug() {
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("usr/70-qm45-usb-to-serial.rules"));
    const QString rule = dir.filePath(QStringLiteral("70-qm45-usb-to-serial.rules"));
    QFile file(rule);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    const QString help = qm45::cableAccessHelp({missing, rule});
    QVERIFY2(help.startsWith(
                 QStringLiteral("The USB interface cable was found, but it cannot be opened")),
             qPrintable(help));
    QVERIFY2(help.contains(rule) &&
                 help.contains(QStringLiteral("unplug the cable and plug it in again")),
             qPrintable(help));
    QVERIFY2(!help.contains(QStringLiteral("install-udev-rule")), qPrintable(help));
}

// No rule anywhere: running from a build tree, the rule is installed by hand.
void AccessHelpTest::buildTreeAsksForTheRule() {
    QTemporaryDir dir;
    const QString help = qm45::cableAccessHelp({dir.filePath(QStringLiteral("none.rules"))});
    QVERIFY2(help.contains(QStringLiteral("sudo sh scripts/install-udev-rule.sh")) &&
                 help.contains(QStringLiteral("plug it in again")),
             qPrintable(help));
}

QTEST_APPLESS_MAIN(AccessHelpTest)
#include "AccessHelpTest.moc"
