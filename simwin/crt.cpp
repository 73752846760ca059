/*
** simwin: run-time descriptors over host files, and the string helpers.
**
** Descriptors are opened as the Microsoft run-time opens them: other programs
** may read and write the file meanwhile, but nobody may delete or rename it
** (files.cpp asks IsOpenByDescriptor). A file held open without sharing by a
** simulated process cannot be opened at all (EACCES, as for a sharing
** violation); a running program's image can be opened for reading.
**
** Without _O_BINARY a descriptor is in text mode, the run-time's default:
** _read turns CR LF into LF and stops at a Ctrl+Z, _write turns LF into CR LF
** (and reports the caller's byte count). A file that _O_CREAT makes without
** _S_IWRITE in the permission argument becomes read-only.
*/
#include "simwin/crt.h"
#include "simwin/files.h"
#include "simwin/processes.h"
#include "simwin/wow64.h"

#include <cctype>
#include <cstdarg>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Descriptor {
    int hostFd;
    std::string hostPath;
    bool text;
    // A read-only descriptor keeps its file position here and reads with
    // pread: a seek then costs no system call. Others use the host's offset.
    bool readOnly;
    off_t position;
    // A descriptor made by _open_osfhandle reads through the handle's host
    // descriptor and closes the handle when it is closed.
    HANDLE os = nullptr;
    // A DOS device's descriptor (see NamesDevice), and the handle
    // _get_osfhandle gave for one _open made (closed with the descriptor).
    bool device = false;
    HANDLE own = nullptr;
};

std::map<int, Descriptor> descriptors;
uint64_t bytesRead = 0;

simwin::ResetHook resetDescriptors([] {
    for (auto& [fd, d] : descriptors)
        if (!d.os) close(d.hostFd);
    descriptors.clear();
    bytesRead = 0;
});

Descriptor* Find(int fd) {
    auto it = descriptors.find(fd);
    return it == descriptors.end() ? nullptr : &it->second;
}

int Fail(int e) {
    errno = e;
    return -1;
}

/* The lowest free descriptor number from 3 on, as the run-time hands out. */
int NewDescriptor(Descriptor d) {
    int id = 3;
    while (descriptors.count(id))
        id++;
    descriptors.emplace(id, std::move(d));
    return id;
}

} // namespace

namespace simwin {

// files.cpp: the host path of a Windows path written in the case the
// folders hold it, unchecked (see HostPath).
std::string DirectHostPath(const std::string& winPath);

bool IsOpenByDescriptor(const std::string& hostPath) {
    for (auto& [fd, d] : descriptors)
        if (d.hostPath == hostPath) return true;
    return false;
}

size_t OpenDescriptorCount() { return descriptors.size(); }

uint64_t BytesRead() { return bytesRead; }

} // namespace simwin

