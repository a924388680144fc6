#include "link/HidDeviceReadThread.h"

#include "link/HidDevice.h"
#include "link/HidDeviceController.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <exception>

#include <sys/eventfd.h>
#include <unistd.h>

namespace qm45 {

namespace {

// Every reader object alive. Main thread only: readers are made, destroyed
// and abandoned there.
std::vector<THidDeviceReadThread*>& liveReaders() {
    static std::vector<THidDeviceReadThread*> readers;
    return readers;
}
bool abandonInstalled = false; // main thread only

// How long the end of the program waits for its readers altogether. One still
// inside a long wait slice after that is left to end with the process: it
// touches only its own objects, which are never freed.
constexpr std::chrono::milliseconds kExitWait{500};

// Refusals in a row, each saying the device has gone, after which the reader
// stops trying. One such error alone can be a hiccup of the device.
constexpr int kGoneAfter = 3;

bool saysGone(std::uint32_t error) {
    return error == EIO || error == ENODEV || error == ENXIO;
}

} // namespace

THidDeviceReadThread::THidDeviceReadThread(THidDevice& device, std::shared_ptr<Source> source,
                                           std::uint16_t reportLength)
    : source_(std::move(source)), buffer_(reportLength), device_(&device) {
    // Without the descriptor a hand-over is served only when the reader is
    // stopped; the device then delivers nothing but never hangs.
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ >= 0) {
        wakeNotifier_ = new QSocketNotifier(wakeFd_, QSocketNotifier::Read, this);
        connect(wakeNotifier_, &QSocketNotifier::activated, this, &THidDeviceReadThread::onWake);
    }
    liveReaders().push_back(this);
    // Readers whose holder never stops them end with the application object:
    // they are told that nobody will serve them, so none stays blocked in a
    // hand-over while the process tears down.
    if (!abandonInstalled) {
        qAddPostRoutine(&THidDeviceReadThread::abandonAll);
        abandonInstalled = true;
    }
}

THidDeviceReadThread::~THidDeviceReadThread() {
    if (thread_.joinable()) {
        // stop() joins; a detached reader comes here once it has finished.
        // Only at the program's end can it still be running.
        stopRequested_.store(true);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            abandoned_ = true;
            pending_ = Pending::None;
        }
        changed_.notify_all();
        thread_.join();
    }
    auto& readers = liveReaders();
    readers.erase(std::remove(readers.begin(), readers.end(), this), readers.end());
    delete wakeNotifier_;
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

void THidDeviceReadThread::abandonAll() {
    const std::vector<THidDeviceReadThread*> readers = liveReaders();
    for (THidDeviceReadThread* reader : readers) {
        if (!reader->thread_.joinable())
            continue;
        reader->stopRequested_.store(true);
        {
            std::lock_guard<std::mutex> lock(reader->mutex_);
            reader->abandoned_ = true;
            reader->pending_ = Pending::None;
        }
        reader->changed_.notify_all();
    }
    const auto deadline = std::chrono::steady_clock::now() + kExitWait;
    for (THidDeviceReadThread* reader : readers) {
        if (!reader->thread_.joinable())
            continue;
        std::unique_lock<std::mutex> lock(reader->mutex_);
        if (reader->changed_.wait_until(lock, deadline, [reader] { return reader->finished_; })) {
            lock.unlock();
            reader->thread_.join();
        }
    }
    abandonInstalled = false;
}

void THidDeviceReadThread::start() {
    thread_ = std::thread([this] { run(); });
}

void THidDeviceReadThread::run() {
    HidPlatform& platform = *source_->platform;
    HidPlatform::Handle readHandle = HidPlatform::InvalidHandle;
    const auto closeRead = [&] {
        if (readHandle != HidPlatform::InvalidHandle) {
            platform.close(readHandle);
            readHandle = HidPlatform::InvalidHandle;
        }
    };

    int goneInARow = 0;
    // A refused request: reported, then one slice of rest. False when the
    // reader is to end, also because the device has gone.
    const auto refused = [&](std::uint32_t error, bool countsAsGone) {
        if (!handOver(Pending::Error, 0, error))
            return false;
        goneInARow = countsAsGone && saysGone(error) ? goneInARow + 1 : 0;
        if (goneInARow >= kGoneAfter) {
            closeRead();
            (void)handOver(Pending::Lost, 0, error);
            return false;
        }
        backOff();
        return true;
    };

    while (!stopRequested_.load()) {
        std::fill(buffer_.begin(), buffer_.end(), std::uint8_t(0));
        // The handle belongs to this thread: closing it from the main thread
        // while a read waits on it could hand its number to another open file.
        if (!source_->accessible.load()) {
            closeRead();
            // The controller has seen the device go already; its holder will
            // stop this reader.
            if (!refused(HidPlatform::NotAccessibleError, false))
                break;
            continue;
        }
        if (readHandle == HidPlatform::InvalidHandle) {
            const HidOpenResult opened = platform.open(source_->interface, HidAccess::Read);
            if (opened.handle == HidPlatform::InvalidHandle) {
                if (!refused(opened.error, true))
                    break;
                continue;
            }
            readHandle = opened.handle;
        }

        HidReadResult result;
        do {
            result = platform.readInputReport(readHandle, buffer_.data(), buffer_.size(),
                                              source_->readWaitTime.load());
        } while (result.status == HidReadResult::Status::Pending && !stopRequested_.load());
        if (result.status == HidReadResult::Status::Pending)
            break; // stopped between slices; the unfinished read consumed nothing
        if (result.status == HidReadResult::Status::Refused) {
            if (!refused(result.error, true))
                break;
            continue;
        }
        goneInARow = 0;
        const auto bytes = std::clamp<std::int64_t>(result.bytes, 0, std::int64_t(buffer_.size()));
        if (bytes > 0 && !handOver(Pending::Data, std::int32_t(bytes), 0))
            break;
    }

    closeRead();
    // The last touch of the descriptor happens under the lock, before the main
    // thread can see finished_ and close it.
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
    changed_.notify_all();
    wakeMainThread();
}

