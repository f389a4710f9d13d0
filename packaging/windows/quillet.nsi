; Quillet (岚舟) installer for Windows, built with NSIS 3 (makensis quillet.nsi)
; from a folder "dist" beside this file that holds the deployed client
; (quillet-desktop.exe with its Qt libraries), quillet-vpn-service.exe and
; bin\sing-box.exe.
;
; What it sets up:
;   %ProgramFiles%\Quillet\            the programs; logs\ is written by the service only
;   %ProgramData%\Quillet\             SYSTEM and Administrators: full; Users: read
;   %ProgramData%\Quillet\configs\     Users may also create and write files (active.json)
;   %ProgramData%\Quillet\runtime\     SYSTEM and Administrators only (the service also
;                                      sets this itself and refuses a junction there)
;   service "QuilletVpnService"        LocalSystem, own process, demand start; interactive
;                                      users may start, stop and query it
;
; Rights are set with icacls and sc.exe, which every supported Windows has.
; SIDs are used instead of names so the recipe works in every language:
;   *S-1-5-18 SYSTEM, *S-1-5-32-544 Administrators, *S-1-5-32-545 Users.

Unicode true
!include "MUI2.nsh"

!define PRODUCT "Quillet"
!define SERVICE "QuilletVpnService"
!define DIST "dist"

Name "${PRODUCT}"
OutFile "Quillet-Setup.exe"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"

Section "Install"
  SetShellVarContext all

  ; A running service holds its files open.
  nsExec::Exec 'sc.exe stop ${SERVICE}'
  Sleep 2000

  SetOutPath "$INSTDIR"
  File /r "${DIST}\*.*"
  CreateDirectory "$INSTDIR\logs"
  ; The service's logs: users may read them, only the service writes.
  nsExec::Exec 'icacls "$INSTDIR\logs" /inheritance:r /grant:r *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX'

  ; The shared data directory. A folder of this name that already exists may
  ; have been made by a user: its rights are replaced, not inherited.
  CreateDirectory "$APPDATA\${PRODUCT}"
  nsExec::Exec 'icacls "$APPDATA\${PRODUCT}" /setowner *S-1-5-32-544 /T /C'
  nsExec::Exec 'icacls "$APPDATA\${PRODUCT}" /inheritance:r /grant:r *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX'
  CreateDirectory "$APPDATA\${PRODUCT}\configs"
  nsExec::Exec 'icacls "$APPDATA\${PRODUCT}\configs" /inheritance:r /grant:r *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F *S-1-5-32-545:(OI)(CI)M'
  ; runtime\ is the service's alone; a junction in its place is removed.
  RMDir "$APPDATA\${PRODUCT}\runtime"
  CreateDirectory "$APPDATA\${PRODUCT}\runtime"
  nsExec::Exec 'icacls "$APPDATA\${PRODUCT}\runtime" /inheritance:r /grant:r *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F'

  ; The service: LocalSystem, started on demand by the client.
  nsExec::Exec 'sc.exe delete ${SERVICE}'
  nsExec::ExecToLog 'sc.exe create ${SERVICE} binPath= "\"$INSTDIR\quillet-vpn-service.exe\"" type= own start= demand obj= LocalSystem DisplayName= "Quillet VPN Service"'
  nsExec::Exec 'sc.exe description ${SERVICE} "Runs the Quillet tunnel engine on the configuration the Quillet client writes."'
  ; SYSTEM and Administrators: all; interactive users (IU): query, start, stop,
  ; read; service-logon and authenticated users: query only.
  nsExec::ExecToLog 'sc.exe sdset ${SERVICE} D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)(A;;CCLCSWRPWPDTLOCRRC;;;IU)(A;;CCLCSWLOCRRC;;;SU)(A;;CCLCSWLOCRRC;;;AU)'

  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\quillet-desktop.exe"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}" "UninstallString" '"$INSTDIR\uninstall.exe"'
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  nsExec::Exec 'sc.exe stop ${SERVICE}'
  Sleep 2000
  nsExec::Exec 'sc.exe delete ${SERVICE}'
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  RMDir /r "$INSTDIR"
  ; Users' configurations and the engine's data go with the program.
  RMDir /r "$APPDATA\${PRODUCT}\runtime"
  RMDir /r "$APPDATA\${PRODUCT}\configs"
  RMDir "$APPDATA\${PRODUCT}"
  DeleteRegKey HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
SectionEnd
