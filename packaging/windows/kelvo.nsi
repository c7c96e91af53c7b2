; Kelvo's Windows installer (NSIS 3, Modern UI 2). build-windows-packages.sh builds it:
;   makensis -DVERSION=1.0.0 -DSTAGE=DIR -DMANIFEST=FILE -DOUTFILE=FILE -DESTIMATED_KB=N kelvo.nsi
; STAGE is the portable folder the zip holds (kelvo.exe, Kelvo.flt, manual, palettes, settings,
; LICENSE.txt, THIRD-PARTY-NOTICES.txt, README.txt); MANIFEST defines KELVO_INSTALL_FILES and KELVO_REMOVE_FILES, which
; install and remove exactly STAGE's files and folders.
;
; The installer puts the staged folder, a Start menu folder (the manual, `kelvo configure`, the
; uninstaller) and the uninstaller under the program folder (default $PROGRAMFILES\Kelvo), and
; optionally Kelvo.flt into the 3D host's plug-in folder and the program folder into the
; installing user's PATH (HKCU\Environment). It runs as administrator (RequestExecutionLevel
; admin): Program Files, the all-users Start menu and HKLM's uninstall keys are writable only
; so. The uninstaller removes what the installer made and nothing else: named files, folders
; only when empty, its own registry key and its own PATH entry.
;
; Silent installation:  setup.exe /S [/PLUGINDIR=FOLDER | /NOPLUGIN] [/ADDTOPATH] [/D=FOLDER]
;   /S                  install without pages; the licence counts as accepted
;   /PLUGINDIR=FOLDER   put Kelvo.flt into the host's plug-in FOLDER; quote the folder, not the
;                       switch (/PLUGINDIR="C:\Program Files\Host\plugins"), or leave it
;                       unquoted: the value ends where the next switch begins
;   /NOPLUGIN           install no plug-in (and remove the one an earlier install put in)
;   /ADDTOPATH          add the program folder to the user's PATH
;   /D=FOLDER           the program folder; last on the line and unquoted, as NSIS requires
; A silent install without /PLUGINDIR keeps an earlier install's plug-in folder, or installs no
; plug-in when there is none; without /ADDTOPATH it leaves PATH without kelvo.
; Silent removal: "<program folder>\Uninstall.exe" /S

Unicode true
ManifestDPIAware true
SetCompressor /SOLID lzma

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh
!include Sections.nsh
!include WinMessages.nsh

!ifndef VERSION
    !error "VERSION is not defined (makensis -DVERSION=...)"
!endif
!ifndef STAGE
    !error "STAGE is not defined (makensis -DSTAGE=...)"
!endif
!ifndef MANIFEST
    !error "MANIFEST is not defined (makensis -DMANIFEST=...)"
!endif
!ifndef OUTFILE
    !error "OUTFILE is not defined (makensis -DOUTFILE=...)"
!endif
!ifndef ESTIMATED_KB
    !error "ESTIMATED_KB is not defined (makensis -DESTIMATED_KB=...)"
!endif
!include "${MANIFEST}"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kelvo"
!define MENU_FOLDER "$SMPROGRAMS\Kelvo"
; RegGetValueW flags: any type, and REG_EXPAND_SZ as stored, not expanded.
!define RRF_RT_ANY_NOEXPAND 0x1000FFFF
!define REG_SZ 1
; ReadRegStr and WriteRegStr hold at most NSIS_MAX_STRLEN - 1 characters: a longer PATH would be
; cut short, so Setup leaves such a PATH alone and says so.
!define PATH_LIMIT ${NSIS_MAX_STRLEN}

Name "Kelvo ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Kelvo"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
BrandingText "Kelvo ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

Var PluginDir           ; where Kelvo.flt goes; "" for none
Var PluginDirCreated    ; 1 when Setup made that folder
Var OldPluginDir        ; what an earlier install recorded
Var OldPluginDirCreated
Var PathEntry           ; the entry this install owns in the user's PATH; "" for none
Var PathCreated         ; 1 when Setup made the user's PATH value
Var OldPathEntry
Var OldPathCreated
Var UserPath            ; the user's PATH as stored, and its registry type (0: none)
Var UserPathType

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_LICENSE "${STAGE}/LICENSE.txt"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY

