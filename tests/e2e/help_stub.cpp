/*
** help_stub: the end-to-end tests' stand-in for the system's winhlp32.exe.
** It does nothing when run; it only carries the hand cursor (resource 106)
** that the main window's buttons borrow from the system's help program.
*/
int main() { return 0; }
