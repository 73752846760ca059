/*
** export_yara: writes the built-in variant table as YARA rules.
**
**   export_yara <file>
**
** The rules come from the engine's own table, so they always describe the
** table this build carries. A file that is already right is left alone;
** otherwise the rules go to a temporary name that is renamed into place, so
** two builds writing the same file never show a reader half of it.
*/
#include "engine/signatures.h"
#include "tools/yara_rules.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s <file>\n", argv[0]);
        return 2;
    }
    const fs::path path = argv[1];
    const std::string rules = yara_rules::RulesFile(kVariantTable);
    {
        std::ifstream in(path, std::ios::binary);
        if (in && std::string(std::istreambuf_iterator<char>(in), {}) == rules) return 0;
    }
    std::error_code ec;
    if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
    fs::path tmp = path;
    tmp += ".tmp" + std::to_string(getpid());
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << rules;
        if (!out.flush()) {
            fprintf(stderr, "export_yara: cannot write %s\n", tmp.c_str());
            fs::remove(tmp, ec);
            return 1;
        }
    }
    fs::rename(tmp, path, ec);
    if (ec) {
        fprintf(stderr, "export_yara: cannot write %s: %s\n", argv[1], ec.message().c_str());
        fs::remove(tmp, ec);
        return 1;
    }
    printf("export_yara: wrote %s\n", path.c_str());
    return 0;
}
