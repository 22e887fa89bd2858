; The Korvane installer: Korvane.exe, korvane-cli.exe, the README and the
; Wireshark dissector (wireshark\korvane.lua, for the user to copy) into
; Program Files (for all users) or the user's own programs folder (for the
; current user only), a Start-menu shortcut for Korvane.exe and an uninstaller
; registered under Apps / Add or Remove Programs.
;
; Built by the CMake target `installer` (platform/win32/installer/CMakeLists.txt),
; which passes:
;   VERSION    the project version, 1.0.0.15
;   PUBLISHER  the publisher shown in Add or Remove Programs
;   STAGE      a folder holding Korvane.exe, korvane-cli.exe, README.txt and
;              wireshark\korvane.lua
;   ICON       the program's icon
;   OUTFILE    the installer to write, Korvane-<version>-setup.exe
;
; Command line:
;   /S              silent (no pages, no questions)
;   /D=FOLDER       the installation folder (last, unquoted, as NSIS wants)
;   /AllUsers       install for all users (needs administrator rights)
;   /CurrentUser    install for the current user only
; Without /AllUsers or /CurrentUser an administrator installs for all users,
; anyone else for themselves. The uninstaller takes /S as well.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true
RequestExecutionLevel highest

!include LogicLib.nsh
!include FileFunc.nsh
!include MUI2.nsh

!define PRODUCT "Korvane"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvane"
!define UNINSTALLER "uninstall.exe"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=2057 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=2057 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=2057 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=2057 "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey /LANG=2057 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=2057 "LegalCopyright" "${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\Korvane.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start Korvane"
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Show the README"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Var AllUsers

; Chooses per-machine or per-user: the command line first, else the rights
; the installer runs with.
!macro ChooseScope
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/AllUsers" $R1
    ${IfNot} ${Errors}
        StrCpy $AllUsers 1
    ${Else}
        ClearErrors
        ${GetOptions} $R0 "/CurrentUser" $R1
        ${IfNot} ${Errors}
            StrCpy $AllUsers 0
        ${Else}
            UserInfo::GetAccountType
            Pop $R1
            ${If} $R1 == "Admin"
                StrCpy $AllUsers 1
            ${Else}
                StrCpy $AllUsers 0
            ${EndIf}
        ${EndIf}
    ${EndIf}
!macroend

; Korvane.exe must not run while its files are replaced or removed.
!macro RefuseWhileRunning
    FindWindow $R0 "Korvane" ""
    ${If} $R0 != 0
        MessageBox MB_OK|MB_ICONEXCLAMATION "Korvane is running. Close it (File > Exit) and start again." /SD IDOK
        SetErrorLevel 2
        Quit
    ${EndIf}
!macroend

Function .onInit
    SetRegView 64
    !insertmacro RefuseWhileRunning
    !insertmacro ChooseScope
    ${If} $AllUsers == 1
        UserInfo::GetAccountType
        Pop $R1
        ${If} $R1 != "Admin"
            MessageBox MB_OK|MB_ICONSTOP "Installing for all users needs administrator rights." /SD IDOK
            SetErrorLevel 5
            Quit
        ${EndIf}
        SetShellVarContext all
        ${If} $INSTDIR == ""
            StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
        ${EndIf}
    ${Else}
        SetShellVarContext current
        ${If} $INSTDIR == ""
            StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${PRODUCT}"
        ${EndIf}
    ${EndIf}
FunctionEnd

Section "Korvane" SecMain
    SectionIn RO
    SetOutPath "$INSTDIR"
    File "${STAGE}\Korvane.exe"
    File "${STAGE}\korvane-cli.exe"
    File "${STAGE}\README.txt"
    SetOutPath "$INSTDIR\wireshark"
    File "${STAGE}\wireshark\korvane.lua"
    ; The partner SDK: the C and C++ headers, the import library and the DLL.
    SetOutPath "$INSTDIR\SDK\include"
    File "${STAGE}\SDK\include\korvane_partner.h"
    File "${STAGE}\SDK\include\korvane_partner.hpp"
    SetOutPath "$INSTDIR\SDK\lib"
    File "${STAGE}\SDK\lib\libkorvane-partner.dll.a"
    SetOutPath "$INSTDIR\SDK\bin"
    File "${STAGE}\SDK\bin\korvane-partner.dll"
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\${UNINSTALLER}"

    CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\Korvane.exe" "" "$INSTDIR\Korvane.exe" 0

    ; SHCTX is HKLM for all users, HKCU for the current user.
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Korvane.exe,0"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
    ; In KiB, as Add or Remove Programs shows it.
    ${GetSize} "$INSTDIR" "/S=0K" $R0 $R1 $R2
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" "$R0"
SectionEnd

; The uninstaller belongs to the scope whose entry names its folder.
Function un.onInit
    SetRegView 64
    !insertmacro RefuseWhileRunning
    ReadRegStr $R0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $R0 == $INSTDIR
        SetShellVarContext all
    ${Else}
        SetShellVarContext current
    ${EndIf}
FunctionEnd

Section "Uninstall"
    ; Exactly what the installer put there; the folder goes only if empty.
    Delete "$INSTDIR\Korvane.exe"
    Delete "$INSTDIR\korvane-cli.exe"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\wireshark\korvane.lua"
    RMDir "$INSTDIR\wireshark"
    Delete "$INSTDIR\SDK\include\korvane_partner.h"
    Delete "$INSTDIR\SDK\include\korvane_partner.hpp"
    Delete "$INSTDIR\SDK\lib\libkorvane-partner.dll.a"
    Delete "$INSTDIR\SDK\bin\korvane-partner.dll"
    RMDir "$INSTDIR\SDK\include"
    RMDir "$INSTDIR\SDK\lib"
    RMDir "$INSTDIR\SDK\bin"
    RMDir "$INSTDIR\SDK"
    Delete "$INSTDIR\${UNINSTALLER}"
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
