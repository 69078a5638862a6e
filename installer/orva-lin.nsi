; The Windows installer of Orva-Lin, built on Linux by ./orva build with
; makensis: both programs and every picture file into the program folder,
; Start-menu shortcuts, an entry in the installed programs with its
; uninstaller, and the member's account number kept as ORVALIN_ACCOUNT.
;
; Defined on the command line by ./orva:
;   VERSION  0.7.5          DIST   the program folder (dist/Orva-Lin)
;   ICONS    assets/icons   LISTS  folder of files.nsh / unfiles.nsh (one line
;   OUTFILE  the .exe                per file of DIST, written by ./orva)
;
; Silent use: Setup.exe /S [/ACCOUNT=1234] [/D=C:\path]; uninstall.exe /S.

Unicode true
Target amd64-unicode          ; 64-bit programs: the 64-bit folder and registry
SetCompressor /SOLID lzma
RequestExecutionLevel admin   ; Program Files and the machine's uninstall list
ManifestDPIAware true

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WinMessages.nsh
!include nsDialogs.nsh

!define PRODUCT "Orva-Lin"
!define PUBLISHER "Orva-Lin"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define ACCOUNT_VAR "ORVALIN_ACCOUNT"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
BrandingText "${PRODUCT} ${VERSION}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1036 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1036 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1036 "FileDescription" "Installation d'${PRODUCT}"
VIAddVersionKey /LANG=1036 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1036 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1036 "LegalCopyright" "${PUBLISHER}"

!define MUI_ICON "${ICONS}\orva-lin.ico"
!define MUI_UNICON "${ICONS}\orva-lin.ico"
!define MUI_ABORTWARNING

Var Account
Var AccountField

!insertmacro MUI_PAGE_WELCOME
Page custom AccountPage AccountPageLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "French"

; A decimal number 0..65535, or "" when the text is not one.
!macro CheckAccount text result
  Push "${text}"
  Call CheckAccount
  Pop ${result}
!macroend

Function CheckAccount
  Exch $0          ; the text
  Push $1
  Push $2
  StrLen $1 $0
  ${If} $1 < 1
  ${OrIf} $1 > 5
    StrCpy $0 ""
  ${Else}
    StrCpy $2 0
    ${DoWhile} $2 < $1
      StrCpy $1 $0 1 $2
      ${If} $1 S< "0"
      ${OrIf} $1 S> "9"
        StrCpy $0 ""
        ${Break}
      ${EndIf}
      IntOp $2 $2 + 1
      StrLen $1 $0
    ${Loop}
    ; IntOp would read a leading zero as octal.
    ${DoWhile} $0 != ""
      StrCpy $1 $0 1
      StrLen $2 $0
      ${If} $1 != "0"
      ${OrIf} $2 == 1
        ${Break}
      ${EndIf}
      StrCpy $0 $0 "" 1
    ${Loop}
    ${If} $0 != ""
      IntOp $1 $0 + 0
      ${If} $1 > 65535
        StrCpy $0 ""
      ${Else}
        StrCpy $0 $1      ; without leading zeros
      ${EndIf}
    ${EndIf}
  ${EndIf}
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

Function .onInit
  SetRegView 64
  ; The number already kept for this user, unless the command line gives one.
  ReadRegStr $Account HKCU "Environment" "${ACCOUNT_VAR}"
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/ACCOUNT=" $1
  ${IfNot} ${Errors}
    !insertmacro CheckAccount $1 $2
    ${If} $2 == ""
      MessageBox MB_ICONSTOP "Numéro de compte invalide : $1 (0 à 65535)." /SD IDOK
      SetErrorLevel 2
      Abort
    ${EndIf}
    StrCpy $Account $2
  ${EndIf}
FunctionEnd

Function AccountPage
  !insertmacro MUI_HEADER_TEXT "Votre compte" "Le numéro de compte que votre communauté vous a donné."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 24u "Numéro de compte Orva-Lin (0 à 65535) :"
  Pop $0
  ${NSD_CreateNumber} 0 28u 80u 12u "$Account"
  Pop $AccountField
  ${NSD_SetFocus} $AccountField
  nsDialogs::Show
FunctionEnd

Function AccountPageLeave
  ${NSD_GetText} $AccountField $0
  !insertmacro CheckAccount $0 $1
  ${If} $1 == ""
    MessageBox MB_ICONEXCLAMATION "Entrez un numéro de compte de 0 à 65535."
    Abort
  ${EndIf}
  StrCpy $Account $1
FunctionEnd

Section "Orva-Lin" SecMain
  SectionIn RO
  SetOutPath "$INSTDIR"
  !include "${LISTS}\files.nsh"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The client reads its pictures from its current folder: the shortcuts
  ; start both programs in the program folder (SetOutPath above).
  SetShellVarContext all
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\Orva-Lin.exe" "" "$INSTDIR\Orva-Lin.exe" 0
  !ifdef WITH_TALVO
    CreateShortcut "$SMPROGRAMS\Talvo.lnk" "$INSTDIR\Talvo.exe" "" "$INSTDIR\Talvo.exe" 0
  !endif

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Orva-Lin.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

  ; Kept for the user who installs (the elevated account when an
  ; administrator installs for someone else). Programs started afterwards
  ; see it; those already running learn of it from the broadcast.
  ${If} $Account != ""
    WriteRegStr HKCU "Environment" "${ACCOUNT_VAR}" "$Account"
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=2000
  ${EndIf}
SectionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Uninstall"
  ; Only what the installer put there: a program folder chosen by hand may
  ; hold the member's own files.
  !include "${LISTS}\unfiles.nsh"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\Talvo.lnk"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegValue HKCU "Environment" "${ACCOUNT_VAR}"
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=2000
SectionEnd
