#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <functional>

namespace qm45 {

class THidDevice;
class THidDeviceController;

// The meter's USB interface cable, as both programs find and start it.
namespace UsbCable {

// The cable's description: a product string of this name and no serial number.
inline const QString kName = QStringLiteral("USB to Serial");
// The set-up feature report: report ID 0, the meter's line speed 2400
// (0x0960) as a 32-bit little-endian number, the fixed byte 0x03, four zeros.
inline constexpr std::array<std::uint8_t, 10> kSetup = {0x00, 0x60, 0x09, 0x00, 0x00,
                                                        0x03, 0x00, 0x00, 0x00, 0x00};
// After this many idle reports without a decoded frame the meter counts as silent.
inline constexpr std::int32_t kIdleLimit = 1900;

inline const QString kNoCableText =
    QStringLiteral("USB interface cable is not securely connected, please check and re-try.");
inline const QString kMeterSilentText = QStringLiteral(
    "USB interface cable is securely connected, please check if the meter is ready.");

// Product string, or "Device VID=xxxx PID=xxxx"; then " (Serial=...)" if any.
[[nodiscard]] QString describeDevice(THidDevice& device);

} // namespace UsbCable

// Finds the cable among the controller's devices and listens to it, without
// any window: checks the cable out, sends it the set-up report and hands its
// reports to `data`. Every device change looks again, so a cable pulled out
// and plugged back in is taken up again. Main thread only; the controller must
// outlive this object, which takes its OnDeviceChange.
class UsbCableLink {
public:
    enum class State {
        NoCable,   // no "USB to Serial" device
        NoAccess,  // the cable is there but may not be opened for reading and writing
        Listening, // set up and reading
    };
    using DataHandler =
        std::function<void(std::uint8_t ReportID, const std::uint8_t* Data, std::uint16_t Size)>;
    using StateHandler = std::function<void(State state)>;

    UsbCableLink(THidDeviceController& controller, DataHandler data, StateHandler stateChanged);
    ~UsbCableLink();
    UsbCableLink(const UsbCableLink&) = delete;
    UsbCableLink& operator=(const UsbCableLink&) = delete;

    // Looks for the cable now (also done on every device change); the state
    // handler is told of every change of state.
    void start();
    // Sends the set-up report again, for a meter that has gone silent.
    void setUpAgain();

    [[nodiscard]] State state() const { return state_; }

private:
    void deviceChange();
    void release();
    void setState(State state);

    THidDeviceController& controller_;
    DataHandler data_;
    StateHandler stateChanged_;
    THidDevice* cable_ = nullptr;
    State state_ = State::NoCable;
    bool started_ = false;
    bool firstReport_ = true; // the first state is always reported
};

} // namespace qm45
