/*
** simwin: run-time streams on Windows paths, built on glibc's custom streams
** (fopencookie) so the FILE* they return works with every stdio function.
*/
#define SIMWIN_STDIO_IMPLEMENTATION
#include "simwin/stdio.h"
#include "simwin/files.h"
#include "simwin/processes.h"
#include "simwin/wow64.h"

#include <cerrno>
#include <fcntl.h>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Stream {
    std::string hostPath;
    bool text = true;
    std::string data; // reading: the content as the run-time delivers it
    size_t pos = 0;
    int fd = -1; // writing: the host descriptor
    bool failRead = false;
};

std::map<FILE*, Stream*> streams;

simwin::ResetHook resetStreams([] {
    auto open = streams; // closing removes them from the table
    for (auto& [f, s] : open)
        ::fclose(f);
    streams.clear();
});

FILE* Fail(int e) {
    errno = e;
    return nullptr;
}

/* What a text-mode read delivers: CR LF becomes LF, Ctrl+Z ends the data. */
std::string TextView(const std::string& raw) {
    std::string out;
    out.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); i++) {
        char c = raw[i];
        if (c == 0x1A) break;
        if (c == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
        out += c;
    }
    return out;
}

ssize_t ReadFn(void* cookie, char* buffer, size_t size) {
    Stream* s = static_cast<Stream*>(cookie);
    if (s->failRead) return -1;
    if (s->pos >= s->data.size()) return 0;
    size_t n = std::min(size, s->data.size() - s->pos);
    memcpy(buffer, s->data.data() + s->pos, n);
    s->pos += n;
    return (ssize_t)n;
}

ssize_t WriteFn(void* cookie, const char* buffer, size_t size) {
    Stream* s = static_cast<Stream*>(cookie);
    std::string out;
    for (size_t i = 0; i < size; i++) {
        if (s->text && buffer[i] == '\n') out += '\r';
        out += buffer[i];
    }
    size_t done = 0;
    while (done < out.size()) {
        ssize_t n = write(s->fd, out.data() + done, out.size() - done);
        if (n <= 0) return -1;
        done += (size_t)n;
    }
    return (ssize_t)size;
}

int CloseFn(void* cookie) {
    Stream* s = static_cast<Stream*>(cookie);
    if (s->fd >= 0) close(s->fd);
    for (auto it = streams.begin(); it != streams.end(); ++it)
        if (it->second == s) {
            streams.erase(it);
            break;
        }
    delete s;
    return 0;
}

} // namespace

FILE* simwin_fopen(const char* path, const char* mode) {
    if (!path || !mode) return Fail(EINVAL);
    if (!(isalpha((unsigned char)path[0]) && path[1] == ':')) return ::fopen(path, mode);
    DWORD err;
    if (simwin::Enter("fopen", &err)) return Fail(err == ERROR_FILE_NOT_FOUND ? ENOENT : EACCES);

    char kind = mode[0];
    bool text = true;
    for (const char* m = mode + 1; *m; m++) {
        if (*m == 'b')
            text = false;
        else if (*m != 't')
            return Fail(EINVAL);
    }
    if (kind != 'r' && kind != 'w' && kind != 'a') return Fail(EINVAL);

    std::string host = simwin::HostPath(simwin::Redirected(path));
    if (host.empty()) return Fail(ENOENT);
    struct stat st;
    bool exists = stat(host.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) return Fail(EACCES);
    if (exists && simwin::LockOf(host) == simwin::FileLock::HeldExclusive) return Fail(EACCES);

    auto s = new Stream;
    s->hostPath = host;
    s->text = text;
    cookie_io_functions_t io{};
    io.close = CloseFn;
    if (kind == 'r') {
        if (!exists) {
            delete s;
            return Fail(ENOENT);
        }
        std::ifstream in(host, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        s->data = text ? TextView(ss.str()) : ss.str();
        io.read = ReadFn;
    } else {
        if (exists && (simwin::LockOf(host) == simwin::FileLock::RunningImage ||
                       (GetFileAttributesA(path) & FILE_ATTRIBUTE_READONLY))) {
            delete s;
            return Fail(EACCES);
        }
        int flags = O_WRONLY | O_CREAT | (kind == 'w' ? O_TRUNC : O_APPEND);
        s->fd = open(host.c_str(), flags, 0644);
        if (s->fd < 0) {
            int e = errno;
            delete s;
            return Fail(e);
        }
        io.write = WriteFn;
    }
    FILE* f = fopencookie(s, kind == 'r' ? "r" : "w", io);
    if (!f) {
        io.close(s);
        return Fail(ENOMEM);
    }
    // Unbuffered, so that each fgets reaches ReadFn and an injected read
    // failure sets the stream's error indicator as a real one would.
    setvbuf(f, nullptr, _IONBF, 0);
    streams[f] = s;
    return f;
}

/* An injected failure is a read error: fgets returns NULL and ferror says so. */
char* simwin_fgets(char* buffer, int size, FILE* stream) {
    auto it = streams.find(stream);
    DWORD err;
    if (it != streams.end() && simwin::Enter("fgets", &err)) {
        it->second->failRead = true;
        ::fgets(buffer, size, stream);
        it->second->failRead = false;
        errno = EIO;
        return nullptr;
    }
    return ::fgets(buffer, size, stream);
}

/* Closes the stream even when a test makes the call report failure. */
int simwin_fclose(FILE* stream) {
    bool ours = streams.count(stream) != 0;
    int result = ::fclose(stream);
    DWORD err;
    if (ours && simwin::Enter("fclose", &err)) return EOF;
    return result;
}

namespace simwin {

bool IsOpenByStream(const std::string& hostPath) {
    for (auto& [f, s] : streams)
        if (s->hostPath == hostPath) return true;
    return false;
}

size_t OpenStreamCount() { return streams.size(); }

} // namespace simwin
