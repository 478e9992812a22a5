#pragma once
// The framework layer: thin wrappers with the classic names over the Win32 window API.

#include <windows.h>
#include <commctrl.h>

#include "String.h"
#include "CmdTarget.h"
#include "Wnd.h"
#include "WinApp.h"
#include "DataExchange.h"
#include "Dialog.h"
#include "FileDialog.h"
