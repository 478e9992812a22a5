#include "cli/Sync.h"

#include <windows.h>

struct Lock::Native {
    CRITICAL_SECTION section;
};

Lock::Lock() : m_native(std::make_unique<Native>()) {
    ::InitializeCriticalSection(&m_native->section);
}

Lock::~Lock() {
    ::DeleteCriticalSection(&m_native->section);
}

void Lock::Acquire() {
    ::EnterCriticalSection(&m_native->section);
}

void Lock::Release() {
    ::LeaveCriticalSection(&m_native->section);
}

struct Signal::Native {
    HANDLE event = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
};

Signal::Signal() : m_native(std::make_unique<Native>()) {}

Signal::~Signal() {
    if (m_native->event)
        ::CloseHandle(m_native->event);
}

void Signal::Set() {
    ::SetEvent(m_native->event);
}

bool Signal::Wait(std::uint32_t limitMs) {
    if (!m_native->event) {
        ::Sleep(limitMs);
        return false;
    }
    return ::WaitForSingleObject(m_native->event, limitMs) == WAIT_OBJECT_0;
}

struct Worker::Native {
    HANDLE thread = nullptr;
    std::function<void()> work;
    static DWORD WINAPI Run(void* self) {
        static_cast<Native*>(self)->work();
        return 0;
    }
};

Worker::Worker() : m_native(std::make_unique<Native>()) {}

Worker::~Worker() {
    Join();
}

bool Worker::Start(std::function<void()> work) {
    m_native->work = std::move(work);
    m_native->thread = ::CreateThread(nullptr, 0, Native::Run, m_native.get(), 0, nullptr);
    return m_native->thread != nullptr;
}

void Worker::Join() {
    if (m_native->thread) {
        ::WaitForSingleObject(m_native->thread, INFINITE);
        ::CloseHandle(m_native->thread);
        m_native->thread = nullptr;
    }
}
