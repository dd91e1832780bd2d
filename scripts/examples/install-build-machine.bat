@echo off
rem A build machine: compile every package for RAD Studio 2009 (several at once),
rem check them, copy the runtime packages, register the library with the IDE and
rem check that the IDE will load every package at its next start.
rem Questions are answered Yes; the whole log also goes to %TEMP%\kestrin-install.log.
"%~dp0kestrin.com" /library:"%~dp0" /release:RAD2009 /compile /verify /copy /install /diagnose /parallel /yes /log:"%TEMP%\kestrin-install.log"
if errorlevel 1 (
  echo Kestrin stopped with exit code %errorlevel%, see %TEMP%\kestrin-install.log
  exit /b %errorlevel%
)
echo DevExpress VCL is installed into RAD Studio 2009.
