// Writes the shared package table for the Wine suite: each package into FOLDER/<index>/, and
// one line per package on standard output: index, name, the update's error and plan's reasons
// (each reason's line end written as \n), separated by '|'.
#include <cstdio>
#include <string>

#include "PackageTable.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: package_table_writer FOLDER\n");
        return 2;
    }
    const auto& packages = PackageTable::Packages();
    for (size_t i = 0; i < packages.size(); ++i) {
        PackageTable::Write(packages[i], std::filesystem::path(argv[1]) / std::to_string(i));
        std::string reasons;
        for (const char c : packages[i].reasons) {
            reasons += c == '\n' ? std::string("\\n") : std::string(1, c);
        }
        std::printf("%zu|%s|%u|%s\n", i, packages[i].name, packages[i].updateError,
                    reasons.c_str());
    }
    return 0;
}
