/*
** simwin: UTF-16 to 8-bit text.
*/
#include "simwin/text.h"

#include <cstring>
#include <string>

namespace {

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += (char)cp;
    } else if (cp < 0x800) {
        out += (char)(0xC0 | cp >> 6);
        out += (char)(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += (char)(0xE0 | cp >> 12);
        out += (char)(0x80 | (cp >> 6 & 0x3F));
        out += (char)(0x80 | (cp & 0x3F));
    } else {
        out += (char)(0xF0 | cp >> 18);
        out += (char)(0x80 | (cp >> 12 & 0x3F));
        out += (char)(0x80 | (cp >> 6 & 0x3F));
        out += (char)(0x80 | (cp & 0x3F));
    }
}

UINT ansiCodePage = 1252;
simwin::ResetHook resetCodePage([] { ansiCodePage = 1252; });

} // namespace

void simwin::SetAnsiCodePage(UINT codePage) { ansiCodePage = codePage; }

BOOL IsDBCSLeadByte(BYTE byte) {
    return ansiCodePage == 932 &&
           ((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC));
}

std::string simwin::Utf8Of(LPCWSTR w, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; i++) {
        uint32_t u = w[i];
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < n && w[i + 1] >= 0xDC00 && w[i + 1] < 0xE000) {
            AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (w[i + 1] - 0xDC00));
            i++;
        } else if (u >= 0xD800 && u < 0xE000) {
            AppendUtf8(out, 0xFFFD);
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR wideText, int wideChars, LPSTR buffer,
                        int bufferSize, LPCSTR defaultChar, LPBOOL usedDefaultChar) {
    if (simwin::Fails("WideCharToMultiByte")) return 0;
    if (!wideText || wideChars == 0 || wideChars < -1 || bufferSize < 0 ||
        (bufferSize > 0 && !buffer)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t n = 0;
    if (wideChars == -1) {
        while (wideText[n])
            n++;
        n++; // the terminator is converted too
    } else {
        n = (size_t)wideChars;
    }
    std::string out;
    bool usedDefault = false;
    if (codePage == CP_UTF8) {
        out = simwin::Utf8Of(wideText, n);
    } else if (codePage == CP_ACP || codePage == CP_OEMCP) {
        char fallback = defaultChar ? defaultChar[0] : '?';
        for (size_t i = 0; i < n; i++) {
            if (wideText[i] < 0x100) {
                out += (char)wideText[i];
            } else {
                out += fallback;
                usedDefault = true;
            }
        }
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (usedDefaultChar) *usedDefaultChar = usedDefault;
    if (bufferSize == 0) return (int)out.size();
    if (out.size() > (size_t)bufferSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(buffer, out.data(), out.size());
    return (int)out.size();
}

int MultiByteToWideChar(UINT codePage, DWORD, LPCSTR text, int bytes, LPWSTR buffer,
                        int bufferSize) {
    if (simwin::Fails("MultiByteToWideChar")) return 0;
    if (codePage != CP_ACP || !text || bytes == 0 || bytes < -1 || bufferSize < 0 ||
        (bufferSize > 0 && !buffer)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const size_t n = bytes == -1 ? strlen(text) + 1 : (size_t)bytes;
    if (bufferSize == 0) return (int)n;
    if ((size_t)bufferSize < n) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    for (size_t i = 0; i < n; i++)
        buffer[i] = (WCHAR)(unsigned char)text[i];
    return (int)n;
}
