; Velto's installer, one script for the two Windows architectures.
; scripts/package.sh builds both; by hand:
;
;   makensis -DVERSION=0.9.0 -DARCH=x64 -DSRC=.. -DMAIN=../build/win64 \
;            -DCOMPANION=../build/win32 -DOUTFILE=../build/dist/velto-0.9.0-setup-x64.exe installer/velto.nsi
;   makensis -DVERSION=0.9.0 -DARCH=x86 -DSRC=.. -DMAIN=../build/win32 \
;            -DOUTFILE=../build/dist/velto-0.9.0-setup-x86.exe installer/velto.nsi
;
; (makensis works in this folder: relative paths start here.)
; MAIN is the build whose velto.exe, veltoctl.exe, library and compiled
; layouts are installed; COMPANION (x64 only) the 32-bit build that gives
; velto-companion.exe and velto.dll, so that 32-bit programs are translated
; on 64-bit Windows too. veltoc.exe comes from MAIN.
;
; Command line: /S silent, /ALLUSERS (administrators: Program Files, the
; all-users Start menu and Run key), /NOSTART (Velto is not started at the
; end), /D=FOLDER (last). The uninstaller: /S, and /REMOVESETTINGS to remove
; %APPDATA%\Velto, which it keeps otherwise.

!ifndef VERSION | ARCH | SRC | MAIN | OUTFILE
  !error "define VERSION, ARCH (x64 or x86), SRC, MAIN and OUTFILE (and COMPANION for x64)"
!endif
!ifndef VIVERSION
  !define VIVERSION "${VERSION}.0"  ; four numbers for the file's version resource
!endif

!if "${ARCH}" == "x64"
  !ifndef COMPANION
    !error "the x64 installer needs COMPANION, the 32-bit build"
  !endif
  Target amd64-unicode
  !define LIBRARY velto64.dll
  !define MULTIUSER_USE_PROGRAMFILES64
!else if "${ARCH}" == "x86"
  Target x86-unicode
  !define LIBRARY velto.dll
!else
  !error "ARCH is x64 or x86, not ${ARCH}"
!endif

Name "Velto ${VERSION}"
OutFile "${OUTFILE}"
SetCompressor /SOLID lzma
ManifestDPIAware true
BrandingText "Velto ${VERSION}"

!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Velto"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"

VIProductVersion "${VIVERSION}"
VIFileVersion "${VIVERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "Velto"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "Velto"
VIAddVersionKey /LANG=1033 "FileDescription" "Velto ${VERSION} Setup (${ARCH})"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Velto"

; Per-user by default, without administrator rights; administrators may
; choose all users (the page, or /ALLUSERS). An upgrade finds the earlier
; install's mode and folder through the uninstall key.
!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_DEFAULT_CURRENTUSER
!define MULTIUSER_INSTALLMODE_INSTDIR "Velto"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINST_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINST_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_PAGE_CUSTOMFUNCTION_LEAVE SignInDefault

!include FileFunc.nsh
!include LogicLib.nsh
!include Sections.nsh
!include WinMessages.nsh
!include x64.nsh
!include MultiUser.nsh
!include MUI2.nsh
!include nsDialogs.nsh

Var NoStart
Var RemoveSettings
Var RemoveBox
Var UserData

!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES

!insertmacro MUI_UNPAGE_CONFIRM
UninstPage custom un.SettingsPage un.SettingsLeave
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; Stops every running Velto (velto.exe or veltoctl.exe, and the companion
; with it) through its hidden control window, and waits up to 10 s for the
; windows to go, so that the program files are free to be replaced.
!macro STOP_VELTO UN
Function ${UN}StopVelto
  StrCpy $1 0  ; the window last asked to close
  StrCpy $2 0  ; tenths of a second waited
  ${Do}
    FindWindow $0 "VeltoControl" "Velto"
    ${If} $0 = 0
      ${Break}
    ${EndIf}
    ${If} $0 <> $1
      DetailPrint "Stopping Velto"
      SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=5000
      StrCpy $1 $0
    ${EndIf}
    ${If} $2 >= 100
      DetailPrint "Velto did not stop within 10 seconds"
      ${Break}
    ${EndIf}
    Sleep 100
    IntOp $2 $2 + 1
  ${Loop}
  Sleep 300  ; the companion leaves after the controller's window
FunctionEnd
!macroend
!insertmacro STOP_VELTO ""
!insertmacro STOP_VELTO "un."

