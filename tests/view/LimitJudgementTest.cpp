#include "view/LimitJudgement.h"
#include "view/JudgementPanel.h"

#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QtTest>

#include <cmath>
#include <cstdlib>
#include <memory>

using namespace qm45;

namespace {

struct Fixture {
    explicit Fixture(const QString& decimalMark = QStringLiteral("."))
        : judgement(panel, decimalMark) {}

    QLineEdit* limitEdit(bool high) const { return high ? panel.T1HI : panel.T1LO; }
    QTimer* timer(bool high) const { return high ? judgement.Timer3() : judgement.Timer4(); }
    const QString& lastValid(bool high) const {
        return high ? judgement.LastValidHigh() : judgement.LastValidLow();
    }
    void fire(bool high) {
        if (high)
            judgement.Timer3Timer();
        else
            judgement.Timer4Timer();
    }

    JudgementPanel panel;
    LimitJudgement judgement;
};

QString colourName(const QColor& c) {
    return c.name();
}

// Empty when T1VALUE, Shape1 and judge show `colour` and judge reads `text`
// in full; otherwise what differs.
QString verdictMismatch(const JudgementPanel& panel, const QColor& colour, const QString& text) {
    QStringList wrong;
    const QColor value = panel.T1VALUE->palette().color(QPalette::Base);
    if (value != colour)
        wrong << QStringLiteral("T1VALUE %1").arg(colourName(value));
    if (panel.Shape1->fill() != colour)
        wrong << QStringLiteral("Shape1 %1").arg(colourName(panel.Shape1->fill()));
    const QColor label = panel.judge->palette().color(QPalette::Window);
    if (label != colour)
        wrong << QStringLiteral("judge %1").arg(colourName(label));
    if (panel.judge->text() != text)
        wrong << QStringLiteral("judge text \"%1\"").arg(panel.judge->text());
    const QFontMetrics metrics(panel.judge->font());
    if (!text.isEmpty() && (panel.judge->width() < metrics.horizontalAdvance(text) ||
                            panel.judge->height() < metrics.height()))
        wrong << QStringLiteral("judge is %1x%2, too small for its text")
                     .arg(panel.judge->width())
                     .arg(panel.judge->height());
    if (wrong.isEmpty())
        return {};
    return QStringLiteral("expected %1 \"%2\", got: %3")
        .arg(colourName(colour), text, wrong.join(QStringLiteral(", ")));
}

QString describe(const std::optional<QString>& judgeText) {
    return judgeText ? QStringLiteral("\"%1\"").arg(*judgeText) : QStringLiteral("no verdict");
}

} // namespace

class LimitJudgementTest : public QObject {
    Q_OBJECT
private slots:
    void judgesTheReadingAgainstBothLimits_data();
    void judgesTheReadingAgainstBothLimits();
    void judgesTheGivenValueNotWhatWasTypedIntoTheValueBox();
    void invalidLimitLeavesThePreviousVerdict_data();
    void invalidLimitLeavesThePreviousVerdict();

    void keyFilterKeepsOnlyNumberCharacters_data();
    void keyFilterKeepsOnlyNumberCharacters();
    void keyFilterLetsEditingKeysThrough();
    void controlCharactersAreRefused_data();
    void controlCharactersAreRefused();
    void returnKeyIsRefused();

    void timersAreStoppedOneShotsOf500ms();
    void limitSettles500msAfterTheLastChange();
    void invalidTextRevertsToTheLastValidText_data();
    void invalidTextRevertsToTheLastValidText();
    void revertGoesToTheLastSettledText();
    void pastedJunkIsRepaired();

    void limitEditsKeepTheirSelectionWhenFocusLeaves();

    void verdictLampIsACircleClearOfTheValueBox();
};

