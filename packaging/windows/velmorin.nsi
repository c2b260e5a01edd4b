; Per-user installer for Velmorin. The program folder must stay writable by its user, since
; Velmorin.ini beside the executable is how running copies hear the quit request, and one user's
; "Alarm Quit" must never stop another user's copy: so it installs under the user's own
; AppData, with no administrator rights, and registers itself under HKCU only.
;
; makensis -V2 -INPUTCHARSET UTF8 -DPROGRAM_DIR=<folder> -DICON=<.ico> -DVERSION=3.04.0006
;          -DOUT=<setup.exe> velmorin.nsi   (installer.cmake runs it from the zip)

!ifndef PROGRAM_DIR | ICON | VERSION | OUT
    !error "define PROGRAM_DIR, ICON, VERSION and OUT"
!endif
!ifndef PUBLISHER
    !define PUBLISHER "Velmorin 開発チーム"
!endif
; The numeric form of 3.04.0006 for the fixed version fields: 3.4.0.6.
!searchparse /noerrors "${VERSION}" "" VER_MAJOR "." VER_MINOR "." VER_BUILD
!define /math VER_MINOR_N ${VER_MINOR} + 0
!define /math VER_BUILD_N ${VER_BUILD} + 0
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Velmorin"

Target amd64-unicode
RequestExecutionLevel user
ManifestDPIAware true
SetCompressor /SOLID lzma

Name "Velmorin"
OutFile "${OUT}"
InstallDir "$LOCALAPPDATA\Programs\Velmorin"

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh
!include Sections.nsh

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Japanese"

LangString SecProgramName ${LANG_ENGLISH} "Velmorin (required)"
LangString SecProgramName ${LANG_JAPANESE} "Velmorin (必須)"
LangString SecStartupName ${LANG_ENGLISH} "Start the time signal at every sign-in"
LangString SecStartupName ${LANG_JAPANESE} "サインインのたびに時報を起動する"
LangString StillRunning ${LANG_ENGLISH} "Velmorin in $INSTDIR did not end when asked to.$\r$\n\
Retry once it has ended (an About tune plays to its end first), or cancel."
LangString StillRunning ${LANG_JAPANESE} "$INSTDIR の Velmorin が終了しません。$\r$\n\
終了してから再試行するか、キャンセルしてください。"

; The version block matches the program's: Japanese, product and file version ${VERSION}.
VIProductVersion "${VER_MAJOR}.${VER_MINOR_N}.0.${VER_BUILD_N}"
VIFileVersion "${VER_MAJOR}.${VER_MINOR_N}.0.${VER_BUILD_N}"
VIAddVersionKey /LANG=${LANG_JAPANESE} "ProductName" "Velmorin"
VIAddVersionKey /LANG=${LANG_JAPANESE} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_JAPANESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_JAPANESE} "FileDescription" "Velmorin セットアップ"
VIAddVersionKey /LANG=${LANG_JAPANESE} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_JAPANESE} "LegalCopyright" "© 2025-2026 Velmorin"

; Every file of the program folder, named once for both install and uninstall, so the
; uninstaller removes exactly what was put down and never a file a user added.
!macro ForEachProgramFile _m
    !insertmacro ${_m} velmorin.exe
    !insertmacro ${_m} 00.WAV
    !insertmacro ${_m} 01.WAV
    !insertmacro ${_m} 02.WAV
    !insertmacro ${_m} 03.WAV
    !insertmacro ${_m} 04.WAV
    !insertmacro ${_m} 05.WAV
    !insertmacro ${_m} 06.WAV
    !insertmacro ${_m} 07.WAV
    !insertmacro ${_m} 08.WAV
    !insertmacro ${_m} 09.WAV
    !insertmacro ${_m} 10.WAV
    !insertmacro ${_m} 11.WAV
    !insertmacro ${_m} QUARTER1.WAV
    !insertmacro ${_m} QUARTER2.WAV
    !insertmacro ${_m} QUARTER3.WAV
    !insertmacro ${_m} ABOUT.MID
!macroend
!macro InstallFile _f
    File "${PROGRAM_DIR}/${_f}"
!macroend
!macro RemoveFile _f
    Delete "$INSTDIR\${_f}"
!macroend

