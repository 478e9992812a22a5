#pragma once
// Marks that one of the dialog's long operations (a list refresh, an update) is running, for
// as long as the object lives. Those operations pump messages, so a press queued meanwhile
// would otherwise start a second operation inside the first.

class OperationGuard {
  public:
    explicit OperationGuard(bool& running) : m_running(running) { m_running = true; }
    ~OperationGuard() { m_running = false; }
    OperationGuard(const OperationGuard&) = delete;
    OperationGuard& operator=(const OperationGuard&) = delete;

  private:
    bool& m_running;
};
