#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <type_traits>
#include <typeinfo>
#include <utility>

namespace qm45 {

class THidDevice;
class THidDeviceController;

template <typename Signature> class HidHandler;

// A bound routine: a member function with the object it acts on, or a
// callable. Two handlers count as the same when their routine is the same,
// whatever object or captures they carry; an empty handler is the same only as
// another empty one. The HID layer relies on this to decide which devices
// follow a change of the controller's default handlers, and to ignore a
// handler assigned again.
template <typename R, typename... Args> class HidHandler<R(Args...)> {
public:
    HidHandler() = default;
    HidHandler(std::nullptr_t) {}

    template <typename Object, typename Method,
              typename = std::enable_if_t<std::is_member_function_pointer_v<Method>>>
    HidHandler(Object* object, Method method)
        : call_([object, method](Args... args) -> R {
              return (object->*method)(std::forward<Args>(args)...);
          }),
          routineType_(&typeid(Method)) {
        static_assert(sizeof(Method) <= sizeof(routine_), "member function pointer too large");
        std::memcpy(routine_.data(), &method, sizeof(Method));
    }

    // Every handler made from the same lambda expression shares its routine.
    template <typename Callable,
              typename = std::enable_if_t<!std::is_same_v<std::decay_t<Callable>, HidHandler> &&
                                          std::is_invocable_r_v<R, Callable&, Args...>>>
    explicit HidHandler(Callable callable)
        : call_(std::move(callable)), routineType_(&typeid(std::decay_t<Callable>)) {}

    explicit operator bool() const { return static_cast<bool>(call_); }

    R operator()(Args... args) const { return call_(std::forward<Args>(args)...); }

    friend bool operator==(const HidHandler& a, const HidHandler& b) {
        if (!a.routineType_ || !b.routineType_)
            return a.routineType_ == b.routineType_;
        return *a.routineType_ == *b.routineType_ && a.routine_ == b.routine_;
    }
    friend bool operator!=(const HidHandler& a, const HidHandler& b) { return !(a == b); }

private:
    std::function<R(Args...)> call_;
    const std::type_info* routineType_ = nullptr;
    std::array<unsigned char, 2 * sizeof(void*)> routine_{};
};

// Event types of the HID layer. Every handler runs on the main thread.
using THidPlugEvent = HidHandler<void(THidDevice* HidDev)>;
// Data points to Size bytes that are valid only during the call.
using THidDataEvent = HidHandler<void(THidDevice* HidDev, std::uint8_t ReportID,
                                      const std::uint8_t* Data, std::uint16_t Size)>;
using THidDataErrorEvent = HidHandler<void(THidDevice* HidDev, std::uint32_t Error)>;
// Returns true to go on with the next device.
using THidEnumerateEvent = HidHandler<bool(THidDevice* HidDev, std::int32_t Idx)>;
using THidNotifyEvent = HidHandler<void(THidDeviceController* Sender)>;

} // namespace qm45
