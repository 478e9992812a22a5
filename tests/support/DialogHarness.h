#pragma once
// The real update dialog, created on the virtual display for a test, with the simulated bridge
// library reading the bridges the test describes, and every message box answered.

#include "support/MessageBoxWatcher.h"
#include "support/TempFile.h"
#include "ui/UpdateUtilityDlg.h"

#include <memory>
#include <string>

class DialogHarness {
  public:
    // bridges: the simulated library's description file (empty: no bridge). The dialog is
    // created at once unless create is false.
    explicit DialogHarness(const std::string& bridges = "", bool create = true);
    ~DialogHarness();

    void Create();
    CUpdateUtilityDlg& Dialog() { return *m_dialog; }
    MessageBoxWatcher& Boxes() { return m_boxes; }
    const MessageBoxWatcher& Boxes() const { return m_boxes; }
    void SetBridges(const std::string& bridges) { m_bridges.Write(bridges); }

    HWND Control(int id) const { return ::GetDlgItem(m_dialog->m_hWnd, id); }
    std::string Text(int id) const;
    void SetText(int id, const std::string& text) const;
    bool Enabled(int id) const { return ::IsWindowEnabled(Control(id)) != FALSE; }
    bool Shown(int id) const;
    // Presses a button as a click would: BN_CLICKED from the control to the dialog.
    void Click(int id) const;
    // The equipment list's entries and their item data.
    std::vector<std::string> ListEntries() const;
    std::vector<LRESULT> ListItemData() const;
    int ListSelection() const;
    // Selects an entry as the user does: the list tells the dialog that its selection changed.
    void Choose(int entry) const;

  private:
    MessageBoxWatcher m_boxes;
    TempFile m_bridges;
    std::unique_ptr<CUpdateUtilityDlg> m_dialog;
};

// Holds Shift down (as far as this thread's key state shows) for the object's lifetime.
class ShiftHeld {
  public:
    ShiftHeld();
    ~ShiftHeld();

  private:
    BYTE m_saved[256];
};
