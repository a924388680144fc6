#include "protocol/UnitSymbols.h"

#include <QtTest>

#include <string>

using namespace qm45;

class TestUnitSymbols : public QObject {
    Q_OBJECT
private slots:
    void unitCodesDisplayWithTheirSymbols_data();
    void unitCodesDisplayWithTheirSymbols();
    void decoderTextsDisplayLikeQtTexts_data();
    void decoderTextsDisplayLikeQtTexts();
    void onlySymbolCodesAreSymbols_data();
    void onlySymbolCodesAreSymbols();
};

void TestUnitSymbols::unitCodesDisplayWithTheirSymbols_data() {
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("expected");

    const QString ohm = QStringLiteral("\u03A9");
    const QString micro = QStringLiteral("\u00B5");
    QTest::newRow("ohm") << "*" << ohm;
    QTest::newRow("kilo-ohm") << "k*"
                              << "k" + ohm;
    QTest::newRow("mega-ohm") << "M*"
                              << "M" + ohm;
    QTest::newRow("micro code") << "+" << micro;
    QTest::newRow("degree Celsius") << "#" << QStringLiteral("\u00B0C");
    QTest::newRow("degree Fahrenheit") << "?" << QStringLiteral("\u00B0F");
    QTest::newRow("volt") << "V"
                          << "V";
    QTest::newRow("millivolt") << "mV"
                               << "mV";
    QTest::newRow("u stays a letter") << "uF"
                                      << "uF";
    QTest::newRow("uA") << "uA"
                        << "uA";
    QTest::newRow("kHz") << "kHz"
                         << "kHz";
    QTest::newRow("percent of loop current") << "mA%"
                                             << "mA%";
    QTest::newRow("percent") << "%"
                             << "%";
    QTest::newRow("watt") << "W"
                          << "W";
    QTest::newRow("no unit") << ""
                             << "";
}

void TestUnitSymbols::unitCodesDisplayWithTheirSymbols() {
    QFETCH(QString, code);
    QFETCH(QString, expected);
    const QString actual = unitDisplayText(QStringView(code));
    QVERIFY2(actual == expected,
             qPrintable(QStringLiteral("code \"%1\": expected \"%2\", got \"%3\"")
                            .arg(code, expected, actual)));
}

void TestUnitSymbols::decoderTextsDisplayLikeQtTexts_data() {
    QTest::addColumn<QString>("code");
    QTest::newRow("k-ohm") << "k*";
    QTest::newRow("Celsius") << "#";
    QTest::newRow("all symbols") << "*+#?)&";
    QTest::newRow("letters") << "mA%";
}

void TestUnitSymbols::decoderTextsDisplayLikeQtTexts() {
    QFETCH(QString, code);
    const std::string bytes = code.toStdString();
    const QString fromBytes = unitDisplayText(std::string_view(bytes));
    const QString fromQt = unitDisplayText(QStringView(code));
    QVERIFY2(fromBytes == fromQt,
             qPrintable(QStringLiteral("code \"%1\": std::string gives \"%2\", "
                                       "QString gives \"%3\"")
                            .arg(code, fromBytes, fromQt)));
}

void TestUnitSymbols::onlySymbolCodesAreSymbols_data() {
    QTest::addColumn<QChar>("code");
    QTest::addColumn<bool>("isSymbol");
    for (char c : std::string("*+#?)&"))
        QTest::newRow(std::string(1, c).c_str()) << QChar::fromLatin1(c) << true;
    for (char c : std::string("AVkmMunFHzW%"))
        QTest::newRow(std::string(1, c).c_str()) << QChar::fromLatin1(c) << false;
}

void TestUnitSymbols::onlySymbolCodesAreSymbols() {
    QFETCH(QChar, code);
    QFETCH(bool, isSymbol);
    QCOMPARE(isUnitSymbolCode(code), isSymbol);
    const QString text = unitSymbolText(code);
    if (isSymbol) {
        QVERIFY2(!text.isEmpty() && !text.contains(code),
                 qPrintable(QStringLiteral("symbol code '%1' shown as \"%2\"").arg(code, text)));
    } else {
        QCOMPARE(text, QString(code));
    }
}

QTEST_APPLESS_MAIN(TestUnitSymbols)
#include "UnitSymbolsTest.moc"
