#pragma once
// The application object: runs the update dialog and keeps the last firmware path.

#include "framework/Afx.h"

class CUpdateUtilityApp : public CWinApp {
  public:
    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};

// Where the last firmware path is kept, under HKCU\Software\Orvane\<application name>.
constexpr const char* kRegistryKey = "Orvane";
constexpr const char* kSettingsSection = "Settings";
constexpr const char* kLastFileEntry = "LastFile";
