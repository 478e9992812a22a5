#pragma once
// Dialog data exchange: copies control contents to members (save) or members to controls
// (load), with validation that can refuse a save.

#include "Wnd.h"

class CDialog;

class CDataExchange {
  public:
    CDataExchange(CWnd* dialog, BOOL saveAndValidate)
        : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}

    BOOL m_bSaveAndValidate; // TRUE: controls to members
    CWnd* m_pDlgWnd;

    // Remembers the control that the next validation refers to.
    HWND PrepareEditCtrl(int id);
    HWND PrepareCtrl(int id);
    // Refuses the exchange: focus back to the last control (its text selected when it is an
    // edit box) and the rest of the exchange abandoned.
    [[noreturn]] void Fail();

  private:
    HWND m_lastControl = nullptr;
    bool m_lastControlIsEdit = false;
    friend void DDV_MaxChars(CDataExchange*, const CString&, int);
};

// Thrown by CDataExchange::Fail and caught by UpdateData, never seen by program code.
struct CDataExchangeFailure {};

void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
void DDX_Text(CDataExchange* pDX, int id, CString& value);
// maxChars counts characters as the user sees them (CString::GetCharacterCount).
void DDV_MaxChars(CDataExchange* pDX, const CString& value, int maxChars);
