#!/bin/bash
# The room stays closed: outside actions/, no code of the program calls an
# operation that changes the system. Prints each call found and fails.
root=${1:-$(dirname "$0")/../..}
cd "$root" || exit 2
calls='TerminateProcess|ControlService|DeleteService|DeleteFileA|MoveFileExA|MoveFileA|CopyFileA'
calls+='|SetFileAttributesA|CreateDirectoryA|RemoveDirectoryA|RegDeleteKeyA|RegDeleteValueA'
calls+='|SetFileInformationByHandle|NtSetInformationFile|SetKernelObjectSecurity|ExitWindowsEx|_write|fwrite'
# A call (the name and its parenthesis), a function resolved by its name, a
# file opened for writing.
pattern="\\b($calls)\\(|\"($calls)\"|_O_(WRONLY|RDWR|CREAT|APPEND|TRUNC)|fopen\\([^,]*, *\"[^\"]*[wa+]"
found=$(grep -rnE "$pattern" --include='*.cpp' --include='*.h' engine memory repair platform ui)
if [ -n "$found" ]; then
    echo "calls that change the system outside actions/:"
    echo "$found"
    exit 1
fi
echo "the room is closed"
