#include "cli/Sync.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

struct Lock::Native {
    std::mutex mutex;
};

Lock::Lock() : m_native(std::make_unique<Native>()) {}
Lock::~Lock() = default;

void Lock::Acquire() {
    m_native->mutex.lock();
}

void Lock::Release() {
    m_native->mutex.unlock();
}

struct Signal::Native {
    std::mutex mutex;
    std::condition_variable changed;
    bool set = false;
};

Signal::Signal() : m_native(std::make_unique<Native>()) {}
Signal::~Signal() = default;

void Signal::Set() {
    {
        std::lock_guard<std::mutex> held(m_native->mutex);
        m_native->set = true;
    }
    m_native->changed.notify_all();
}

bool Signal::Wait(std::uint32_t limitMs) {
    std::unique_lock<std::mutex> held(m_native->mutex);
    const bool came = m_native->changed.wait_for(held, std::chrono::milliseconds(limitMs),
                                                 [this] { return m_native->set; });
    m_native->set = false;
    return came;
}

struct Worker::Native {
    std::thread thread;
};

Worker::Worker() : m_native(std::make_unique<Native>()) {}

Worker::~Worker() {
    Join();
}

bool Worker::Start(std::function<void()> work) {
    try {
        m_native->thread = std::thread(std::move(work));
        return true;
    } catch (const std::system_error& failure) {
        errno = failure.code().value();
        return false;
    }
}

void Worker::Join() {
    if (m_native->thread.joinable())
        m_native->thread.join();
}
