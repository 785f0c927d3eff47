; The per-user installer of vorlix for Windows (SPDX-License-Identifier: GPL-3.0-or-later).
; Needs no administrator rights: it installs into the user's own programs folder, makes a
; Start-menu entry and an uninstaller, and registers the uninstaller for the user alone. The
; installed copy keeps its settings and calibration journal in %APPDATA%\vorlix\INI (the file
; vorlix.installed beside the program tells it so), which the uninstaller leaves in place.
;
;   makensis -DVERSION=x.y.z -DSOURCE=<deployed folder> -DOUTFILE=<setup.exe> \
;            -DFILE_LIST=<the deployed files as Delete and RMDir lines> vorlix.nsi

; A 64-bit installer for a 64-bit program: it also runs where no 32-bit subsystem is.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!include "MUI2.nsh"

!ifndef VERSION | SOURCE | OUTFILE | FILE_LIST
  !error "give VERSION, SOURCE, OUTFILE and FILE_LIST"
!endif

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\vorlix"

Name "vorlix ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\vorlix"
InstallDirRegKey HKCU "Software\vorlix" "InstallDir"
BrandingText "vorlix ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1058 "ProductName" "vorlix"
VIAddVersionKey /LANG=1058 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1058 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1058 "FileDescription" "Встановлення vorlix"
VIAddVersionKey /LANG=1058 "LegalCopyright" "GPL-3.0-or-later"

!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\vorlix.exe"
!insertmacro MUI_PAGE_LICENSE "${SOURCE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Ukrainian"

Section "vorlix"
  SetOutPath "$INSTDIR"
  File /r "${SOURCE}\*.*"
  FileOpen $0 "$INSTDIR\vorlix.installed" w
  FileWrite $0 "Installed by the installer: settings are kept in %APPDATA%\vorlix\INI.$\r$\n"
  FileClose $0
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\vorlix"
  CreateShortcut "$SMPROGRAMS\vorlix\vorlix.lnk" "$INSTDIR\vorlix.exe"
  CreateShortcut "$SMPROGRAMS\vorlix\Посібник vorlix-cli.lnk" "$INSTDIR\vorlix-cli.txt"
  CreateShortcut "$SMPROGRAMS\vorlix\Видалити vorlix.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKCU "Software\vorlix" "InstallDir" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "vorlix"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "vorlix developers"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\vorlix.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Only what the installer put there goes: the folder may have been chosen by hand.
Section "Uninstall"
  !include "${FILE_LIST}"
  Delete "$INSTDIR\vorlix.installed"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\vorlix\vorlix.lnk"
  Delete "$SMPROGRAMS\vorlix\Посібник vorlix-cli.lnk"
  Delete "$SMPROGRAMS\vorlix\Видалити vorlix.lnk"
  RMDir "$SMPROGRAMS\vorlix"

  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "Software\vorlix"
SectionEnd
