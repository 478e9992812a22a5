#pragma once
// What the console program needs of the system's threads: a lock, a signal that wakes a waiting
// thread, and a thread of its own for each unit. (mingw's Win32 thread model has no std::thread
// or std::mutex, so each system's file gives them.)

#include <cstdint>
#include <functional>
#include <memory>

class Lock {
  public:
    Lock();
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    void Acquire();
    void Release();

  private:
    struct Native;
    std::unique_ptr<Native> m_native;
};

class Held {
  public:
    explicit Held(Lock& lock) : m_lock(lock) { m_lock.Acquire(); }
    ~Held() { m_lock.Release(); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

  private:
    Lock& m_lock;
};

// Set by one thread, waited for by another; a wait takes the signal back.
class Signal {
  public:
    Signal();
    ~Signal();
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;
    void Set();
    // true when the signal came within the limit.
    bool Wait(std::uint32_t limitMs);

  private:
    struct Native;
    std::unique_ptr<Native> m_native;
};

class Worker {
  public:
    Worker();
    ~Worker(); // joins
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
    // Runs work on a new thread; false, with the system's error left, when none can be had.
    bool Start(std::function<void()> work);
    void Join();

  private:
    struct Native;
    std::unique_ptr<Native> m_native;
};