void LimitJudgementTest::judgesTheReadingAgainstBothLimits_data() {
    QTest::addColumn<QString>("mark");
    QTest::addColumn<QString>("low");
    QTest::addColumn<QString>("high");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("pass");

    QTest::newRow("inside") << "."
                            << "-4000"
                            << "4000"
                            << "3.9999" << true;
    QTest::newRow("equal to high") << "."
                                   << "-4000"
                                   << "4000"
                                   << "4000" << true;
    QTest::newRow("equal to low") << "."
                                  << "-4000"
                                  << "4000"
                                  << "-4000" << true;
    QTest::newRow("both limits equal to the value") << "."
                                                    << "2.5"
                                                    << "2.5"
                                                    << "2.5" << true;
    QTest::newRow("limit written differently") << "."
                                               << "1e1"
                                               << "10"
                                               << "10.00" << true;
    QTest::newRow("just above high") << "."
                                     << "-4000"
                                     << "4000"
                                     << "4000.1" << false;
    QTest::newRow("just below low") << "."
                                    << "-4000"
                                    << "4000"
                                    << "-4000.1" << false;
    QTest::newRow("reversed limits, between") << "."
                                              << "10"
                                              << "5"
                                              << "7" << false;
    QTest::newRow("reversed limits, at low") << "."
                                             << "10"
                                             << "5"
                                             << "10" << false;
    QTest::newRow("reversed limits, at high") << "."
                                              << "10"
                                              << "5"
                                              << "5" << false;
    QTest::newRow("reversed limits, below") << "."
                                            << "10"
                                            << "5"
                                            << "-3" << false;
    QTest::newRow("overload") << "."
                              << "-4000"
                              << "4000"
                              << ".0L" << false;
    QTest::newRow("overload reversed") << "."
                                       << "-4000"
                                       << "4000"
                                       << "L0." << false;
    QTest::newRow("negative overload") << "."
                                       << "-4000"
                                       << "4000"
                                       << "-.0L" << false;
    QTest::newRow("empty value") << "."
                                 << "-4000"
                                 << "4000"
                                 << "" << false;
    QTest::newRow("value is the fallback") << "."
                                           << "-1e7"
                                           << "1e7"
                                           << "-999999" << false;
    QTest::newRow("comma, inside") << ","
                                   << "-4000"
                                   << "4000"
                                   << "3,9999" << true;
    QTest::newRow("comma, limits with marks") << ","
                                              << "0,5"
                                              << "1,5"
                                              << "1,5" << true;
    QTest::newRow("comma, above") << ","
                                  << "0"
                                  << "1"
                                  << "1,0001" << false;
    QTest::newRow("comma, period is no mark") << ","
                                              << "0"
                                              << "1"
                                              << "0.5" << false;
    QTest::newRow("no mark, integer value") << ""
                                            << "-4000"
                                            << "4000"
                                            << "39999" << false;
}

void LimitJudgementTest::judgesTheReadingAgainstBothLimits() {
    QFETCH(QString, mark);
    QFETCH(QString, low);
    QFETCH(QString, high);
    QFETCH(QString, value);
    QFETCH(bool, pass);

    Fixture f(mark);
    // Start from the other verdict, so a verdict that is returned but never
    // painted shows.
    const std::optional<QString> before =
        f.judgement.judge(pass ? QStringLiteral("L0.") : QStringLiteral("0"));
    QVERIFY2(before && *before == QLatin1String(pass ? "Fail" : "pass"),
             qPrintable(describe(before)));

    f.panel.T1LO->setText(low);
    f.panel.T1HI->setText(high);
    f.panel.T1VALUE->setText(value);
    const std::optional<QString> got = f.judgement.judge(value);
    const QString expected = pass ? QStringLiteral("pass") : QStringLiteral("Fail");
    QVERIFY2(got && *got == expected,
             qPrintable(QStringLiteral("%1 in [%2, %3]: expected \"%4\", got %5")
                            .arg(value, low, high, expected, describe(got))));
    const QString mismatch =
        verdictMismatch(f.panel, pass ? LimitJudgement::passColour() : LimitJudgement::failColour(),
                        pass ? QStringLiteral("Pass") : QStringLiteral("Fail"));
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
}

