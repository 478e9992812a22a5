#pragma once
// Answers the message boxes that the code under test shows on this thread, and records them.

#include <windows.h>

#include <deque>
#include <string>
#include <vector>

struct ShownMessageBox {
    std::string text;
    std::string caption;
    std::vector<int> buttons; // IDOK, IDYES, IDNO... present in the box
    bool exclamationIcon = false;
    bool anyIcon = false;
};

class MessageBoxWatcher {
  public:
    MessageBoxWatcher();
    ~MessageBoxWatcher();
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

    // Answers given in order; once they run out, each box gets its first button.
    void QueueAnswer(int buttonId) { m_answers.push_back(buttonId); }
    // Runs inside the box's own modal loop, before the answer; useful to act while a box is up.
    void OnShow(void (*action)(void*), void* context) {
        m_action = action;
        m_context = context;
    }

    const std::vector<ShownMessageBox>& Shown() const { return m_shown; }
    std::vector<std::string> Texts() const;
    void Clear() { m_shown.clear(); }

  private:
    static LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam);
    void Handle(HWND box);

    HHOOK m_hook = nullptr;
    std::deque<int> m_answers;
    std::vector<ShownMessageBox> m_shown;
    void (*m_action)(void*) = nullptr;
    void* m_context = nullptr;
};
