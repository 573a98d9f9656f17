@echo off
rem Builds emberkit.dll with its CUDA and CPU backends, Flarion.xdl64, ekrender.exe,
rem flarion-host.exe and the tests on Windows, with Visual Studio 2022, the CUDA toolkit and vcpkg.
rem
rem   build.bat          CUDA and CPU backends (needs the CUDA toolkit)
rem   build.bat cpu      CPU backend only
rem   build.bat ... test then runs the tests
rem
rem The results land side by side in build-windows-cuda\stage\Release (or build-windows-cpu\...):
rem copy emberkit.dll and Flarion.xdl64 together into the host's plug-in folder.
setlocal
cd /d "%~dp0"

set "PRESET=windows-cuda"
if /i "%~1"=="cpu" set "PRESET=windows-cpu"
set "RUN_TESTS="
if /i "%~1"=="test" set "RUN_TESTS=1"
if /i "%~2"=="test" set "RUN_TESTS=1"

if "%PRESET%"=="windows-cpu" goto find_vcpkg
if defined CUDA_PATH goto find_vcpkg
echo build.bat: the CUDA toolkit was not found (CUDA_PATH is not set). Install it, or run "build.bat cpu".
exit /b 1

:find_vcpkg
rem stb, nlohmann-json and GoogleTest come from vcpkg (vcpkg.json). Visual Studio 2022 brings its own
rem vcpkg, which vswhere finds when VCPKG_ROOT is not set.
if defined VCPKG_ROOT goto check_vcpkg
set "VSWHERE=%ProgramFiles(x86)%\Microsoft Visual Studio\Installer\vswhere.exe"
if not exist "%VSWHERE%" goto no_vcpkg
for /f "usebackq delims=" %%i in (`"%VSWHERE%" -latest -products * -property installationPath`) do set "VCPKG_ROOT=%%i\VC\vcpkg"

:check_vcpkg
if exist "%VCPKG_ROOT%\scripts\buildsystems\vcpkg.cmake" goto build

:no_vcpkg
echo build.bat: vcpkg was not found. Set VCPKG_ROOT, or add the vcpkg component to Visual Studio 2022.
exit /b 1

:build
cmake --preset %PRESET% || exit /b 1
cmake --build --preset %PRESET% --parallel || exit /b 1
if defined RUN_TESTS ctest --preset %PRESET% || exit /b 1

echo.
echo Built in build-%PRESET%\stage\Release:
dir /b "build-%PRESET%\stage\Release\emberkit.dll" "build-%PRESET%\stage\Release\Flarion.xdl64" "build-%PRESET%\stage\Release\ekrender.exe" "build-%PRESET%\stage\Release\flarion-host.exe"
exit /b 0