void LimitJudgementTest::judgesTheGivenValueNotWhatWasTypedIntoTheValueBox() {
    Fixture f;
    f.panel.T1VALUE->setText(QStringLiteral("1"));
    const std::optional<QString> got = f.judgement.judge(QStringLiteral("5000"));
    QVERIFY2(got && *got == QLatin1String("Fail"), qPrintable(describe(got)));
}

void LimitJudgementTest::invalidLimitLeavesThePreviousVerdict_data() {
    QTest::addColumn<bool>("high");
    QTest::addColumn<QString>("text");

    QTest::newRow("high emptied") << true << "";
    QTest::newRow("low emptied") << false << "";
    QTest::newRow("high sign only") << true << "-";
    QTest::newRow("low apostrophe") << false << "-4000'";
    QTest::newRow("high fallback") << true << "-999999";
    QTest::newRow("low overflow") << false << "-1e400";
    QTest::newRow("high foreign mark") << true << "4000,5";
}

void LimitJudgementTest::invalidLimitLeavesThePreviousVerdict() {
    QFETCH(bool, high);
    QFETCH(QString, text);

    Fixture f;
    f.limitEdit(high)->setText(text);
    std::optional<QString> got = f.judgement.judge(QStringLiteral("1"));
    QVERIFY2(
        !got,
        qPrintable(
            QStringLiteral("before any verdict: expected no verdict, got %1").arg(describe(got))));
    QString mismatch = verdictMismatch(f.panel, JudgementPanel::paleYellow(), QString());
    QVERIFY2(mismatch.isEmpty(), qPrintable(QStringLiteral("start-up state lost: ") + mismatch));

    f.limitEdit(high)->setText(high ? QStringLiteral("4000") : QStringLiteral("-4000"));
    got = f.judgement.judge(QStringLiteral("1"));
    QVERIFY2(got && *got == QLatin1String("pass"), qPrintable(describe(got)));

    f.limitEdit(high)->setText(text);
    got = f.judgement.judge(QStringLiteral(".0L"));
    QVERIFY2(!got, qPrintable(QStringLiteral("expected no verdict, got %1").arg(describe(got))));
    mismatch = verdictMismatch(f.panel, LimitJudgement::passColour(), QStringLiteral("Pass"));
    QVERIFY2(mismatch.isEmpty(), qPrintable(QStringLiteral("previous verdict lost: ") + mismatch));
}

void LimitJudgementTest::keyFilterKeepsOnlyNumberCharacters_data() {
    QTest::addColumn<QString>("mark");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");

    QTest::newRow("digits and signs") << "."
                                      << ""
                                      << "+-0123456789"
                                      << "+-0123456789";
    QTest::newRow("apostrophe and grave accent") << "."
                                                 << "40"
                                                 << "'`"
                                                 << "40'`";
    QTest::newRow("one mark") << "."
                              << "40"
                              << ".5"
                              << "40.5";
    QTest::newRow("second mark typed") << "."
                                       << "40"
                                       << ".5."
                                       << "40.5";
    QTest::newRow("mark already there") << "."
                                        << "4.5"
                                        << "."
                                        << "4.5";
    QTest::newRow("letters") << "."
                             << "40"
                             << "abcxyzE"
                             << "40";
    QTest::newRow("blanks and punctuation") << "."
                                            << "40"
                                            << " ,;:*/=_\""
                                            << "40";
    QTest::newRow("comma is the mark") << ","
                                       << "40"
                                       << ".,5,"
                                       << "40,5";
    QTest::newRow("blank first in mark") << " ,"
                                         << "40"
                                         << ", ."
                                         << "40";
    QTest::newRow("no mark") << ""
                             << "40"
                             << ".,1"
                             << "401";
}

