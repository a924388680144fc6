#include "link/HidDevice.h"

#include "link/HidControllerError.h"
#include "link/HidDeviceController.h"

#include <QTimer>

#include <algorithm>

namespace qm45 {

namespace {

constexpr std::int32_t kMinReadWaitTime = 10;
constexpr std::int32_t kMaxReadWaitTime = 10000;

QString textUpToZero(const HidString& buffer) {
    const auto end = std::find(buffer.begin(), buffer.end(), char16_t(0));
    return QString::fromUtf16(buffer.data(), qsizetype(end - buffer.begin()));
}

} // namespace

THidDevice::THidDevice(HidInterface info, THidDeviceController* controller,
                       std::shared_ptr<HidPlatform> platform)
    : Platform_(std::move(platform)), PnPInfo_(std::move(info)), Controller_(controller),
      Lifetime_(std::make_shared<char>()) {
    Source_ = std::make_shared<THidDeviceReadThread::Source>(PnPInfo_, Platform_);
    if (Controller_) {
        DataHandler_ = Controller_->OnDeviceData();
        UnplugHandler_ = Controller_->OnDeviceUnplug();
    }
    // Creation opens the device although it is neither checked out nor in an
    // event: this is how the controller learns whether it exists at all.
    HidOpenResult opened = Platform_->open(PnPInfo_, HidAccess::ReadWrite);
    ReadWriteAccess_ = opened.handle != HidPlatform::InvalidHandle;
    if (!ReadWriteAccess_)
        opened = Platform_->open(PnPInfo_, HidAccess::NoData);
    if (opened.handle == HidPlatform::InvalidHandle)
        throw EControllerError("device cannot be opened");
    QueryHandle_ = opened.handle;
    const std::optional<HidAttributes> attributes = Platform_->attributes(QueryHandle_);
    closeQueryHandle();
    if (!attributes)
        throw EControllerError("device cannot be identified");
    Attributes_ = *attributes;
}

THidDevice::~THidDevice() {
    stopReader();
    closeQueryHandle();
}

bool THidDevice::accessible() const {
    return Attached_ && (CheckedOut_ || InEvent_);
}

void THidDevice::updateAccess() {
    Source_->accessible.store(accessible());
}

void THidDevice::setCheckedOut(bool checkedOut) {
    CheckedOut_ = checkedOut;
    updateAccess();
}

void THidDevice::setInEvent(bool inEvent) {
    InEvent_ = inEvent;
    updateAccess();
}

bool THidDevice::openQueryHandle() {
    if (QueryHandle_ != HidPlatform::InvalidHandle)
        return true;
    if (!accessible())
        return false;
    HidOpenResult opened = Platform_->open(PnPInfo_, HidAccess::ReadWrite);
    ReadWriteAccess_ = opened.handle != HidPlatform::InvalidHandle;
    if (!ReadWriteAccess_)
        opened = Platform_->open(PnPInfo_, HidAccess::NoData);
    QueryHandle_ = opened.handle;
    return QueryHandle_ != HidPlatform::InvalidHandle;
}

void THidDevice::closeQueryHandle() {
    if (QueryHandle_ == HidPlatform::InvalidHandle)
        return;
    Platform_->close(QueryHandle_);
    QueryHandle_ = HidPlatform::InvalidHandle;
}

QString THidDevice::ProductString() {
    if (ProductString_.isEmpty() && openQueryHandle()) {
        HidString buffer{};
        if (Platform_->productString(QueryHandle_, buffer))
            ProductString_ = textUpToZero(buffer);
        closeQueryHandle();
    }
    return ProductString_;
}

QString THidDevice::SerialNumberString() {
    if (SerialNumberString_.isEmpty() && openQueryHandle()) {
        HidString serial{};
        if (!Platform_->serialNumberString(QueryHandle_, serial)) {
            closeQueryHandle();
            return SerialNumberString_;
        }
        // Some devices answer the serial-number request with their table of
        // languages (the string at index 0). A serial number that repeats it
        // is no serial number; one that cannot be compared is not trusted.
        HidString languages;
        languages.fill(char16_t(0xFFFF));
        (void)Platform_->indexedString(QueryHandle_, 0, languages);
        std::size_t compareLength = 0;
        for (std::size_t k = languages.size(); k-- > 0;) {
            if (languages[k] != char16_t(0xFFFF)) {
                compareLength = languages[k] == 0 ? k : k + 1;
                break;
            }
        }
        if (!std::equal(serial.begin(), serial.begin() + std::ptrdiff_t(compareLength),
                        languages.begin()))
            SerialNumberString_ = textUpToZero(serial);
        closeQueryHandle();
    }
    return SerialNumberString_;
}

std::uint16_t THidDevice::InputReportByteLength() {
    if (!InputReportByteLength_ && openQueryHandle()) {
        InputReportByteLength_ = Platform_->inputReportByteLength(QueryHandle_);
        closeQueryHandle();
    }
    return InputReportByteLength_.value_or(0);
}

void THidDevice::setReadWaitTime(std::int32_t milliseconds) {
    if (milliseconds < kMinReadWaitTime || milliseconds > kMaxReadWaitTime)
        return;
    ReadWaitTime_ = milliseconds;
    Source_->readWaitTime.store(milliseconds);
}

void THidDevice::SetDataHandler(THidDataEvent handler) {
    if (!handler)
        stopReader();
    DataHandler_ = std::move(handler);
    startReaderIfReady();
}

void THidDevice::startReaderIfReady() {
    if (!DataHandler_ || !Attached_ || !CheckedOut_ || !ReadWriteAccess_ || Reader_)
        return;
    Reader_ = std::make_unique<THidDeviceReadThread>(*this, Source_, InputReportByteLength());
    Reader_->start();
}

void THidDevice::stopReader() {
    if (!Reader_)
        return;
    THidDeviceReadThread* reader = Reader_.get();
    if (reader->stop()) {
        // A handler served during the stop may have detached it already.
        if (Reader_.get() == reader)
            Reader_.reset();
        return;
    }
    // Stopped from inside its own handler: it ends once that handler returns.
    Reader_.release()->detach();
}

void THidDevice::readerLost() {
    // Called inside the reader's own hand-over: the reader is only told to
    // end. The handler stays, so the holder sees its connection end as after
    // an unplug, once the controller's report makes it rebuild.
    stopReader();
    if (Controller_) {
        THidDeviceController* controller = Controller_;
        QTimer::singleShot(0, controller, [controller] { controller->DeviceLost(); });
    }
}

bool THidDevice::SendFeatureReport(const std::uint8_t* buffer, std::size_t size) {
    if (QueryHandle_ == HidPlatform::InvalidHandle && accessible())
        (void)openQueryHandle();
    if (QueryHandle_ == HidPlatform::InvalidHandle)
        return false;
    return Platform_->sendFeatureReport(QueryHandle_, buffer, size);
}

void THidDevice::Unplug() {
    closeQueryHandle();
    Attached_ = false;
    updateAccess();
    // Told once: cleared before the call, since the handler may release the device.
    const THidPlugEvent handler = std::move(UnplugHandler_);
    UnplugHandler_ = {};
    if (handler)
        handler(this);
}

} // namespace qm45
