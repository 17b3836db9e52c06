; The setup program of the game for 64-bit Windows: installs it for every user of the computer into
; Program Files, with a Start-menu shortcut and an entry in the list of installed programs; its
; uninstaller removes all of it again. /S installs (and uninstalls) silently.
; Both players' computers must accept a connection (the host on 31211, the joining player on 31212
; for the host's connection back), and the games hosted on the network are found with datagrams on
; the same UDP ports, so the installer also lets the installed program through Windows' firewall on
; private and domain networks, for TCP and for UDP, and the uninstaller takes both rules away again.
; Without it Windows asks on the game's first network game, and on a network it counts as public
; the answer it offers leaves the game blocked.
; pack.sh builds it: makensis -DVERSION=... -DVERSION_NUMBERS=a.b.c.d -DSTAGE=<folder of the files>
;   -DFILES=<files.nsh> -DICON=<.ico> -DOUTFILE=<setup.exe> installer.nsi
; FILES defines the macros InstallFiles and UninstallFiles (File and Delete lines for every file
; of STAGE), so that the installer installs and removes exactly what the zip holds.

Target amd64-unicode
!include "MUI2.nsh"
!include "x64.nsh"
!include "FileFunc.nsh"
!include "${FILES}"

!define PRODUCT "Five in a row"
!define PUBLISHER "The fiveinarow developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\fiveinarow"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"
!define PROGRAM "$INSTDIR\fiveinarow.exe"
; netsh finds the rule again by its name and program; public networks stay closed on purpose.
!define FIREWALL_RULE 'name="${PRODUCT}" program="${PROGRAM}"'
!define ALLOWED 'dir=in action=allow profile=private,domain enable=yes'
!define NETSH '"$SYSDIR\netsh.exe" advfirewall firewall'
; nsExec gives up on a netsh that stays silent for this long (ms), say one stuck behind a firewall
; service that does not answer.
!define NETSH_TIMEOUT 60000

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ManifestDPIAware true

VIProductVersion "${VERSION_NUMBERS}"
VIFileVersion "${VERSION_NUMBERS}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" "Copyright (c) 2026 ${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\fiveinarow.exe"
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!insertmacro MUI_PAGE_LICENSE "${STAGE}/LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Runs netsh with the arguments ARGS without a console window; its own output goes to the log. When
; it cannot run, or fails, the log says so and what that means for the player (CONSEQUENCE), and
; stays on the screen with its details shown rather than closing by itself; setup goes on either
; way.
!macro Netsh ARGS CONSEQUENCE
    nsExec::ExecToLog /TIMEOUT=${NETSH_TIMEOUT} '${NETSH} ${ARGS}'
    Pop $0
    ${If} $0 != 0
        ${If} $0 == "error"
            DetailPrint `Could not run $SYSDIR\netsh.exe. ${CONSEQUENCE}`
        ${ElseIf} $0 == "timeout"
            DetailPrint `netsh did not answer within ${NETSH_TIMEOUT} ms. ${CONSEQUENCE}`
        ${Else}
            DetailPrint `netsh failed (exit code $0). ${CONSEQUENCE}`
        ${EndIf}
        SetDetailsView show
        SetAutoClose false
    ${EndIf}
!macroend

Function .onInit
    ${IfNot} ${RunningX64}
        MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} needs 64-bit Windows." /SD IDOK
        Abort
    ${EndIf}
    SetRegView 64
    SetShellVarContext all
FunctionEnd

Function un.onInit
    SetRegView 64
    SetShellVarContext all
FunctionEnd

Section "Install"
    !insertmacro InstallFiles
    ; The shortcut starts the game in its own folder.
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortCut "${SHORTCUT}" "${PROGRAM}" "" "${PROGRAM}" 0

    ; An install over an earlier one replaces its rules (all of that name and program) rather than
    ; adding more; on a first install there is none, and netsh's complaint about that is no news.
    nsExec::Exec /TIMEOUT=${NETSH_TIMEOUT} '${NETSH} delete rule ${FIREWALL_RULE}'
    Pop $0
    DetailPrint "Allowing ${PROGRAM} through Windows' firewall on private and domain networks"
    !insertmacro Netsh 'add rule ${FIREWALL_RULE} protocol=TCP ${ALLOWED}' \
        `No firewall rule: Windows will ask in the first network game; allow private networks.`
    !insertmacro Netsh 'add rule ${FIREWALL_RULE} protocol=UDP ${ALLOWED}' \
        `No firewall rule for UDP: games hosted on the network may not be listed.`

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "${PROGRAM},0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
    DetailPrint "Removing the firewall rules of ${PROGRAM}"
    !insertmacro Netsh 'delete rule ${FIREWALL_RULE} protocol=TCP' \
        `The rule "${PRODUCT}" may be left: remove it in Windows Defender Firewall's settings.`
    !insertmacro Netsh 'delete rule ${FIREWALL_RULE} protocol=UDP' \
        `The rule "${PRODUCT}" for UDP may be left: remove it in Windows Defender Firewall's settings.`
    Delete "${SHORTCUT}"
    !insertmacro UninstallFiles
    Delete "$INSTDIR\uninstall.exe"
    ; Only when empty: a folder the player chose keeps whatever else it holds.
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