; A program file may still be in use: the library stays mapped in programs
; that had the hook until they let it go. Such a file cannot be deleted, but
; it can be moved: into the temporary folder, to be deleted at the next
; restart, so that the folder can take the new file or go.
!macro MOVE_ASIDE UN
Function ${UN}MoveAside
  Exch $R0
  Push $R1
  GetTempFileName $R1
  Delete $R1
  ClearErrors
  Rename $R0 $R1
  ${IfNot} ${Errors}
    Delete /REBOOTOK $R1
  ${EndIf}
  Pop $R1
  Pop $R0
FunctionEnd
!macroend
!insertmacro MOVE_ASIDE ""
!insertmacro MOVE_ASIDE "un."

!macro REMOVE UN NAME
  ${If} ${FileExists} "$INSTDIR\${NAME}"
    ClearErrors
    Delete "$INSTDIR\${NAME}"
    ${If} ${Errors}
      Push "$INSTDIR\${NAME}"
      Call ${UN}MoveAside
    ${EndIf}
  ${EndIf}
!macroend

!macro PUT FROM NAME
  !insertmacro REMOVE "" ${NAME}
  File "/oname=${NAME}" "${FROM}\${NAME}"
!macroend

; The Run value as the installer writes it. For all users, a second Velto
; started at sign-in (the user's own Run value, from velto.exe's menu) says
; nothing and leaves the first running: --quiet.
!define RUN_VALUE '"$INSTDIR\velto.exe"'
!define RUN_VALUE_ALL '"$INSTDIR\velto.exe" --quiet'

Section "Velto" SecMain
  SectionIn RO
  SetOutPath "$INSTDIR"
  Call StopVelto
  !insertmacro PUT "${MAIN}" velto.exe
  !insertmacro PUT "${MAIN}" veltoctl.exe
  !insertmacro PUT "${MAIN}" ${LIBRARY}
  !if /FileExists "${MAIN}\veltoc.exe"
    !insertmacro PUT "${MAIN}" veltoc.exe
  !endif
  !ifdef COMPANION
    !insertmacro PUT "${COMPANION}" velto-companion.exe
    !insertmacro PUT "${COMPANION}" velto.dll
  !endif
  File "${SRC}\README.md"

  ; The folders are the installer's own: an upgrade replaces them whole.
  RMDir /r "$INSTDIR\layouts"
  SetOutPath "$INSTDIR\layouts"
  File "${SRC}\layouts\*.vkl"
  File "${MAIN}\layouts\*.vkb"
  RMDir /r "$INSTDIR\docs"
  SetOutPath "$INSTDIR\docs"
  File "${SRC}\docs\*.*"
  ; The Compose file that a layout's compose include "%L" reads.
  RMDir /r "$INSTDIR\locale"
  SetOutPath "$INSTDIR\locale"
  File "${MAIN}\locale\compose.dir"
  SetOutPath "$INSTDIR\locale\en_US.UTF-8"
  File "${MAIN}\locale\en_US.UTF-8\Compose"
  SetOutPath "$INSTDIR"

  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Velto.lnk" "$INSTDIR\velto.exe" "" "$INSTDIR\velto.exe" 0 \
    SW_SHOWNORMAL "" "Velto: your keyboard layouts in every program"

  ${If} $MultiUser.InstallMode == "AllUsers"
    StrCpy $0 "/ALLUSERS"
  ${Else}
    StrCpy $0 "/CURRENTUSER"
  ${EndIf}
  WriteRegStr SHCTX "${UNINST_KEY}" "DisplayName" "Velto"
  WriteRegStr SHCTX "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINST_KEY}" "Publisher" "Velto"
  WriteRegStr SHCTX "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\velto.exe"
  WriteRegStr SHCTX "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" $0'
  WriteRegStr SHCTX "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" $0 /S'
  WriteRegDWORD SHCTX "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINST_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $1 $2 $3
  WriteRegDWORD SHCTX "${UNINST_KEY}" "EstimatedSize" $1
SectionEnd

Section "Start at sign-in" SecSignIn
SectionEnd

Section "-finish"
  ; Per-user: the user's Run key, which velto.exe's menu also turns on and
  ; off. All users: the machine's.
  ${If} ${SectionIsSelected} ${SecSignIn}
  ${AndIf} $MultiUser.InstallMode == "AllUsers"
    WriteRegStr SHCTX "${RUN_KEY}" "Velto" '${RUN_VALUE_ALL}'
  ${ElseIf} ${SectionIsSelected} ${SecSignIn}
    WriteRegStr SHCTX "${RUN_KEY}" "Velto" '${RUN_VALUE}'
  ${Else}
    DeleteRegValue SHCTX "${RUN_KEY}" "Velto"
  ${EndIf}
  ${If} $NoStart != 1
    Exec '"$INSTDIR\velto.exe"'
  ${EndIf}