!define MUI_PAGE_CUSTOMFUNCTION_PRE PluginDirPre
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE PluginDirLeave
!define MUI_PAGE_HEADER_TEXT "Choose the plug-in folder"
!define MUI_PAGE_HEADER_SUBTEXT "Choose the folder where your 3D host finds its filter plug-ins."
!define MUI_DIRECTORYPAGE_TEXT_TOP "Setup will put the plug-in Kelvo.flt into the folder below: the folder of your 3D host that holds its other .flt filters. The host lists Kelvo among its filters the next time it starts."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Plug-in folder"
!define MUI_DIRECTORYPAGE_VARIABLE $PluginDir
!define MUI_DIRECTORYPAGE_VERIFYONLEAVE
!insertmacro MUI_PAGE_DIRECTORY

!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "Kelvo"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "Kelvo ${VERSION} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "MIT licence; see LICENSE.txt"

; The user's PATH helpers, for the installer (PREFIX "") and the uninstaller (PREFIX "un.").
!macro PATH_FUNCTIONS PREFIX
    ; Reads HKCU\Environment's Path into $UserPath and its type into $UserPathType (0 when the
    ; value does not exist). Sets the error flag, and leaves $UserPath empty, when the value is
    ; too long for NSIS's strings to hold (with `room` more characters, given on the stack).
    Function ${PREFIX}ReadUserPath
        Exch $R0
        Push $0
        Push $1
        Push $2
        StrCpy $UserPath ""
        StrCpy $UserPathType 0
        System::Call 'advapi32::RegGetValueW(p 0x80000001, w "Environment", w "Path", i ${RRF_RT_ANY_NOEXPAND}, *i .r1, p 0, *i 0 r2) i .r0'
        ClearErrors
        ${If} $0 = 0
            StrCpy $UserPathType $1
            IntOp $2 $2 / 2          ; bytes to characters, the terminator included
            IntOp $2 $2 + $R0
            ${If} $2 > ${PATH_LIMIT}
                SetErrors
            ${Else}
                ReadRegStr $UserPath HKCU "Environment" "Path"
            ${EndIf}
        ${ElseIf} $0 <> 2            ; anything but ERROR_FILE_NOT_FOUND
            SetErrors
        ${EndIf}
        Pop $2
        Pop $1
        Pop $0
        Pop $R0
    FunctionEnd

    ; Writes $UserPath back with the type it had (a new value as REG_EXPAND_SZ, as Windows
    ; stores it), deletes the value when it is empty and Setup made it, and tells running
    ; programs that the environment changed.
    Function ${PREFIX}WriteUserPath
        ${If} $UserPath == ""
        ${AndIf} $UserPathType = 0
            DeleteRegValue HKCU "Environment" "Path"
        ${ElseIf} $UserPathType = ${REG_SZ}
            WriteRegStr HKCU "Environment" "Path" $UserPath
        ${Else}
            WriteRegExpandStr HKCU "Environment" "Path" $UserPath
        ${EndIf}
        SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
    FunctionEnd

    ; Removes the entry on the stack (compared without regard to case) from $UserPath together
    ; with one separator beside it, leaving every other character as it was. Pushes 1 when the
    ; entry was there, 0 when not.
    Function ${PREFIX}RemovePathEntry
        Exch $R1                 ; the entry
        Push $R2                 ; start of the current piece
        Push $R3                 ; scan position
        Push $R4                 ; character at the scan position
        Push $R5
        Push $R6
        StrCpy $R2 0
        StrCpy $R3 0
        ${Do}
            StrCpy $R4 $UserPath 1 $R3
            ${If} $R4 == ";"
            ${OrIf} $R4 == ""
                IntOp $R6 $R3 - $R2
                StrCpy $R5 $UserPath $R6 $R2
                ${If} $R5 == $R1
                    ${If} $R2 > 0    ; drop the separator before it
                        IntOp $R6 $R2 - 1
                        StrCpy $R5 $UserPath $R6
                        StrCpy $R6 $UserPath "" $R3
                        StrCpy $UserPath "$R5$R6"
                    ${Else}          ; the first piece: drop the separator after it
                        IntOp $R3 $R3 + 1
                        StrCpy $UserPath $UserPath "" $R3
                    ${EndIf}
                    StrCpy $R1 1
                    ${Break}
                ${EndIf}
                ${If} $R4 == ""
                    StrCpy $R1 0
                    ${Break}
                ${EndIf}
                IntOp $R2 $R3 + 1
            ${EndIf}
            IntOp $R3 $R3 + 1
        ${Loop}
        Pop $R6
        Pop $R5
        Pop $R4
        Pop $R3
        Pop $R2
        Exch $R1
    FunctionEnd

    ; Removes the PATH entry on the stack, which an install recorded as its own; when the value
    ; was made by Setup and nothing else is left in it, the value goes too (second on the stack:
    ; 1 when Setup made it).
    Function ${PREFIX}RemoveOwnPathEntry
        Exch $R1                 ; the entry
        Exch
        Exch $R2                 ; 1 when Setup made the value
        Push $R3
        Push 0
        Call ${PREFIX}ReadUserPath
        ${If} ${Errors}
            DetailPrint "Your PATH is too long to change safely; remove $R1 from it yourself."
            MessageBox MB_OK|MB_ICONEXCLAMATION "Your PATH is too long for Setup to change it safely. Remove $R1 from it yourself." /SD IDOK
        ${Else}
            Push $R1
            Call ${PREFIX}RemovePathEntry
            Pop $R3
            ${If} $R3 = 1
                ${If} $R2 = 1
                ${AndIf} $UserPath == ""
                    StrCpy $UserPathType 0
                ${EndIf}
                Call ${PREFIX}WriteUserPath
                DetailPrint "Removed $R1 from your PATH"
            ${EndIf}
        ${EndIf}
        Pop $R3
        Pop $R2
        Pop $R1
    FunctionEnd