void LimitJudgementTest::keyFilterKeepsOnlyNumberCharacters() {
    QFETCH(QString, mark);
    QFETCH(QString, start);
    QFETCH(QString, typed);
    QFETCH(QString, expected);

    for (bool high : {true, false}) {
        Fixture f(mark);
        QLineEdit* edit = f.limitEdit(high);
        edit->setText(start);
        QTest::keyClicks(edit, typed);
        QVERIFY2(
            edit->text() == expected,
            qPrintable(
                QStringLiteral(
                    "%1: typed \"%2\" after \"%3\" with mark \"%4\": expected \"%5\", got \"%6\"")
                    .arg(edit->objectName(), typed, start, mark, expected, edit->text())));
    }
}

void LimitJudgementTest::keyFilterLetsEditingKeysThrough() {
    Fixture f;
    QLineEdit* edit = f.panel.T1HI;
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(edit->text(), QStringLiteral("400"));
    QTest::keyClick(edit, Qt::Key_Home);
    // X11 reports Delete with the character 127, which the filter must not
    // take for a typed character.
    QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_Delete, QString(QChar(127)), Qt::NoModifier);
    QCOMPARE(edit->text(), QStringLiteral("00"));
    QTest::keyClick(edit, Qt::Key_Right);
    QTest::keyClick(edit, '7');
    QCOMPARE(edit->text(), QStringLiteral("070"));
}

void LimitJudgementTest::controlCharactersAreRefused_data() {
    QTest::addColumn<QString>("reportedText");
    // Platforms report Ctrl+letter with the letter, with its control
    // character, or with no text at all.
    QTest::newRow("letter") << "letter";
    QTest::newRow("control character") << "control";
    QTest::newRow("no text") << "";
}

void LimitJudgementTest::controlCharactersAreRefused() {
    QFETCH(QString, reportedText);
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("123"));
    if (clipboard->text() != QLatin1String("123"))
        QSKIP("this platform has no clipboard");

    const auto press = [&](QLineEdit* edit, Qt::Key key, char letter) {
        QString text;
        if (reportedText == QLatin1String("letter"))
            text = QString(QLatin1Char(letter));
        else if (reportedText == QLatin1String("control"))
            text = QString(QChar(letter - 'a' + 1));
        QTest::sendKeyEvent(QTest::Click, edit, key, text, Qt::ControlModifier);
    };

    Fixture f;
    QLineEdit* edit = f.panel.T1LO;
    edit->selectAll();
    press(edit, Qt::Key_C, 'c');
    QCOMPARE(clipboard->text(), QStringLiteral("123"));
    press(edit, Qt::Key_X, 'x');
    QCOMPARE(edit->text(), QStringLiteral("-4000"));
    press(edit, Qt::Key_V, 'v');
    QCOMPARE(edit->text(), QStringLiteral("-4000"));
    edit->end(false);
    press(edit, Qt::Key_A, 'a');
    QVERIFY2(!edit->hasSelectedText(), "Ctrl+A selected the text");
    // Ctrl+Backspace would delete a word.
    QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_Backspace,
                        reportedText.isEmpty() ? QString() : QString(QChar(127)),
                        Qt::ControlModifier);
    QCOMPARE(edit->text(), QStringLiteral("-4000"));

    for (ushort code : {1, 3, 9, 13, 22, 24, 27, 127})
        QVERIFY2(!f.judgement.T1LOKeyPress(QChar(code)),
                 qPrintable(QStringLiteral("character %1 kept").arg(code)));
}

void LimitJudgementTest::returnKeyIsRefused() {
    Fixture f;
    QSignalSpy returned(f.panel.T1HI, &QLineEdit::returnPressed);
    QTest::keyClick(f.panel.T1HI, Qt::Key_Return);
    QCOMPARE(returned.count(), 0);
}

void LimitJudgementTest::timersAreStoppedOneShotsOf500ms() {
    Fixture f;
    for (bool high : {true, false}) {
        QTimer* timer = f.timer(high);
        QCOMPARE(timer->objectName(), QString::fromLatin1(high ? "Timer3" : "Timer4"));
        QCOMPARE(timer->interval(), 500);
        QVERIFY(timer->isSingleShot());
        QVERIFY2(!timer->isActive(),
                 qPrintable(timer->objectName() + QStringLiteral(" runs at start-up")));
    }
    QCOMPARE(f.judgement.LastValidHigh(), QStringLiteral("4000"));
    QCOMPARE(f.judgement.LastValidLow(), QStringLiteral("-4000"));
}

