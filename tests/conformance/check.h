/*
** A small check framework for the conformance suite, the same in the host
** build (over simwin) and in the Windows build (run under Wine): cases
** register themselves, each failing check prints where and what, and the
** run ends with a summary and a non-zero exit when anything failed.
**
** CASE(name) is a behaviour every Win32 shows. MODEL(name, family) is a
** behaviour of one platform family that Wine cannot show (Windows 9x, NT 4.0,
** performance data with a process object): it runs only where the stage can
** model that family, the host build, and is listed as skipped elsewhere.
*/
#ifndef TESTS_CONFORMANCE_CHECK_H
#define TESTS_CONFORMANCE_CHECK_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <type_traits>

namespace check {

typedef void (*CaseFn)();

/* Adds a case to the run (called by the CASE and MODEL macros). */
struct Register {
    Register(const char* name, CaseFn fn, const char* family);
};

/* Records one check; prints it when it failed. Returns the outcome. */
bool Record(bool ok, const char* file, int line, const std::string& what);

inline std::string Show(const std::string& s) { return "\"" + s + "\""; }
inline std::string Show(const char* s) { return s ? Show(std::string(s)) : "null"; }
inline std::string Show(char* s) { return Show((const char*)s); }
inline std::string Show(bool b) { return b ? "true" : "false"; }
template <class T>
typename std::enable_if<std::is_integral<T>::value, std::string>::type Show(T v) {
    char buf[48];
    if (std::is_signed<T>::value)
        snprintf(buf, sizeof buf, "%lld", (long long)v);
    else
        snprintf(buf, sizeof buf, "%llu (0x%llx)", (unsigned long long)v, (unsigned long long)v);
    return buf;
}
template <class T> std::string Show(T* p) {
    char buf[32];
    snprintf(buf, sizeof buf, "%p", (const void*)p);
    return buf;
}

/* Compares strings by content; numbers as the wider of the two types. */
inline bool Same(const char* a, const char* b) { return a && b ? std::string(a) == b : a == b; }
inline bool Same(const std::string& a, const std::string& b) { return a == b; }
inline bool Same(const std::string& a, const char* b) { return b && a == b; }
inline bool Same(char* a, const char* b) { return Same((const char*)a, b); }
template <class A, class B> bool Same(const A& a, const B& b) {
    typedef typename std::common_type<A, B>::type C;
    return (C)a == (C)b;
}

template <class A, class B>
bool Equal(const A& a, const B& b, const char* aText, const char* bText, const char* file,
           int line) {
    bool ok = Same(a, b);
    return Record(
        ok, file, line,
        ok ? "" : std::string(aText) + " == " + bText + ": got " + Show(a) + ", want " + Show(b));
}

} // namespace check

#define CHECK_CAT2(a, b) a##b
#define CHECK_CAT(a, b) CHECK_CAT2(a, b)

#define CASE(name)                                                                                 \
    static void name();                                                                            \
    static check::Register CHECK_CAT(registered_, name)(#name, name, nullptr);                     \
    static void name()

#define MODEL(name, family)                                                                        \
    static void name();                                                                            \
    static check::Register CHECK_CAT(registered_, name)(#name, name, family);                      \
    static void name()

#define CHECK(cond) check::Record((cond) ? true : false, __FILE__, __LINE__, #cond)
#define CHECK_EQ(a, b) check::Equal((a), (b), #a, #b, __FILE__, __LINE__)

#endif
