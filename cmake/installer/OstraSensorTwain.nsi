; The installer of the Ostra Sensor Twain Driver: the driver folder into the Windows TWAIN folder, with
; an uninstaller that removes exactly the files it installed. The sensors' work folders
; (%LOCALAPPDATA%\vanto_sensor) belong to the user and are never touched.
;   makensis -DVERSION=1.0.2 -DFILES=<folder of the file lists> -DOUTFILE=<exe> [-DAMD64] OstraSensorTwain.nsi
; The product's installer is a 32-bit program; -DAMD64 makes a 64-bit one for the 64-bit build (run
; under wine64 where wine32 is missing).
!ifdef AMD64
Target amd64-unicode
!endif
Unicode true
!include "LogicLib.nsh"

!define PRODUCT "Ostra Sensor Twain Driver"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\OstraSensorTwain"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$WINDIR\twain_32\${PRODUCT}"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

!macro RequireAdministrator
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "admin"
        MessageBox MB_OK|MB_ICONSTOP "The ${PRODUCT} goes into the Windows TWAIN folder, which only an administrator may change. Start this program again with a right click and Run as administrator." /SD IDOK
        SetErrorLevel 740
        Quit
    ${EndIf}
!macroend

Function .onInit
    !insertmacro RequireAdministrator
FunctionEnd

Function un.onInit
    !insertmacro RequireAdministrator
FunctionEnd

Section "Driver"
    SetOverwrite on
    !include "${FILES}/install-files.nsh"
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "IT Vanto"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    !include "${FILES}/uninstall-files.nsh"
    Delete "$INSTDIR\Uninstall.exe"
    ; Only folders left empty go; anything else put there stays.
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
