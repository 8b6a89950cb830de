@echo off
rem Removes Tallowin from this machine, for a computer startup script (it runs
rem as SYSTEM before anyone logs on) or a software-distribution program:
rem
rem     fleet\uninstall.cmd SHARE
rem
rem SHARE is a folder every machine may write, \\server\tallowin$ say. Each
rem machine leaves its answers there for the fleet report (VkCheck report SHARE):
rem SHARE\<computer>-preview.json before the removal, SHARE\<computer>-verify.json
rem after the restart.
rem
rem First start: VkCheck preview. When it is not 0 (the removal would leave the
rem machine unsafe, or VkCheck may not read it), nothing is changed and this
rem script ends with preview's status. Else it leaves a marker and starts
rem VkUninst.exe, which restarts the machine.
rem Next start: the marker is there: VkCheck verify, and the script ends with
rem verify's status. The marker goes only when verify gives 0: after any other
rem status each later start runs verify again and reports what it says, so
rem that the distribution tool never keeps 0 for an unsafe machine. On 1 that
rem start runs the removal again (preview, then the uninstaller).
rem Later starts: the product is gone and no marker is there: nothing is done.
rem
rem Exit status: 0 removed (or nothing to remove), 3010 restart the machine (the
rem uninstaller ran and the restart has not come, or the removal waits for one
rem more restart), 1 run
rem this script again (a second run of the uninstaller would change something),
rem 2 unsafe: a device or a service would not start, look at the machine,
rem 5 VkCheck may not read what it must, 3 SHARE cannot be written,
rem 87 no SHARE given. Any other: the status of VkCheck or VkUninst.exe.
setlocal
set "SHARE=%~1"
if "%SHARE%"=="" (
    echo uninstall.cmd: give the folder for the answers: uninstall.cmd SHARE
    exit /b 87
)
set "HERE=%~dp0.."
set "MARKER=%SystemRoot%\Tallowin-uninstall.pending"
set "PREVIEW=%SHARE%\%COMPUTERNAME%-preview.json"
set "VERIFY=%SHARE%\%COMPUTERNAME%-verify.json"

rem Whether this machine may write its answer into SHARE, before anything else.
set "PROBE=%SHARE%\%COMPUTERNAME%.probe"
type nul > "%PROBE%" 2>nul
if not exist "%PROBE%" (
    echo uninstall.cmd: %SHARE% cannot be written from %COMPUTERNAME%: nothing was changed
    exit /b 3
)
del "%PROBE%" >nul 2>&1

if exist "%MARKER%" goto after_restart

rem Nothing to remove: a machine that never had the product, or one whose
rem removal is complete.
set "DETECT=%SystemRoot%\Tallowin-detect.txt"
"%HERE%\VkCheck.exe" detect > "%DETECT%" 2>nul
set STATUS=%ERRORLEVEL%
if not "%STATUS%"=="0" (
    echo uninstall.cmd: VkCheck detect ended with %STATUS%: nothing was changed
    exit /b %STATUS%
)
set "DETECTED=0"
for %%F in ("%DETECT%") do set "DETECTED=%%~zF"
del "%DETECT%" >nul 2>&1
if "%DETECTED%"=="0" (
    echo uninstall.cmd: Tallowin is not on %COMPUTERNAME%: nothing to do
    exit /b 0
)

:removal
"%HERE%\VkCheck.exe" preview --json > "%PREVIEW%"
set STATUS=%ERRORLEVEL%
if not "%STATUS%"=="0" (
    echo uninstall.cmd: VkCheck preview ended with %STATUS% ^(see %PREVIEW%^): nothing was changed
    exit /b %STATUS%
)
type nul > "%MARKER%"
if not exist "%MARKER%" (
    echo uninstall.cmd: %MARKER% cannot be written: nothing was changed
    exit /b 5
)
echo uninstall.cmd: removing Tallowin from %COMPUTERNAME%; the machine restarts
"%HERE%\VkUninst.exe"
set STATUS=%ERRORLEVEL%
rem The uninstaller restarts the machine when it is done; still here, the
rem restart has not come (yet). Whatever the uninstaller did, verify tells at
rem the next start: the marker stays.
echo uninstall.cmd: VkUninst.exe ended with %STATUS%: restart %COMPUTERNAME% to complete the removal
exit /b 3010

:after_restart
"%HERE%\VkCheck.exe" verify --json > "%VERIFY%"
set STATUS=%ERRORLEVEL%
echo uninstall.cmd: VkCheck verify ended with %STATUS% (see %VERIFY%)
rem Sound: the removal is done. Anything else keeps the marker, so that the
rem next start asks verify again rather than detect, which finds nothing of
rem the product on a machine it left unsafe.
if "%STATUS%"=="0" (
    del "%MARKER%" >nul 2>&1
    exit /b 0
)
rem A second run would change something: it runs now.
if "%STATUS%"=="1" goto removal
exit /b %STATUS%
