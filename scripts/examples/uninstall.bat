@echo off
rem Take the library out of RAD Studio 2009 and delete its package files too.
"%~dp0kestrin.com" /library:"%~dp0" /release:RAD2009 /uninstall /deletebpl /yes
exit /b %errorlevel%