int _open(const char* path, int flags, ...) {
    DWORD err;
    if (simwin::Enter("_open", &err, path))
        return Fail(err == ERROR_FILE_NOT_FOUND ? ENOENT : EACCES);
    if (!path) return Fail(ENOENT);
    int access = flags & 3;
    if (access == _O_RDONLY && !(flags & (_O_CREAT | _O_TRUNC | _O_EXCL))) {
        // Reading an existing file: open the path as written first (when it
        // exists, it is what the case-insensitive resolution would give),
        // and look at what was opened, which spares separate look-ups.
        const std::string name = simwin::Redirected(path);
        // A DOS device's name opens the device, which reads nothing (see
        // NamesDevice).
        if (simwin::NamesDevice(name)) {
            const int device = open("/dev/null", O_RDONLY);
            if (device < 0) return Fail(ENOENT);
            return NewDescriptor(
                Descriptor{device, "", !(flags & _O_BINARY), true, 0, nullptr, true});
        }
        std::string host =
            simwin::DirectHostPath(name.compare(0, 4, "\\\\?\\") == 0 ? name.substr(4) : name);
        int fd = host.empty() ? -1 : open(host.c_str(), O_RDONLY);
        if (fd < 0) {
            host = simwin::HostPath(name);
            if (host.empty()) return Fail(ENOENT);
            fd = open(host.c_str(), O_RDONLY);
        }
        if (fd < 0) return -1;
        struct stat st;
        if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) ||
            simwin::SecurityError(host, GENERIC_READ, 0) ||
            simwin::SharingError(host, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE)) {
            close(fd);
            return Fail(EACCES);
        }
        return NewDescriptor(Descriptor{fd, host, !(flags & _O_BINARY), true, 0});
    }
    std::string host = simwin::HostPath(simwin::Redirected(path));
    if (host.empty()) return Fail(ENOENT);
    struct stat st;
    bool exists = stat(host.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) return Fail(EACCES);
    if (exists && (simwin::LockOf(host) == simwin::FileLock::HeldExclusive ||
                   simwin::SecurityError(host, GENERIC_READ, 0)))
        return Fail(EACCES);
    if (exists && access != _O_RDONLY) {
        if (simwin::LockOf(host) == simwin::FileLock::RunningImage) return Fail(EACCES);
        if (GetFileAttributesA(path) & FILE_ATTRIBUTE_READONLY) return Fail(EACCES);
    }
    int hostFlags = access == _O_WRONLY ? O_WRONLY : access == _O_RDWR ? O_RDWR : O_RDONLY;
    if (flags & _O_APPEND) hostFlags |= O_APPEND;
    if (flags & _O_CREAT) hostFlags |= O_CREAT;
    if (flags & _O_TRUNC) hostFlags |= O_TRUNC;
    if (flags & _O_EXCL) hostFlags |= O_EXCL;
    int fd = open(host.c_str(), hostFlags, 0644);
    if (fd < 0) return -1;
    if (!exists && (flags & _O_CREAT)) {
        va_list args;
        va_start(args, flags);
        int pmode = va_arg(args, int);
        va_end(args);
        if (!(pmode & _S_IWRITE)) SetFileAttributesA(path, FILE_ATTRIBUTE_READONLY);
    }
    return NewDescriptor(Descriptor{fd, host, !(flags & _O_BINARY), false, 0});
}

/* Every descriptor stands on a handle of the operating system (Microsoft's
   _get_osfhandle page: "returns an operating-system file handle if fd is
   valid"): one _open made gets its handle on the first ask, a device's of
   FILE_TYPE_CHAR. */
intptr_t _get_osfhandle(int fd) {
    Descriptor* d = Find(fd);
    if (d && !d->os && !d->own) d->own = simwin::DescriptorHandle(d->hostFd, d->device);
    if (!d || !(d->os ? d->os : d->own)) {
        errno = EBADF;
        return (intptr_t)INVALID_HANDLE_VALUE;
    }
    return (intptr_t)(d->os ? d->os : d->own);
}

int _open_osfhandle(intptr_t osfhandle, int flags) {
    DWORD err;
    if (simwin::Enter("_open_osfhandle", &err)) return Fail(EMFILE);
    int hostFd = simwin::HandleHostFd((HANDLE)osfhandle);
    if (hostFd < 0) return Fail(EBADF);
    return NewDescriptor(
        Descriptor{hostFd, "", (flags & _O_TEXT) != 0, true, 0, (HANDLE)osfhandle});
}

int _read(int fd, void* buffer, unsigned int count) {
    DWORD err;
    if (simwin::Enter("_read", &err)) return Fail(EIO);
    Descriptor* d = Find(fd);
    if (!d) return Fail(EBADF);
    const off_t start = d->readOnly ? d->position : lseek(d->hostFd, 0, SEEK_CUR);
    int n = (int)(d->readOnly ? pread(d->hostFd, buffer, count, start)
                              : read(d->hostFd, buffer, count));
    if (n > 0) bytesRead += (uint64_t)n;
    // Where the file stands after this call (text mode may move it).
    off_t end = start + (n > 0 ? n : 0);
    if (n > 0 && d->text) {
        // Text mode: squeeze CR LF pairs in place; a CR that ends the chunk
        // looks at the next byte of the file.
        char* b = static_cast<char*>(buffer);
        int out = 0;
        for (int i = 0; i < n; i++) {
            if (b[i] == 0x1A) { // end of text: leave the file positioned on it
                end = start + i;
                break;
            }
            if (b[i] == '\r') {
                if (i + 1 < n) {
                    if (b[i + 1] == '\n') continue;
                } else {
                    char next;
                    if (pread(d->hostFd, &next, 1, start + n) == 1 && next == '\n') {
                        b[out++] = '\n';
                        end = start + n + 1;
                        break;
                    }
                }
            }
            b[out++] = b[i];
        }
        n = out;
    }
    if (d->readOnly)
        d->position = end;
    else if (n > 0 && d->text)
        lseek(d->hostFd, end, SEEK_SET);
    return n;
}

