// A program whose holder never releases its devices: when its event loop has
// ended, one reader is blocked handing over a report nobody will serve, one
// waits in a read slice, and the controller is gone. It must still end, and
// end cleanly, when main returns.
#include "link/HidDevice.h"
#include "link/HidDeviceController.h"

#include "FakeHidPlatform.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <memory>

using namespace qm45;
using qm45::test::FakeHidPlatform;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    auto platform = std::make_shared<FakeHidPlatform>();
    const int busy = platform->add(FakeHidPlatform::cable(), false);
    platform->stream(busy, QByteArray::fromHex("00f130"));
    platform->add(FakeHidPlatform::Description{}, false);

    int reports = 0;
    auto* controller = new THidDeviceController(platform);
    for (int i = 0; i < controller->DeviceCount(); ++i) {
        THidDevice* device = controller->CheckOutDeviceAt(i);
        device->setReadWaitTime(10000); // the quiet one sits in a long slice
        device->SetDataHandler(
            THidDataEvent([&reports](THidDevice*, std::uint8_t, const std::uint8_t*,
                                     std::uint16_t) { ++reports; }));
    }
    QTimer::singleShot(300, &app, &QCoreApplication::quit);
    app.exec();
    delete controller;
    std::printf("%d reports before the end\n", reports);
    return reports > 0 ? 0 : 1;
}
