#pragma once
// GoogleTest's Notification is written with std::mutex, which mingw's win32 thread model
// lacks; this one, on a Win32 event, takes its place. Force-included before GoogleTest.

#include <windows.h>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {
class Notification {
  public:
    Notification() : m_event(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { ::CloseHandle(m_event); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    void Notify() { ::SetEvent(m_event); }
    void WaitForNotification() { ::WaitForSingleObject(m_event, INFINITE); }

  private:
    HANDLE m_event;
};
} // namespace internal
} // namespace testing
