#pragma once
// The window messages on Linux: broadcast signals on the user's D-Bus session bus,
// object path "/", interface "org.veldra.WindowMessage", member = message name,
// arguments (int32 wParam, int32 lParam).  Watch them with
//   dbus-monitor "type='signal',interface='org.veldra.WindowMessage'"
// Without a reachable session bus nothing is sent and nothing arrives; the program
// works on regardless, as it would with no guider running.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

inline constexpr const char* kBusInterface = "org.veldra.WindowMessage";
inline constexpr const char* kBusPath = "/";

// True when the session bus is reachable.
bool BusConnected();

// Emits the signal and returns at once.
void BusPost(const std::string& name, int32_t wParam, int32_t lParam);
// Emits the signal and returns once the bus daemon has taken it (every listener then
// receives it); waits at most kBusSendTimeoutMs.
void BusSend(const std::string& name, int32_t wParam, int32_t lParam);
inline constexpr int kBusSendTimeoutMs = 2000;

using BusCallback = std::function<void(const std::string& name, int32_t wParam, int32_t lParam)>;

// A live subscription to the six registered messages; ending it (reset or going out of
// scope) unsubscribes.
struct BusListener;
struct BusListenerDeleter {
    void operator()(BusListener* listener) const;
};
using BusListenerHandle = std::unique_ptr<BusListener, BusListenerDeleter>;

// Subscribes to the six registered messages with (int32, int32) arguments.  callback runs
// on the calling thread's Qt event loop, once per signal, in bus order.  Returns once the
// bus daemon routes the signals to us (bounded by kBusSendTimeoutMs); an empty handle
// when the session bus is not reachable.  Requires a QCoreApplication.
BusListenerHandle InstallBusListener(BusCallback callback);
// Ends the subscription; pending signals are dropped.
void RemoveBusListener(BusListenerHandle& listener);