; A running copy holds its executable open against writing, on Windows and under wine alike,
; so a refused write-open tells that a copy runs from this very folder (a copy started from
; another folder has its own settings file and is none of the installer's business).
!macro DefineCopyFunctions un
Function ${un}IsRunning
    Push $0
    StrCpy $0 0
    ${If} ${FileExists} "$INSTDIR\velmorin.exe"
        ClearErrors
        FileOpen $1 "$INSTDIR\velmorin.exe" a
        ${If} ${Errors}
            StrCpy $0 1
        ${Else}
            FileClose $1
        ${EndIf}
    ${EndIf}
    Exch $0
FunctionEnd

; The quit request every copy polls on its 800 ms tick; wait for the copies to end, at most
; about 2 s, then ask the user (a silent run gives up rather than overwrite a running copy).
Function ${un}StopRunningCopies
    Push $0
    Push $2
    Call ${un}IsRunning
    Pop $0
    ${If} $0 == 1
        WriteINIStr "$INSTDIR\Velmorin.ini" "Form" "Quit" "1"
        StrCpy $2 0
        ${DoWhile} $0 == 1
            ${If} $2 >= 20
                MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(StillRunning)" \
                    /SD IDCANCEL IDRETRY retry
                Abort
                retry:
                StrCpy $2 0
                WriteINIStr "$INSTDIR\Velmorin.ini" "Form" "Quit" "1"
            ${EndIf}
            Sleep 100
            IntOp $2 $2 + 1
            Call ${un}IsRunning
            Pop $0
        ${Loop}
    ${EndIf}
    Pop $2
    Pop $0
FunctionEnd
!macroend
!insertmacro DefineCopyFunctions ""
!insertmacro DefineCopyFunctions "un."

Section "$(SecProgramName)" SecProgram
    SectionIn RO
    SetOutPath "$INSTDIR"
    Call StopRunningCopies
    !insertmacro ForEachProgramFile InstallFile
    WriteUninstaller "$INSTDIR\uninstall.exe"
    ; Chosen while the time signal runs, this starts a second copy, which opens the control
    ; window: that is how a user reaches "Alarm Quit" and "About".
    CreateShortcut "$SMPROGRAMS\Velmorin.lnk" "$INSTDIR\velmorin.exe"
    ; The settings window, whether or not the time signal runs.
    CreateShortcut "$SMPROGRAMS\Velmorin Settings.lnk" "$INSTDIR\velmorin.exe" "/settings"

    WriteRegStr HKCU "${UNINST_KEY}" "DisplayName" "Velmorin"
    WriteRegStr HKCU "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKCU "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\velmorin.exe,0"
    WriteRegStr HKCU "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINST_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINST_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKCU "${UNINST_KEY}" "EstimatedSize" $0
SectionEnd

Section "$(SecStartupName)" SecStartup
    SetOutPath "$INSTDIR"
    CreateShortcut "$SMSTARTUP\Velmorin.lnk" "$INSTDIR\velmorin.exe"
SectionEnd

Section "-Start"
    ; Installing again without the startup choice takes an earlier startup shortcut away.
    ${IfNot} ${SectionIsSelected} ${SecStartup}
        Delete "$SMSTARTUP\Velmorin.lnk"
    ${EndIf}
    ; The first chime then comes at the next full hour, without signing out.
    Call IsRunning
    Pop $0
    ${If} $0 == 0
        SetOutPath "$INSTDIR"
        Exec '"$INSTDIR\velmorin.exe"'
    ${EndIf}
SectionEnd

Function .onInit
    ; /S takes the startup shortcut like the page's default; /NOSTARTUP leaves it out.
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/NOSTARTUP" $1
    ${IfNot} ${Errors}
        !insertmacro UnselectSection ${SecStartup}
    ${EndIf}
FunctionEnd

Section "Uninstall"
    Call un.StopRunningCopies
    !insertmacro ForEachProgramFile RemoveFile
    Delete "$INSTDIR\Velmorin.ini"
    Delete "$INSTDIR\uninstall.exe"
    Delete "$SMPROGRAMS\Velmorin.lnk"
    Delete "$SMPROGRAMS\Velmorin Settings.lnk"
    Delete "$SMSTARTUP\Velmorin.lnk"
    RMDir "$INSTDIR"
    ; The Programs folder may have been made by this install; it goes only if left empty.
    RMDir "$LOCALAPPDATA\Programs"
    DeleteRegKey HKCU "${UNINST_KEY}"
    DeleteRegKey /ifempty HKCU "Software\Microsoft\Windows\CurrentVersion\Uninstall"

    ; The uninstaller runs from a copy of itself in the temporary folder, which no one can delete
    ; while it runs and which a user without administrator rights cannot have deleted at the next
    ; restart: a hidden command interpreter removes it once this process has ended.
    ${GetParent} "$EXEDIR" $0
    ${If} $0 == $TEMP
    ${AndIf} $EXEDIR != $INSTDIR
        SetOutPath "$TEMP"
        ; (Wine's cmd takes a ")" right after a name as part of it: hence the blank.)
        ExecShell "" "$SYSDIR\cmd.exe" '/d /c for /l %i in (1,1,20) do @if exist "$EXEPATH" \
            (ping -n 2 127.0.0.1 >nul & del "$EXEPATH" & rd "$EXEDIR" )' SW_HIDE
    ${EndIf}
SectionEnd