bool THidDeviceReadThread::handOver(Pending kind, std::int32_t bytes, std::uint32_t error) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Tested under the lock: stop() sets the flag before it looks at
        // pending_, so a hand-over is either seen and served by the stop or
        // never started.
        if (stopRequested_.load() || abandoned_)
            return false;
        pending_ = kind;
        pendingBytes_ = bytes;
        pendingError_ = error;
    }
    changed_.notify_all();
    wakeMainThread();
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return pending_ == Pending::None || abandoned_; });
    return !abandoned_;
}

void THidDeviceReadThread::backOff() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(source_->readWaitTime.load()),
                      [this] { return stopRequested_.load() || abandoned_; });
}

void THidDeviceReadThread::wakeMainThread() {
    if (wakeFd_ < 0)
        return;
    const std::uint64_t one = 1;
    // Fails only when the counter would overflow, and then the main thread has
    // a wake-up waiting anyway.
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

void THidDeviceReadThread::onWake() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(wakeFd_, &count, sizeof count);
    std::unique_lock<std::mutex> lock(mutex_);
    if (pending_ != Pending::None && !serving_)
        serve(lock);
    if (finished_ && detached_) {
        lock.unlock();
        deleteLater();
    }
}

void THidDeviceReadThread::serve(std::unique_lock<std::mutex>& lock) {
    const Pending kind = pending_;
    const std::int32_t bytes = pendingBytes_;
    const std::uint32_t error = pendingError_;
    serving_ = true;
    lock.unlock();

    // The reader waits until pending_ is cleared, so the buffer stays as it is
    // during the handler. The handler is copied: it may replace or destroy
    // the device's own while it runs.
    const auto finish = [&] {
        lock.lock();
        serving_ = false;
        pending_ = Pending::None;
        changed_.notify_all();
    };
    // An exception from a handler ends only that handler: caught here, on
    // the main thread, so that the reader is released before anyone hears of
    // it. The controller is held weakly: the handler may destroy it.
    QPointer<THidDeviceController> controller = device_ ? device_->Controller() : nullptr;
    THidDevice* const servedDevice = device_;
    std::exception_ptr failure;
    try {
        if (THidDevice* device = device_) {
            if (kind == Pending::Data) {
                const THidDataEvent handler = device->DataHandler();
                if (handler)
                    handler(device, buffer_[0], buffer_.data() + 1, std::uint16_t(bytes - 1));
            } else if (kind == Pending::Error) {
                const THidDataErrorEvent handler = device->DataErrorHandler();
                if (handler)
                    handler(device, error);
            } else {
                device->readerLost();
            }
        }
    } catch (...) {
        failure = std::current_exception();
    }
    finish();
    if (!failure)
        return;
    lock.unlock();
    if (controller) {
        if (const THidDeviceController::HandlerFailureEvent report = controller->OnHandlerFailure())
            report(device_ == servedDevice ? servedDevice : nullptr, failure);
    }
    lock.lock();
}

bool THidDeviceReadThread::stop() {
    stopRequested_.store(true);
    if (!thread_.joinable())
        return true; // never started, or ended at the program's end
    std::unique_lock<std::mutex> lock(mutex_);
    // A reader resting after a refused request wakes at once.
    changed_.notify_all();
    while (!finished_) {
        if (pending_ != Pending::None) {
            if (serving_)
                return false;
            serve(lock);
            continue;
        }
        changed_.wait(lock);
    }
    lock.unlock();
    thread_.join();
    return true;
}

void THidDeviceReadThread::detach() {
    device_ = nullptr;
    detached_ = true;
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_)
        deleteLater();
}

} // namespace qm45