int _write(int fd, const void* buffer, unsigned int count) {
    DWORD err;
    if (simwin::Enter("_write", &err)) return Fail(ENOSPC);
    Descriptor* d = Find(fd);
    if (!d) return Fail(EBADF);
    if (!d->text) return (int)write(d->hostFd, buffer, count);
    std::string out;
    const char* b = static_cast<const char*>(buffer);
    for (unsigned int i = 0; i < count; i++) {
        if (b[i] == '\n') out += '\r';
        out += b[i];
    }
    if (write(d->hostFd, out.data(), out.size()) != (ssize_t)out.size()) return Fail(ENOSPC);
    return (int)count;
}

long _lseek(int fd, long offset, int origin) {
    DWORD err;
    if (simwin::Enter("_lseek", &err)) return Fail(EINVAL);
    Descriptor* d = Find(fd);
    if (!d) return Fail(EBADF);
    int32_t windowsOffset = (int32_t)offset; // what a 32-bit long holds
    off_t base = 0;
    if (origin == SEEK_CUR) base = d->readOnly ? d->position : lseek(d->hostFd, 0, SEEK_CUR);
    if (origin == SEEK_END) {
        struct stat st;
        if (fstat(d->hostFd, &st) != 0) return Fail(EBADF);
        base = st.st_size;
    }
    long long target = (long long)base + windowsOffset;
    if (target < 0 || target > INT32_MAX) return Fail(EINVAL);
    if (d->readOnly) {
        d->position = (off_t)target;
        return (long)target;
    }
    return (long)lseek(d->hostFd, (off_t)target, SEEK_SET);
}

long _filelength(int fd) {
    DWORD err;
    if (simwin::Enter("_filelength", &err)) return Fail(EBADF);
    Descriptor* d = Find(fd);
    if (!d) return Fail(EBADF);
    struct stat st;
    if (fstat(d->hostFd, &st) != 0) return -1;
    return (long)st.st_size;
}

int _close(int fd) {
    DWORD err;
    Descriptor* d = Find(fd);
    if (!d) return Fail(EBADF);
    if (d->os)
        CloseHandle(d->os);
    else
        close(d->hostFd);
    if (d->own) CloseHandle(d->own);
    descriptors.erase(fd);
    if (simwin::Enter("_close", &err)) return Fail(EBADF); // closed all the same
    return 0;
}

int _access(const char* path, int mode) {
    DWORD err;
    if (simwin::Enter("_access", &err)) return Fail(EACCES);
    std::string host = path ? simwin::HostPath(simwin::Redirected(path)) : "";
    struct stat st;
    if (host.empty() || stat(host.c_str(), &st) != 0) return Fail(ENOENT);
    if ((mode & 2) && !S_ISDIR(st.st_mode) && (GetFileAttributesA(path) & FILE_ATTRIBUTE_READONLY))
        return Fail(EACCES);
    return 0;
}

int _stricmp(const char* a, const char* b) {
    for (;; a++, b++) {
        int ca = tolower((unsigned char)*a), cb = tolower((unsigned char)*b);
        if (ca != cb || !ca) return ca - cb;
    }
}

int _strnicmp(const char* a, const char* b, size_t n) {
    for (; n; n--, a++, b++) {
        int ca = tolower((unsigned char)*a), cb = tolower((unsigned char)*b);
        if (ca != cb || !ca) return ca - cb;
    }
    return 0;
}

int _memicmp(const void* a, const void* b, size_t n) {
    const unsigned char* p = (const unsigned char*)a;
    const unsigned char* q = (const unsigned char*)b;
    for (; n; n--, p++, q++) {
        int ca = tolower(*p), cb = tolower(*q);
        if (ca != cb) return ca - cb;
    }
    return 0;
}

char* _strlwr(char* s) {
    for (char* p = s; *p; p++)
        *p = (char)tolower((unsigned char)*p);
    return s;
}

char* _strupr(char* s) {
    for (char* p = s; *p; p++)
        *p = (char)toupper((unsigned char)*p);
    return s;
}
