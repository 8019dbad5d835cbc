; The Windows installer: the files of the zip, for the current user (no administrator rights), with
; Start menu entries, an uninstaller in Add/Remove Programs and zrv-cli's folder on the user's PATH.
; Built by scripts/installer-windows.sh, which passes:
;   VERSION   the program's version (1.02)
;   OUTFILE   the installer to write
;   FILES     a generated list of the File commands that install the zip's folder
;   UNFILES   the matching Delete and RMDir commands, deepest folders first
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
; Reproducible output: the same files give the same installer.
SetDateSave off

!include "LogicLib.nsh"
!include "WordFunc.nsh"
!include "WinMessages.nsh"
!include "MUI2.nsh"

!define NAME "ZRV-PC"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\ZRV-PC"
!define ENV_KEY "Environment"

Name "${NAME} ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
; Windows' place for programs installed by one user.
InstallDir "$LOCALAPPDATA\Programs\ZRV-PC"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${NAME} ${VERSION}"

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_LICENSE "${STAGE}/LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${NAME}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${NAME} setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "MIT licence"

; Sets $R0 to 1 when the user's Path exists but is longer than this installer can read: such a
; value is never rewritten (a shortened copy would lose the user's entries).
!macro PATH_UNREADABLE_FUNCTION PREFIX
Function ${PREFIX}PathUnreadable
  StrCpy $R0 0
  ClearErrors
  ReadRegStr $R1 HKCU "${ENV_KEY}" "Path"
  ${IfNot} ${Errors}
    Return
  ${EndIf}
  ; Absent, or too long: only the list of value names tells which.
  StrCpy $R2 0
  ${Do}
    ClearErrors
    EnumRegValue $R1 HKCU "${ENV_KEY}" $R2
    ${If} ${Errors}
    ${OrIf} $R1 == ""
      ${Break}
    ${EndIf}
    ${If} $R1 == "Path"
      StrCpy $R0 1
      ${Break}
    ${EndIf}
    IntOp $R2 $R2 + 1
  ${Loop}
FunctionEnd
!macroend
!insertmacro PATH_UNREADABLE_FUNCTION ""
!insertmacro PATH_UNREADABLE_FUNCTION "un."

Section "ZRV-PC" SecMain
  SectionIn RO
  SetShellVarContext current
  !include "${FILES}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${NAME}"
  CreateShortcut "$SMPROGRAMS\${NAME}\ZRV-PC.lnk" "$INSTDIR\zrv-pc.exe"
  CreateShortcut "$SMPROGRAMS\${NAME}\ZRV-PC demo.lnk" "$INSTDIR\zrv-pc-demo.exe"
  CreateShortcut "$SMPROGRAMS\${NAME}\Uninstall ZRV-PC.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${NAME} ${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\zrv-pc.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}

  ; zrv-cli from any command prompt: its folder at the end of the user's own Path. An entry that is
  ; already there stays where it is, and the uninstaller then leaves it too.
  Call PathUnreadable
  ${If} $R0 == 1
    DetailPrint "Path left as it is: too long to edit here"
    MessageBox MB_ICONINFORMATION|MB_OK "Your Path is too long for this installer to change. To run zrv-cli from a command prompt, add $INSTDIR to it yourself." /SD IDOK
  ${Else}
    ReadRegStr $0 HKCU "${ENV_KEY}" "Path"
    ${WordAdd} "$0" ";" "+$INSTDIR" $1
    ${If} $1 != $0
      WriteRegExpandStr HKCU "${ENV_KEY}" "Path" $1
      WriteRegDWORD HKCU "${UNINSTALL_KEY}" "PathAdded" 1
      SendMessage ${HWND_BROADCAST} ${WM_WININICHANGE} 0 "STR:Environment" /TIMEOUT=5000
    ${EndIf}
  ${EndIf}
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  ClearErrors
  ReadRegDWORD $2 HKCU "${UNINSTALL_KEY}" "PathAdded"
  ${If} $2 == 1
    Call un.PathUnreadable
    ${If} $R0 == 0
      ReadRegStr $0 HKCU "${ENV_KEY}" "Path"
      ${WordAdd} "$0" ";" "-$INSTDIR" $1
      ${If} $1 == ""
        DeleteRegValue HKCU "${ENV_KEY}" "Path"
      ${ElseIf} $1 != $0
        WriteRegExpandStr HKCU "${ENV_KEY}" "Path" $1
      ${EndIf}
      SendMessage ${HWND_BROADCAST} ${WM_WININICHANGE} 0 "STR:Environment" /TIMEOUT=5000
    ${EndIf}
  ${EndIf}

  Delete "$SMPROGRAMS\${NAME}\ZRV-PC.lnk"
  Delete "$SMPROGRAMS\${NAME}\ZRV-PC demo.lnk"
  Delete "$SMPROGRAMS\${NAME}\Uninstall ZRV-PC.lnk"
  RMDir "$SMPROGRAMS\${NAME}"

  ; Only the files this installer put there: anything else the user keeps in the folder stays.
  !include "${UNFILES}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