!macroend
!insertmacro PATH_FUNCTIONS ""
!insertmacro PATH_FUNCTIONS "un."

Section "kelvo and its manual" SecProgram
    SectionIn RO
    SetOutPath "$INSTDIR"
    !insertmacro KELVO_INSTALL_FILES
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\Uninstall.exe"

    SetShellVarContext all
    CreateDirectory "${MENU_FOLDER}"
    CreateShortcut "${MENU_FOLDER}\Kelvo manual.lnk" "$INSTDIR\manual\index.html"
    ; Each user's own settings file: the shell expands the working folder for whoever starts
    ; the entry. The console stays minimised behind the dialog.
    StrCpy $OUTDIR "%USERPROFILE%\Documents"
    CreateShortcut "${MENU_FOLDER}\Kelvo configure.lnk" "$INSTDIR\kelvo.exe" "configure kelvo.settings" "$INSTDIR\kelvo.exe" 0 SW_SHOWMINIMIZED "" "Open the control dialog on kelvo.settings in your Documents folder"
    SetOutPath "$INSTDIR"
    CreateShortcut "${MENU_FOLDER}\Uninstall Kelvo.lnk" "$INSTDIR\Uninstall.exe"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Kelvo ${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The Kelvo developers"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\kelvo.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${ESTIMATED_KB}
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Plug-in for the 3D host" SecPlugin
    StrCpy $PluginDirCreated 0
    ${If} $PluginDir == $OldPluginDir
        StrCpy $PluginDirCreated $OldPluginDirCreated
    ${ElseIfNot} ${FileExists} "$PluginDir\*.*"
        StrCpy $PluginDirCreated 1
    ${EndIf}
    SetOutPath "$PluginDir"
    File "${STAGE}/Kelvo.flt"
    SetOutPath "$INSTDIR"
SectionEnd

Section /o "Add kelvo to my PATH" SecPath
    ${If} $OldPathEntry == $INSTDIR
        ; Ours from an earlier install: keep it, and its record.
        StrCpy $PathEntry $OldPathEntry
        StrCpy $PathCreated $OldPathCreated
        Return
    ${EndIf}
    StrLen $0 "$INSTDIR;"
    Push $0
    Call ReadUserPath
    ${If} ${Errors}
        DetailPrint "Your PATH is too long to change safely; add $INSTDIR to it yourself."
        MessageBox MB_OK|MB_ICONEXCLAMATION "Your PATH is too long for Setup to change it safely. Add $INSTDIR to it yourself." /SD IDOK
        Return
    ${EndIf}
    StrCpy $1 $UserPath
    Push $INSTDIR
    Call RemovePathEntry
    Pop $0
    ${If} $0 = 1
        DetailPrint "Your PATH already holds $INSTDIR"
        Return                   ; the user's own entry: not ours to remove later
    ${EndIf}
    ${If} $UserPathType = 0
        StrCpy $UserPath $INSTDIR
        StrCpy $PathCreated 1
    ${Else}
        StrCpy $UserPath "$1;$INSTDIR"
        StrCpy $PathCreated 0
    ${EndIf}
    Call WriteUserPath
    StrCpy $PathEntry $INSTDIR
    DetailPrint "Added $INSTDIR to your PATH"
SectionEnd

; Drops what an earlier install made and this one does not keep, then records what this one
; made, for the uninstaller.
Section "-Record"
    ${If} $OldPluginDir != ""
        ${IfNot} ${SectionIsSelected} ${SecPlugin}
        ${OrIf} $OldPluginDir != $PluginDir
            Delete "$OldPluginDir\Kelvo.flt"
            ${If} $OldPluginDirCreated = 1
                RMDir "$OldPluginDir"
            ${EndIf}
        ${EndIf}
    ${EndIf}
    ${If} $OldPathEntry != ""
    ${AndIf} $OldPathEntry != $PathEntry
        Push $OldPathCreated
        Push $OldPathEntry
        Call RemoveOwnPathEntry
    ${EndIf}
    ${IfNot} ${SectionIsSelected} ${SecPlugin}
        StrCpy $PluginDir ""
        StrCpy $PluginDirCreated 0
    ${EndIf}
    WriteRegStr HKLM "${UNINSTALL_KEY}" "PluginDir" $PluginDir
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "PluginDirCreated" $PluginDirCreated
    WriteRegStr HKLM "${UNINSTALL_KEY}" "PathEntry" $PathEntry
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "PathCreated" $PathCreated
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
    !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} "kelvo.exe with its own copy of Kelvo.flt (for kelvo demo, configure and about), the manual, example palettes and Start menu entries."
    !insertmacro MUI_DESCRIPTION_TEXT ${SecPlugin} "Kelvo.flt in your 3D host's plug-in folder, which you choose on a later page."
    !insertmacro MUI_DESCRIPTION_TEXT ${SecPath} "Add the program folder to your PATH, so that kelvo runs from any command prompt."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
    StrCpy $PathEntry ""
    StrCpy $PathCreated 0
    StrCpy $PluginDirCreated 0
    ReadRegStr $OldPluginDir HKLM "${UNINSTALL_KEY}" "PluginDir"
    ReadRegDWORD $OldPluginDirCreated HKLM "${UNINSTALL_KEY}" "PluginDirCreated"
    ReadRegStr $OldPathEntry HKLM "${UNINSTALL_KEY}" "PathEntry"
    ReadRegDWORD $OldPathCreated HKLM "${UNINSTALL_KEY}" "PathCreated"
    StrCpy $PluginDir $OldPluginDir

    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/PLUGINDIR=" $1
    ${IfNot} ${Errors}
        StrCpy $PluginDir $1
    ${EndIf}
    ClearErrors
    ${GetOptions} $0 "/NOPLUGIN" $1
    ${IfNot} ${Errors}
        StrCpy $PluginDir ""
        !insertmacro UnselectSection ${SecPlugin}
    ${ElseIf} ${Silent}
    ${AndIf} $PluginDir == ""
        !insertmacro UnselectSection ${SecPlugin}
    ${EndIf}
    ClearErrors
    ${GetOptions} $0 "/ADDTOPATH" $1
    ${IfNot} ${Errors}
        !insertmacro SelectSection ${SecPath}
    ${ElseIfNot} ${Silent}
    ${AndIf} $OldPathEntry != ""
        !insertmacro SelectSection ${SecPath}
    ${EndIf}
