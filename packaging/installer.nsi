; The per-user installer of the 64-bit programs, the window and the console program.
; scripts/package.sh builds it with
;   makensis -DVERSION=2.0.0 -DFILES=<folder of the win64 zip's files> -DICON=<app.ico>
;            -DOUTFILE=<setup.exe>
; and, when the folder holds the bridge library, -DBRIDGE; when signing, -DSIGN=<command> signs
; the uninstaller (the command takes the file's path).
!ifndef VERSION | FILES | ICON | OUTFILE
  !error "VERSION, FILES, ICON and OUTFILE must be defined"
!endif

Unicode true
Target amd64-unicode
RequestExecutionLevel user
SetCompressor /SOLID lzma
ManifestDPIAware true

!define PRODUCT "Orvane Update Utility"
!define PUBLISHER "Orvane"
!define PROGRAM "OrvaneUpdateUtility.exe"
!define CONSOLE_PROGRAM "orvane-update.exe"
!define UNINSTALLER "Uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\OrvaneUpdateUtility"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"

!include FileFunc.nsh
!include LogicLib.nsh

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
; Per user: no administrator rights, nothing outside the user's profile.
InstallDir "$LOCALAPPDATA\Programs\Orvane\Update Utility"
; An earlier installation is upgraded where it is.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

!ifdef SIGN
  !uninstfinalize '${SIGN} "%1"'
!endif

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetShellVarContext current
FunctionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

Section "Install"
  ; An earlier installation, whatever its version, is removed by its own uninstaller first,
  ; which leaves the user's setting and any file the user put beside the program. "_?=" runs
  ; it in place and waits for it.
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
  ${AndIf} ${FileExists} "$0\${UNINSTALLER}"
    DetailPrint "Removing the installed version from $0"
    ExecWait '"$0\${UNINSTALLER}" /S _?=$0'
    Delete "$0\${UNINSTALLER}"
    RMDir "$0"
  ${EndIf}

  SetOutPath "$INSTDIR"
  File "${FILES}\${PROGRAM}"
  File "${FILES}\${CONSOLE_PROGRAM}"
  File "${FILES}\README.txt"
  File "${FILES}\LICENSES.txt"
!ifdef BRIDGE
  File "${FILES}\CP210xManufacturing.dll"
!endif
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  CreateShortcut "${SHORTCUT}" "$INSTDIR\${PROGRAM}" "" "$INSTDIR\${PROGRAM}" 0

  ${GetSize} "$INSTDIR" "/S=0K" $1 $2 $3
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM},0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes exactly what the installer put there. HKCU\Software\Orvane, the program's setting,
; stays.
Section "Uninstall"
  Delete "${SHORTCUT}"
  Delete "$INSTDIR\${PROGRAM}"
  Delete "$INSTDIR\${CONSOLE_PROGRAM}"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSES.txt"
!ifdef BRIDGE
  Delete "$INSTDIR\CP210xManufacturing.dll"
!endif
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"
  ; The Orvane folder of the default location too, when nothing else is in it.
  RMDir "$LOCALAPPDATA\Programs\Orvane"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
