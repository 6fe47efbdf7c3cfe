// Every sample and example cut at each eighth of its length: a cut file is
// read fully, refused, or read with a warning, never read with other values
// and exit 0 without a word.
#include <gtest/gtest.h>

#include <cstdio>
#include <iostream>
#include <map>

#include "app/convert_cli.h"
#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::read_file;
using testing::ScratchDir;
using testing::write_file;
namespace fs = std::filesystem;

struct Read {
    int status = 0;
    std::string json;  // standard output
    std::string err;
};

Read convert_to_json(const fs::path& input) {
    const std::string in_path = input.string();
    const char* argv[] = {"qelda-convert", "-q", "-t", "json", in_path.c_str(), "-"};
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    Read r;
    r.status = run_convert_cli(6, argv, in, out, err);
    auto slurp = [](std::FILE* f) {
        std::string s;
        std::rewind(f);
        char buf[65536];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
        std::fclose(f);
        return s;
    };
    std::fclose(in);
    r.json = slurp(out);
    r.err = slurp(err);
    return r;
}

// The part of the JSON from `"key":` to the end of its value list or number.
std::string json_part(const std::string& json, std::string_view key) {
    std::string quoted("\"");
    quoted += key;
    quoted += "\":";
    const auto at = json.find(quoted);
    if (at == std::string::npos) return {};
    const auto end = json.find_first_of(json[at + key.size() + 3] == '[' ? "]" : ",}", at);
    return json.substr(at, end - at);
}

std::vector<fs::path> inputs() {
    std::vector<fs::path> all;
    for (const auto& e : fs::directory_iterator(fs::path(QELDA_SOURCE_DIR) / "examples"))
        all.push_back(e.path());
    if (const auto manifest = testing::sample("MANIFEST.tsv")) {
        const std::string text = read_file(*manifest);
        std::size_t pos = text.find('\n');  // past the heading
        while (pos != std::string::npos && pos + 1 < text.size()) {
            const auto end = text.find('\n', pos + 1);
            const std::string line = text.substr(pos + 1, end - pos - 1);
            pos = end;
            const std::string path = line.substr(0, line.find('\t'));
            if (const auto p = testing::sample(path)) all.push_back(*p);
        }
    }
    return all;
}

TEST(CutFiles, ReadFullyRefusedOrWarned) {
    ScratchDir dir;
    std::map<std::string, int> outcomes;
    for (const fs::path& input : inputs()) {
        const Read whole = convert_to_json(input);
        if (whole.status != 0) continue;  // refused whole: nothing to compare with
        const std::string bytes = read_file(input);
        const std::string points = json_part(whole.json, "point_count");
        const std::string values = json_part(whole.json, "intensity");
        for (int eighth = 1; eighth <= 7; ++eighth) {
            const std::size_t length = bytes.size() * static_cast<std::size_t>(eighth) / 8;
            const fs::path cut = dir / input.filename().string();
            write_file(cut, std::string_view(bytes).substr(0, length));
            const Read r = convert_to_json(cut);
            const std::string where =
                input.string() + " cut to " + std::to_string(length) + " bytes";
            if (r.status != 0) {
                EXPECT_NE(r.err.find(input.filename().string()), std::string::npos)
                    << where << ": the refusal names the file: " << r.err;
                ++outcomes["refused"];
            } else if (json_part(r.json, "warnings") != json_part(whole.json, "warnings")) {
                ++outcomes["warned"];
            } else if (json_part(r.json, "intensity") == values) {
                ++outcomes["read fully"];
            } else {
                // A cut right after a line end reads as a shorter scan with
                // exit 0: nothing tells it from a file that holds fewer points.
                // No value may differ from the whole file's.
                const std::string got = json_part(r.json, "intensity");
                EXPECT_TRUE(values.starts_with(got) && values[got.size()] == ',')
                    << where << ": read with exit 0, no warning and other values ("
                    << json_part(r.json, "point_count") << " where the whole file gives " << points
                    << ")";
                ++outcomes["read shorter, no value changed"];
            }
        }
    }
    for (const auto& [what, n] : outcomes) std::cout << what << ": " << n << "\n";
}

}  // namespace
}  // namespace qelda
