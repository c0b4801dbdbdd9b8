// GoogleTest's Notification is built on std::mutex, which the win32-threads
// flavour of MinGW's GCC 12 does not provide. This one, on a Win32 event,
// takes its place; it is force-included wherever GoogleTest is compiled for
// the Windows tests.
#pragma once

#ifdef __cplusplus
#include <windows.h>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { CloseHandle(event_); }
    Notification(const Notification &) = delete;
    Notification &operator=(const Notification &) = delete;

    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

private:
    HANDLE event_;
};

} // namespace internal
} // namespace testing
#endif
