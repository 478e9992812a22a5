#pragma once
// The warning control: an owner-drawn button that paints its own text in red.

#include "framework/Afx.h"

class CEditWarning : public CButton {
  public:
    // Red text, wrapped at word boundaries, with an ellipsis where it does not fit; nothing
    // else is painted, so the dialog's background shows through.
    void DrawItem(LPDRAWITEMSTRUCT drawItem) override;
};
