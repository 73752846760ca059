/*
** The conformance suite's runner: every registered case, or those whose
** name contains one of the arguments; a summary at the end.
*/
#include "check.h"
#include "stage.h"

#include <cstring>
#include <vector>

namespace check {
namespace {

struct Case {
    const char* name;
    CaseFn fn;
    const char* family;
};

std::vector<Case>& Cases() {
    static std::vector<Case> cases;
    return cases;
}

int checks = 0, failures = 0;

} // namespace

Register::Register(const char* name, CaseFn fn, const char* family) {
    Cases().push_back(Case{name, fn, family});
}

bool Record(bool ok, const char* file, int line, const std::string& what) {
    checks++;
    if (!ok) {
        failures++;
        const char* base = strrchr(file, '/');
        printf("  FAILED %s:%d: %s\n", base ? base + 1 : file, line, what.c_str());
    }
    return ok;
}

} // namespace check

int main(int argc, char** argv) {
    // The Windows stage starts this program again as the other process.
    if (argc > 1 && strcmp(argv[1], "--idle") == 0) {
        Sleep(120000);
        return 0;
    }
    int ran = 0, failedCases = 0, skipped = 0;
    for (const auto& c : check::Cases()) {
        bool wanted = argc < 2;
        for (int i = 1; i < argc; i++)
            wanted = wanted || strstr(c.name, argv[i]) != nullptr;
        if (!wanted) continue;
        if (!stage::CanModel(c.family)) {
            printf("[skip] %s (models %s: host only)\n", c.name, c.family);
            skipped++;
            continue;
        }
        int before = check::failures, checksBefore = check::checks;
        stage::Begin(c.family);
        c.fn();
        stage::End();
        bool ok = check::failures == before;
        printf("[%s] %s%s%s (%d checks)\n", ok ? " ok " : "FAIL", c.name,
               c.family ? " - models " : "", c.family ? c.family : "",
               check::checks - checksBefore);
        fflush(stdout);
        ran++;
        failedCases += !ok;
    }
    printf("%d cases, %d failed, %d skipped; %d checks, %d failed\n", ran, failedCases, skipped,
           check::checks, check::failures);
    return check::failures || ran == 0 ? 1 : 0;
}