FunctionEnd

Function PluginDirPre
    ${IfNot} ${SectionIsSelected} ${SecPlugin}
        Abort                    ; no plug-in: skip the page
    ${EndIf}
FunctionEnd

Function PluginDirLeave
    ${If} $PluginDir == ""
        MessageBox MB_OK|MB_ICONEXCLAMATION "Choose your 3D host's plug-in folder, or go back and leave out the plug-in."
        Abort
    ${EndIf}
    GetInstDirError $0
    ${If} $0 <> 0
        MessageBox MB_OK|MB_ICONEXCLAMATION "$PluginDir is no folder Setup can write to."
        Abort
    ${EndIf}
FunctionEnd

Section "Uninstall"
    ReadRegStr $PluginDir HKLM "${UNINSTALL_KEY}" "PluginDir"
    ReadRegDWORD $PluginDirCreated HKLM "${UNINSTALL_KEY}" "PluginDirCreated"
    ReadRegStr $PathEntry HKLM "${UNINSTALL_KEY}" "PathEntry"
    ReadRegDWORD $PathCreated HKLM "${UNINSTALL_KEY}" "PathCreated"

    ${If} $PluginDir != ""
        Delete "$PluginDir\Kelvo.flt"
        ${If} $PluginDirCreated = 1
            RMDir "$PluginDir"
        ${EndIf}
    ${EndIf}
    ${If} $PathEntry != ""
        Push $PathCreated
        Push $PathEntry
        Call un.RemoveOwnPathEntry
    ${EndIf}

    SetShellVarContext all
    Delete "${MENU_FOLDER}\Kelvo manual.lnk"
    Delete "${MENU_FOLDER}\Kelvo configure.lnk"
    Delete "${MENU_FOLDER}\Uninstall Kelvo.lnk"
    RMDir "${MENU_FOLDER}"

    !insertmacro KELVO_REMOVE_FILES
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
