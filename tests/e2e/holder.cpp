/*
** e2e_holder: holds one file open the way a running program holds its data
** file: for reading, sharing reading only (no write, no delete sharing), so
** that DeleteFileA on it fails with a sharing violation while this runs.
** It waits until it is terminated.
**
**   e2e_holder <path>
**
** With --boot it holds Wine's boot event instead, so that a session made
** once serves every later program of the run: Wine starts a program from
** the host by creating the event "\KernelObjects\__wineboot_event" and, when
** no one holds it, running wineboot (services, explorer, device hosts) all
** over again. Under emulation each of those costs about a minute. The event
** is created already set when wineboot has come and gone; while wineboot
** still runs, this opens its event, which wineboot sets when done. The file
** <ready> is written once the event is held.
**
**   e2e_holder --boot <ready>
*/
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winternl.h>

typedef LONG(NTAPI* NtCreateEventFn)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, int, BOOLEAN);

static int HoldBootEvent(const wchar_t* ready) {
    NtCreateEventFn create = reinterpret_cast<NtCreateEventFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtCreateEvent")));
    if (!create) return 3;
    UNICODE_STRING name;
    wchar_t text[] = L"\\KernelObjects\\__wineboot_event";
    name.Buffer = text;
    name.Length = sizeof(text) - sizeof(wchar_t);
    name.MaximumLength = sizeof(text);
    OBJECT_ATTRIBUTES attributes = {};
    attributes.Length = sizeof(attributes);
    attributes.ObjectName = &name;
    attributes.Attributes = 0x80; /* OBJ_OPENIF */
    HANDLE event = nullptr;
    LONG status = create(&event, EVENT_ALL_ACCESS, &attributes, 0 /* notification */, TRUE);
    if (status < 0) return 4;
    HANDLE file = CreateFileW(ready, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 5;
    CloseHandle(file);
    Sleep(INFINITE);
    return 0;
}

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && lstrcmpW(argv[1], L"--boot") == 0) return HoldBootEvent(argv[2]);
    if (argc != 2) return 2;
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    Sleep(INFINITE);
    return 0;
}