void LimitJudgementTest::limitSettles500msAfterTheLastChange() {
    Fixture f;
    QLineEdit* edit = f.panel.T1HI;
    QTimer* timer = f.judgement.Timer3();

    QTest::keyClick(edit, '\'');
    QVERIFY(timer->isActive());
    QTest::qWait(150);
    const int remainingBefore = timer->remainingTime();
    QTest::keyClick(edit, '`');
    QVERIFY2(
        timer->remainingTime() > remainingBefore,
        qPrintable(QStringLiteral("a change did not restart Timer3: %1 ms left before, %2 ms after")
                       .arg(remainingBefore)
                       .arg(timer->remainingTime())));
    QCOMPARE(edit->text(), QStringLiteral("4000'`"));

    QTRY_COMPARE_WITH_TIMEOUT(edit->text(), QStringLiteral("4000"), 3000);
    QCOMPARE(f.judgement.LastValidHigh(), QStringLiteral("4000"));
}

void LimitJudgementTest::invalidTextRevertsToTheLastValidText_data() {
    QTest::addColumn<bool>("high");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("settled");

    QTest::newRow("high emptied") << true << ""
                                  << "4000";
    QTest::newRow("low emptied") << false << ""
                                 << "-4000";
    QTest::newRow("grave accent") << false << "`-4000"
                                  << "-4000";
    QTest::newRow("the fallback") << true << "-999999"
                                  << "4000";
    QTest::newRow("the fallback as low") << false << "-999999"
                                         << "-4000";
    QTest::newRow("overflow") << true << "1e400"
                              << "4000";
    QTest::newRow("huge number") << true << QString(30000, QLatin1Char('9')) << "4000";
    QTest::newRow("letters") << false << "low"
                             << "-4000";
    QTest::newRow("valid fraction") << true << "12.5"
                                    << "12.5";
    QTest::newRow("valid exponent") << false << "-1e3"
                                    << "-1e3";
    QTest::newRow("valid with blanks") << true << " 7 "
                                       << " 7 ";
    QTest::newRow("negative beside the fallback") << false << "-999999.5"
                                                  << "-999999.5";
}

void LimitJudgementTest::invalidTextRevertsToTheLastValidText() {
    QFETCH(bool, high);
    QFETCH(QString, text);
    QFETCH(QString, settled);

    Fixture f;
    f.limitEdit(high)->setText(text);
    QVERIFY2(f.timer(high)->isActive(),
             qPrintable(f.timer(high)->objectName() + QStringLiteral(" not started")));
    f.fire(high);
    QVERIFY2(f.limitEdit(high)->text() == settled,
             qPrintable(QStringLiteral("\"%1\": expected \"%2\", got \"%3\"")
                            .arg(text.left(40), settled, f.limitEdit(high)->text().left(40))));
    QCOMPARE(f.lastValid(high), settled);
    // The other limit is untouched.
    QCOMPARE(f.limitEdit(!high)->text(), QString::fromLatin1(high ? "-4000" : "4000"));
}

void LimitJudgementTest::revertGoesToTheLastSettledText() {
    Fixture f;
    f.panel.T1LO->setText(QStringLiteral("-2,5"));
    f.judgement.Timer4Timer();
    QCOMPARE(f.panel.T1LO->text(), QStringLiteral("-4000"));
    f.panel.T1LO->setText(QStringLiteral("-2.5"));
    f.judgement.Timer4Timer();
    f.panel.T1LO->setText(QStringLiteral("-2.5x"));
    f.judgement.Timer4Timer();
    QCOMPARE(f.panel.T1LO->text(), QStringLiteral("-2.5"));
    QCOMPARE(f.judgement.LastValidLow(), QStringLiteral("-2.5"));

    const std::optional<QString> got = f.judgement.judge(QStringLiteral("-2.6"));
    QVERIFY2(got && *got == QLatin1String("Fail"), qPrintable(describe(got)));
}