SectionEnd

; Start at sign-in is on for a new install; an upgrade keeps the choice
; that the Run value shows.
Function SignInDefault
  ReadRegStr $0 SHCTX "${UNINST_KEY}" "InstallLocation"
  ReadRegStr $1 SHCTX "${RUN_KEY}" "Velto"
  ${If} $0 != ""
  ${AndIf} $1 == ""
    !insertmacro UnselectSection ${SecSignIn}
  ${Else}
    !insertmacro SelectSection ${SecSignIn}
  ${EndIf}
FunctionEnd

Function .onInit
  !if "${ARCH}" == "x86"
    ${If} ${RunningX64}
      StrCpy $0 "This installer is for 32-bit Windows. On 64-bit Windows use velto-${VERSION}-setup-x64.exe: "
      MessageBox MB_OK|MB_ICONSTOP "$0it translates 64-bit and 32-bit programs." /SD IDOK
      SetErrorLevel 2
      Quit
    ${EndIf}
  !endif
  !insertmacro MULTIUSER_INIT
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/NOSTART" $1
  ${IfNot} ${Errors}
    StrCpy $NoStart 1
  ${EndIf}
  Call SignInDefault
FunctionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
  ; The user's own folder, whichever mode the install was.
  SetShellVarContext current
  StrCpy $UserData "$APPDATA\Velto"
  ${If} $MultiUser.InstallMode == "AllUsers"
    SetShellVarContext all
  ${EndIf}
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVESETTINGS" $1
  ${IfNot} ${Errors}
    StrCpy $RemoveSettings 1
  ${EndIf}
FunctionEnd

Function un.SettingsPage
  !insertmacro MUI_HEADER_TEXT "Your settings" "Keep or remove your settings and layouts."
  nsDialogs::Create 1018
  Pop $0
  StrCpy $1 "Your settings and your own layouts are in$\r$\n$UserData$\r$\n$\r$\n"
  ${NSD_CreateLabel} 0 0 100% 40u "$1They stay for a later install unless you remove them here."
  Pop $0
  ${NSD_CreateCheckbox} 0 48u 100% 12u "&Remove my settings and layouts"
  Pop $RemoveBox
  ${If} $RemoveSettings == 1
    ${NSD_Check} $RemoveBox
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function un.SettingsLeave
  ${NSD_GetState} $RemoveBox $0
  ${If} $0 == ${BST_CHECKED}
    StrCpy $RemoveSettings 1
  ${Else}
    StrCpy $RemoveSettings 0
  ${EndIf}
FunctionEnd

; Removes what the installer wrote, file by file: the folder may have been
; chosen by hand, and what else is in it is not the uninstaller's to delete.
!macro UNPUT NAME
  !insertmacro REMOVE "un." ${NAME}
!macroend

Section "Uninstall"
  Call un.StopVelto
  Delete "$SMPROGRAMS\Velto.lnk"
  ; The Run value, where it still names this Velto: the installer's, and the
  ; one velto.exe's menu writes for the user.
  ReadRegStr $0 SHCTX "${RUN_KEY}" "Velto"
  ${If} $0 == '${RUN_VALUE}'
  ${OrIf} $0 == '${RUN_VALUE_ALL}'
    DeleteRegValue SHCTX "${RUN_KEY}" "Velto"
  ${EndIf}
  ReadRegStr $0 HKCU "${RUN_KEY}" "Velto"
  ${If} $0 == '${RUN_VALUE}'
    DeleteRegValue HKCU "${RUN_KEY}" "Velto"
  ${EndIf}
  DeleteRegKey SHCTX "${UNINST_KEY}"

  !insertmacro UNPUT velto.exe
  !insertmacro UNPUT veltoctl.exe
  !insertmacro UNPUT ${LIBRARY}
  !insertmacro UNPUT veltoc.exe
  !ifdef COMPANION
    !insertmacro UNPUT velto-companion.exe
    !insertmacro UNPUT velto.dll
  !endif
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\uninstall.exe"
  RMDir /r "$INSTDIR\layouts"
  RMDir /r "$INSTDIR\docs"
  RMDir /r "$INSTDIR\locale"
  RMDir "$INSTDIR"

  ${If} $RemoveSettings == 1
    DetailPrint "Removing $UserData"
    RMDir /r "$UserData"
  ${EndIf}
SectionEnd
