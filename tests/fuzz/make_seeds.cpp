// Writes small seeds for the fuzz targets of the formats whose real samples
// are larger than the fuzzer's -max_len: a BRML and a RASX archive and a RAS
// file, as the tests build them, each a scan the readers convert.
// Usage: fuzz-seeds DIR (makes DIR/brml, DIR/rasx, DIR/ras).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/scan_builders.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz-seeds DIR\n");
        return 2;
    }
    namespace fs = std::filesystem;
    using namespace qelda::testing;
    const fs::path dir(argv[1]);
    const std::string datums = kDatums + "<Datum>2,1,30.15,15.075,130</Datum>";
    const struct {
        const char* target;
        const char* name;
        std::string bytes;
    } seeds[] = {
        {"brml", "one-scan.brml", brml({raw_data("TwoTheta", kDatums)})},
        {"brml", "two-scans.brml",
         brml({raw_data("Theta", kDatums), raw_data("TwoTheta", datums)})},
        {"rasx", "one-scan.rasx", rasx("TwoTheta", "Ka1")},
        {"ras", "one-scan.ras", ras(ras_block("TwoTheta", kRows))},
        {"ras", "two-scans.ras", ras(ras_block("Omega", kRows) + ras_block("TwoTheta", kRows))},
    };
    for (const auto& s : seeds) {
        std::error_code ec;
        fs::create_directories(dir / s.target, ec);
        std::ofstream out(dir / s.target / s.name, std::ios::binary);
        out.write(s.bytes.data(), static_cast<std::streamsize>(s.bytes.size()));
        if (ec || !out.flush()) {
            std::fprintf(stderr, "fuzz-seeds: cannot write %s/%s\n", s.target, s.name);
            return 1;
        }
    }
    return 0;
}
