#include "record/LimitNumber.h"

#include <QtTest>

using namespace qm45;

namespace {
QString describe(const std::optional<double>& value) {
    return value ? QString::number(*value, 'g', 17) : QStringLiteral("not a number");
}
} // namespace

class LimitNumberTest : public QObject {
    Q_OBJECT
private slots:
    void separatorIsTheMarksFirstCharacterUnlessBlank_data();
    void separatorIsTheMarksFirstCharacterUnlessBlank();
    void readsNumbersInTheLocalesNotation_data();
    void readsNumbersInTheLocalesNotation();
};

void LimitNumberTest::separatorIsTheMarksFirstCharacterUnlessBlank_data() {
    QTest::addColumn<QString>("mark");
    QTest::addColumn<QChar>("expected");
    QTest::newRow("period") << "." << QChar('.');
    QTest::newRow("comma") << "," << QChar(',');
    QTest::newRow("longer mark") << ",." << QChar(',');
    QTest::newRow("empty") << "" << QChar();
    QTest::newRow("blank first") << " ," << QChar();
}

void LimitNumberTest::separatorIsTheMarksFirstCharacterUnlessBlank() {
    QFETCH(QString, mark);
    QFETCH(QChar, expected);
    QCOMPARE(LimitNumber::separatorOf(mark), expected);
}

void LimitNumberTest::readsNumbersInTheLocalesNotation_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<bool>("isNumber");
    QTest::addColumn<double>("value");

    const QChar dot('.');
    const QChar comma(',');
    const QChar none;

    QTest::newRow("start-up high") << "4000" << dot << true << 4000.0;
    QTest::newRow("start-up low") << "-4000" << dot << true << -4000.0;
    QTest::newRow("fraction") << "3.9999" << dot << true << 3.9999;
    QTest::newRow("plus sign") << "+2" << dot << true << 2.0;
    QTest::newRow("minus zero") << "-0" << dot << true << 0.0;
    QTest::newRow("blanks around") << "  12.5  " << dot << true << 12.5;
    QTest::newRow("trailing mark") << "7." << dot << true << 7.0;
    QTest::newRow("leading mark") << ".5" << dot << true << 0.5;
    QTest::newRow("exponent") << "1e3" << dot << true << 1000.0;
    QTest::newRow("negative exponent") << "2.5E-3" << dot << true << 0.0025;
    QTest::newRow("signed exponent") << "-2.5e+2" << dot << true << -250.0;
    QTest::newRow("leading zeros") << "007" << dot << true << 7.0;

    QTest::newRow("empty") << "" << dot << false << 0.0;
    QTest::newRow("blanks only") << "   " << dot << false << 0.0;
    QTest::newRow("sign only") << "-" << dot << false << 0.0;
    QTest::newRow("mark only") << "." << dot << false << 0.0;
    QTest::newRow("sign and mark") << "-." << dot << false << 0.0;
    QTest::newRow("exponent without mantissa") << "e5" << dot << false << 0.0;
    QTest::newRow("exponent without digits") << "1e" << dot << false << 0.0;
    QTest::newRow("exponent sign without digits") << "1e+" << dot << false << 0.0;
    QTest::newRow("fractional exponent") << "1e2.5" << dot << false << 0.0;
    QTest::newRow("two marks") << "1.2.3" << dot << false << 0.0;
    QTest::newRow("two signs") << "--1" << dot << false << 0.0;
    QTest::newRow("sign after digits") << "1-" << dot << false << 0.0;
    QTest::newRow("blank inside") << "1 000" << dot << false << 0.0;
    QTest::newRow("tab is not a blank") << "\t1" << dot << false << 0.0;
    QTest::newRow("letters after") << "12abc" << dot << false << 0.0;
    QTest::newRow("letters") << "abc" << dot << false << 0.0;
    QTest::newRow("hexadecimal") << "0x10" << dot << false << 0.0;
    QTest::newRow("infinity") << "inf" << dot << false << 0.0;
    QTest::newRow("nan") << "nan" << dot << false << 0.0;
    QTest::newRow("apostrophe") << "4000'" << dot << false << 0.0;
    QTest::newRow("grave accent") << "`4000" << dot << false << 0.0;
    QTest::newRow("arabic-indic digits")
        << QString::fromUtf8("\u0661\u0662") << dot << false << 0.0;

    QTest::newRow("overload") << ".0L" << dot << false << 0.0;
    QTest::newRow("overload reversed") << "L0." << dot << false << 0.0;
    QTest::newRow("negative overload") << "-.0L" << dot << false << 0.0;

    QTest::newRow("the fallback") << "-999999" << dot << false << 0.0;
    QTest::newRow("the fallback with fraction digits") << "-999999.000" << dot << false << 0.0;
    QTest::newRow("the fallback as exponent") << "-9.99999e5" << dot << false << 0.0;
    QTest::newRow("beside the fallback") << "-999999.5" << dot << true << -999999.5;
    QTest::newRow("positive fallback digits") << "999999" << dot << true << 999999.0;

    QTest::newRow("overflowing exponent") << "1e400" << dot << false << 0.0;
    QTest::newRow("negative overflow") << "-1e400" << dot << false << 0.0;
    QTest::newRow("huge exponent digits") << "1e99999999999999999999" << dot << false << 0.0;
    QTest::newRow("400 digits") << QString(400, QLatin1Char('9')) << dot << false << 0.0;
    QTest::newRow("underflow reads as zero") << "1e-400" << dot << true << 0.0;
    QTest::newRow("long but in range")
        << QString(400, QLatin1Char('0')) + "123" << dot << true << 123.0;

    QTest::newRow("comma locale") << "3,9999" << comma << true << 3.9999;
    QTest::newRow("comma locale exponent") << "-0,5e1" << comma << true << -5.0;
    QTest::newRow("period in comma locale") << "3.9999" << comma << false << 0.0;
    QTest::newRow("comma in period locale") << "3,9999" << dot << false << 0.0;
    QTest::newRow("no mark: integer") << "15" << none << true << 15.0;
    QTest::newRow("no mark: exponent") << "15e1" << none << true << 150.0;
    QTest::newRow("no mark: period") << "1.5" << none << false << 0.0;
}

void LimitNumberTest::readsNumbersInTheLocalesNotation() {
    QFETCH(QString, text);
    QFETCH(QChar, separator);
    QFETCH(bool, isNumber);
    QFETCH(double, value);

    const std::optional<double> got = LimitNumber::parse(text, separator);
    const QString expected =
        isNumber ? QString::number(value, 'g', 17) : QStringLiteral("not a number");
    QVERIFY2(got.has_value() == isNumber && (!got || *got == value),
             qPrintable(QStringLiteral("\"%1\" with mark '%2': expected %3, got %4")
                            .arg(text.left(40), QString(separator), expected, describe(got))));
}

QTEST_APPLESS_MAIN(LimitNumberTest)
#include "LimitNumberTest.moc"
