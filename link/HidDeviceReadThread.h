#pragma once

#include "link/HidPlatform.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class QSocketNotifier;

namespace qm45 {

class THidDevice;

// Reads one device's input reports on its own thread and hands each one to
// the main thread, waiting there until the device's handler has returned.
//
// A refused request is handed over as an error and followed by one wait
// slice before the next, so a failing device never spins the reader. Three
// refusals in a row that say the device has gone (EIO, ENODEV, ENXIO) end the
// reader: the device asks its controller to rescan (THidDevice::readerLost).
// An exception from a handler is caught in the hand-over; the reader is
// released first, then the controller's OnHandlerFailure is told.
//
// The reader thread touches only the Source, the hand-over state under
// mutex_, its report buffer (while no hand-over is pending), its read handle
// and the wake descriptor. It never calls Qt: it tells the main thread about a
// hand-over through an eventfd watched by a socket notifier, so that nothing
// crosses threads through Qt's event queue, and it is a std::thread joined
// with pthread_join, so that every step between the threads is one that
// ThreadSanitizer can follow. The object itself, and everything else it does
// (start, stop, serving, destruction), belongs to the main thread.
class THidDeviceReadThread final : public QObject {
    Q_OBJECT
public:
    // What the reader may see of its device. Written on the main thread, read
    // by the reader. Shared, so that a reader stopped from inside its own
    // handler can finish after its device is gone.
    struct Source {
        Source(HidInterface device, std::shared_ptr<HidPlatform> hidPlatform)
            : interface(std::move(device)), platform(std::move(hidPlatform)) {}
        const HidInterface interface;
        const std::shared_ptr<HidPlatform> platform;
        // Attached and (checked out or in an event): reads are allowed.
        std::atomic<bool> accessible{false};
        std::atomic<std::int32_t> readWaitTime{100};
    };

    // Main thread. The buffer holds reportLength bytes, report-ID byte included.
    THidDeviceReadThread(THidDevice& device, std::shared_ptr<Source> source,
                         std::uint16_t reportLength);
    // Main thread; the thread has ended (stop() returned true, or detach()ed).
    ~THidDeviceReadThread() override;

    // Main thread, once.
    void start();

    THidDeviceReadThread(const THidDeviceReadThread&) = delete;
    THidDeviceReadThread& operator=(const THidDeviceReadThread&) = delete;

    // Main thread. Asks the reader to end and waits until it has, delivering in
    // place a report or error already being handed over; nothing else of the
    // event loop runs meanwhile. The reader notices within one wait slice.
    // Returns false when called from inside this reader's own handler: waiting
    // would deadlock (the reader waits for that handler to return), so the
    // reader is only told to end; nothing more is delivered.
    [[nodiscard]] bool stop();
    // Main thread, after stop() returned false: the device lets go of the
    // reader, which deletes itself once it has ended.
    void detach();

    [[nodiscard]] std::size_t reportLength() const { return buffer_.size(); }

private:
    enum class Pending { None, Data, Error, Lost };

    // Reader thread.
    void run();
    // False when the reader is to end instead.
    bool handOver(Pending kind, std::int32_t bytes, std::uint32_t error);
    // After a refused request: one wait slice, cut short by a stop.
    void backOff();
    void wakeMainThread();
    // Main thread.
    void onWake();
    void serve(std::unique_lock<std::mutex>& lock);
    static void abandonAll();

    const std::shared_ptr<Source> source_;
    std::vector<std::uint8_t> buffer_;
    std::atomic<bool> stopRequested_{false};
    int wakeFd_ = -1;
    QSocketNotifier* wakeNotifier_ = nullptr;
    std::thread thread_; // started and joined on the main thread

    // Main thread only.
    THidDevice* device_ = nullptr; // none once detached
    bool serving_ = false;         // this reader's handler is running
    bool detached_ = false;

    std::mutex mutex_;
    std::condition_variable changed_;
    // Guarded by mutex_.
    Pending pending_ = Pending::None;
    std::int32_t pendingBytes_ = 0;
    std::uint32_t pendingError_ = 0;
    bool finished_ = false;
    bool abandoned_ = false; // the program is ending: nobody will serve again
};

} // namespace qm45
