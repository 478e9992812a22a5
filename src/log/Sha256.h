#pragma once
// The SHA-256 of a whole open file, for the support log's record of the chosen file.

#include <windows.h>

#include <string>

// The digest of the whole file into lowercase hex ("" when a read failed). The file is put back
// at its start afterwards; false when a seek failed, with that seek's own reason in seekError.
bool Sha256OfOpenFile(HANDLE file, std::string& hex, DWORD& seekError);