void LimitJudgementTest::pastedJunkIsRepaired() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("12 volts\n"));
    if (clipboard->text() != QLatin1String("12 volts\n"))
        QSKIP("this platform has no clipboard");

    Fixture f;
    f.panel.T1HI->selectAll();
    f.panel.T1HI->paste();
    QVERIFY2(f.panel.T1HI->text() != QLatin1String("4000"), "the paste did not reach the edit");
    QVERIFY(f.judgement.Timer3()->isActive());
    QVERIFY(!f.judgement.judge(QStringLiteral("1")));
    f.judgement.Timer3Timer();
    QCOMPARE(f.panel.T1HI->text(), QStringLiteral("4000"));
}

void LimitJudgementTest::limitEditsKeepTheirSelectionWhenFocusLeaves() {
    QWidget window;
    auto* panel = new JudgementPanel(&window);
    window.resize(panel->sizeHint().expandedTo(QSize(400, 130)));
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    for (QLineEdit* edit : {panel->T1HI, panel->T1LO}) {
        edit->setFocus(Qt::MouseFocusReason);
        QTRY_VERIFY(edit->hasFocus());
        edit->setSelection(1, 2);
        panel->T1VALUE->setFocus(Qt::MouseFocusReason);
        QTRY_VERIFY(panel->T1VALUE->hasFocus());
        QVERIFY2(edit->selectionStart() == 1 && edit->selectionLength() == 2,
                 qPrintable(QStringLiteral("%1: selection %2+%3 after focus left, expected 1+2")
                                .arg(edit->objectName())
                                .arg(edit->selectionStart())
                                .arg(edit->selectionLength())));
    }
}

void LimitJudgementTest::verdictLampIsACircleClearOfTheValueBox() {
    JudgementPanel panel;
    panel.resize(375, 120);
    panel.Shape1->setFill(QColor(0, 128, 0));
    // What the lamp paints is what changes when it is hidden.
    const QImage with = panel.grab().toImage().convertToFormat(QImage::Format_RGB32);
    panel.Shape1->hide();
    const QImage without = panel.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(with.size(), without.size());

    QRect painted;
    for (int y = 0; y < with.height(); ++y)
        for (int x = 0; x < with.width(); ++x)
            if (with.pixel(x, y) != without.pixel(x, y))
                painted |= QRect(x, y, 1, 1);
    QVERIFY2(!painted.isEmpty(), "the lamp paints nothing");

    const QRect box = panel.Shape1->geometry();
    QCOMPARE(box, QRect(192, 8, 113, 97));
    const auto where = [&] {
        return qPrintable(QStringLiteral("lamp painted %1,%2 %3 x %4 in the box %5,%6 %7 x %8")
                              .arg(painted.x())
                              .arg(painted.y())
                              .arg(painted.width())
                              .arg(painted.height())
                              .arg(box.x())
                              .arg(box.y())
                              .arg(box.width())
                              .arg(box.height()));
    };
    // A circle of the smaller side (97), centred in the box.
    QVERIFY2(std::abs(painted.width() - painted.height()) <= 1, where());
    QVERIFY2(std::abs(painted.height() - box.height()) <= 1, where());
    QVERIFY2(std::abs(QRectF(painted).center().x() - QRectF(box).center().x()) <= 1.0, where());
    QVERIFY2(std::abs(QRectF(painted).center().y() - QRectF(box).center().y()) <= 1.0, where());
    QVERIFY2(!painted.intersects(panel.T1VALUE->geometry()), where());
    // The fill shows in the middle of the circle.
    QCOMPARE(QColor(with.pixel(QRectF(box).center().toPoint())), QColor(0, 128, 0));
}

QTEST_MAIN(LimitJudgementTest)
#include "LimitJudgementTest.moc"
