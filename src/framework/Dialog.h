#pragma once
// CDialog: a dialog created from a template in the program's resources, run modally (or
// created modeless), with its message map and data exchange.

#include "DataExchange.h"

class CDialog : public CWnd {
  public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr)
        : m_templateId(templateId), m_pParentWnd(parent) {}
    ~CDialog() override;

    // Runs the dialog until EndDialog; returns its result, or -1 when it could not be created.
    virtual INT_PTR DoModal();
    // Creates the dialog without a modal loop of its own.
    BOOL Create(CWnd* parent = nullptr);
    void EndDialog(int result);

    // TRUE copies controls into members (validating), FALSE members into controls. Returns
    // FALSE when a validation refused the exchange.
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    virtual void DoDataExchange(CDataExchange*) {}

    DECLARE_MESSAGE_MAP()

  protected:
    // Dispatches one message; true when handled, with the handler's result.
    virtual bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

  private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    // A modal dialog opens in the middle of the screen's work area.
    void CenterOnScreen();
    bool DefaultClose();

    UINT m_templateId;
    CWnd* m_pParentWnd;
    bool m_modal = false;
};
