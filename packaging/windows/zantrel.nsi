; The Windows installer: both programs under Program Files, Start menu
; entries and an uninstaller. After installing it runs "zantrel.exe /inst",
; before removing "zantrel.exe /uninst": the program's own installer
; commands, which apply and undo its Explorer AVI handler choice.
; makensis -DVERSION=0.2.3.6 -DBUILD=<the Windows build folder> -DOUTFILE=<setup.exe> zantrel.nsi
; A 64-bit installer: it runs where the programs do, and under wine64 alone.
Target amd64-unicode
!include "x64.nsh"

Name "Zantrel"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Zantrel"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "Zantrel"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Zantrel installer"
VIAddVersionKey "LegalCopyright" ""

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Zantrel"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "Zantrel needs a 64-bit Windows."
    Abort
  ${EndIf}
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Zantrel"
  SetOutPath "$INSTDIR"
  File "${BUILD}\zantrel.exe"
  File "${BUILD}\zantrel-cli.exe"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateDirectory "$SMPROGRAMS\Zantrel"
  CreateShortcut "$SMPROGRAMS\Zantrel\Zantrel.lnk" "$INSTDIR\zantrel.exe"
  CreateShortcut "$SMPROGRAMS\Zantrel\Uninstall Zantrel.lnk" "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Zantrel"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\zantrel.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ExecWait '"$INSTDIR\zantrel.exe" /inst'
SectionEnd

Section "Uninstall"
  ; Asks what to undo (Explorer's handler, the settings) before the program goes.
  ExecWait '"$INSTDIR\zantrel.exe" /uninst'
  Delete "$INSTDIR\zantrel.exe"
  Delete "$INSTDIR\zantrel-cli.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Zantrel\Zantrel.lnk"
  Delete "$SMPROGRAMS\Zantrel\Uninstall Zantrel.lnk"
  RMDir "$SMPROGRAMS\Zantrel"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
