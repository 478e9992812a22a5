#include "ui/EditWarning.h"

void CEditWarning::DrawItem(LPDRAWITEMSTRUCT drawItem) {
    CString text;
    GetWindowText(text);
    const COLORREF previous = ::SetTextColor(drawItem->hDC, RGB(255, 0, 0));
    RECT rect = drawItem->rcItem;
    ::DrawTextA(drawItem->hDC, text, text.GetLength(), &rect,
                DT_WORDBREAK | DT_EDITCONTROL | DT_END_ELLIPSIS);
    ::SetTextColor(drawItem->hDC, previous);
}
