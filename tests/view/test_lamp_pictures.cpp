#include "view/LampPictures.h"

#include <QtTest>

using namespace qm45;

namespace {

// Middle of the monitor's screen and of the meter's display in both pictures.
const QPoint kMonitorScreen(7, 7);
const QPoint kMeterScreen(20, 4);
// Between the monitor's top and the meter's: the panel shows through.
const QPoint kGap(15, 0);

QString describe(const QImage& image, QPoint at) {
    return QStringLiteral("pixel (%1,%2) is #%3")
        .arg(at.x())
        .arg(at.y())
        .arg(image.pixel(at), 8, 16, QLatin1Char('0'));
}

} // namespace

class TestLampPictures : public QObject {
    Q_OBJECT
private slots:
    void picturesHaveTheLampSizes();
    void litPictureHasBrightScreens();
    void darkPictureHasDarkScreens();
    void backgroundIsTransparent();
};

void TestLampPictures::picturesHaveTheLampSizes() {
    QCOMPARE(LampPictures::lit().size(), QSize(25, 24));
    QCOMPARE(LampPictures::dark().size(), QSize(25, 20));
}

void TestLampPictures::litPictureHasBrightScreens() {
    const QImage lit = LampPictures::lit();
    for (QPoint at : {kMonitorScreen, kMeterScreen}) {
        const QColor c = lit.pixelColor(at);
        QVERIFY2(c.alpha() == 255 && c.lightness() > 120 && c.green() > c.red() &&
                     c.green() > c.blue(),
                 qPrintable("expected an opaque bright green screen, " + describe(lit, at)));
    }
}

void TestLampPictures::darkPictureHasDarkScreens() {
    const QImage dark = LampPictures::dark();
    for (QPoint at : {kMonitorScreen, kMeterScreen}) {
        const QColor c = dark.pixelColor(at);
        QVERIFY2(c.alpha() == 255 && c.lightness() < 70,
                 qPrintable("expected an opaque dark screen, " + describe(dark, at)));
    }
}

void TestLampPictures::backgroundIsTransparent() {
    for (const QImage& image : {LampPictures::lit(), LampPictures::dark()})
        QVERIFY2(image.pixelColor(kGap).alpha() == 0, qPrintable(describe(image, kGap)));
}

QTEST_APPLESS_MAIN(TestLampPictures)
#include "test_lamp_pictures.moc"
