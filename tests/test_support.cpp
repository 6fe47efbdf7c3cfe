#include "tests/test_support.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

#include "app/convert_cli.h"

namespace qelda::testing {

void Bench::input(std::string content, std::string name) {
    ws.input().open_bytes(std::move(content), std::move(name));
    ws.session().input_path = ws.input().path();
    ws.session().input_ready = true;
}

bool Bench::read_as_expected(CodecRoutine codec, std::string content, std::string name,
                             ConversionStatus status, std::string_view phrase) {
    const ConversionStatus got = read(codec, std::move(content), std::move(name));
    EXPECT_EQ(got, status) << ws.failure_reason;
    if (got != status) return false;
    std::string said = ws.failure_reason;
    for (const auto& w : ws.warnings) said += w;
    if (phrase.empty())
        EXPECT_EQ(said, "");
    else
        EXPECT_NE(said.find(phrase), std::string::npos) << said;
    return status == ConversionStatus::done;
}

ConversionStatus Bench::read(CodecRoutine codec, std::string content, std::string name) {
    input(std::move(content), std::move(name));
    ws.record().max_points = kPointCapacity;
    return codec(ws, CodecMode::read);
}

std::optional<std::filesystem::path> sample(const std::string& relative) {
    const std::filesystem::path p = std::filesystem::path(QELDA_SAMPLES_DIR) / relative;
    if (!std::filesystem::exists(p)) return std::nullopt;
    return p;
}

std::string read_file(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::filesystem::path& p, std::string_view content) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

ScratchDir::ScratchDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("qelda-test-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) {
            out.push_back(text.substr(pos));
            break;
        }
        out.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return out;
}

void fill_scan(PowderPattern& r, int32_t n, float start, float step, float base) {
    r.point_count = n;
    r.two_theta_start = start;
    r.two_theta_step = step;
    r.two_theta_end = static_cast<float>(start + static_cast<double>(n - 1) * step);
    for (int32_t i = 1; i <= n && i <= kPointCapacity; ++i)
        r.intensity(i) = base + static_cast<float>(i % 97);
}

CliRun run_cli(std::vector<std::string> args, std::string_view stdin_bytes) {
    args.insert(args.begin(), "qelda-convert");
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    std::FILE* in = std::tmpfile();
    if (!stdin_bytes.empty()) std::fwrite(stdin_bytes.data(), 1, stdin_bytes.size(), in);
    std::rewind(in);
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const int status = run_convert_cli(static_cast<int>(argv.size()), argv.data(), in, out, err);
    std::fclose(in);
    auto slurp = [](std::FILE* f) {
        std::string s;
        std::rewind(f);
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
        std::fclose(f);
        return s;
    };
    return {status, slurp(out), slurp(err)};
}

}  // namespace qelda::testing
