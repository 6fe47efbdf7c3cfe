// The Convert action with stub codecs: steps, messages, the intensity shift,
// and the mended behaviour (aborted statements, nothing lost, sigma cleared).
#include <gtest/gtest.h>

#include "core/codec_guard.h"
#include "core/display_texts.h"
#include "core/driver.h"
#include "core/point_count.h"
#include "core/prompts.h"
#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::Bench;
using testing::read_file;
using testing::ScratchDir;
using testing::write_file;

// Stub codecs: the reader fills three points from the workspace's first line
// and the status is whatever the test asks for through the line's text.
ConversionStatus stub_reader(Workspace& ws, CodecMode mode) noexcept {
    if (mode == CodecMode::write) {
        write_record(ws.output(), Layout("(F10.3)"),
                     {std::span<const float>(ws.record().intensity.data(),
                                             static_cast<std::size_t>(ws.record().point_count))});
        return ConversionStatus::done;
    }
    static const Layout kStatus("(I2,I6)");
    int32_t status = 0, lines = 0;
    if (read_record(ws.input(), kStatus, {status, lines}) != Outcome::done)
        return ConversionStatus::premature_end;
    PowderPattern& r = ws.record();
    r.lines_read = lines;
    r.point_count = 3;
    r.two_theta_step = 0.02f;
    r.intensity(1) = 0.0f;
    r.intensity(2) = 5.0f;
    r.intensity(3) = 10.0f;
    if (status == 7)
        return guard_codec(ws, [&]() -> ConversionStatus {
            throw IoAbort{end_of_file_report(1, ws.input().file_name())};
        });
    return static_cast<ConversionStatus>(status);
}

ConversionStatus failing_writer(Workspace& ws, CodecMode mode) noexcept {
    if (mode != CodecMode::write) return stub_reader(ws, mode);
    ws.output().append_line("half a file");
    return ConversionStatus::too_large;
}

const FormatInfo kStubs[] = {
    {FormatId::ascii_xy, "Ascii x-y", "DAT", "", "", "xy", stub_reader, true, true, true},
    {FormatId::gsas, "GSAS cw data", "GSA", "", "", "gsas", failing_writer, true, true, true},
    {FormatId::stoe_ascii, "Stoe ascii", "ASC", "", "", "stoe-ascii", stub_reader, true, false,
     false},
};

struct DriverCase {
    const char* input;      // "status lines" for the stub reader
    const char* displayed;  // what the failure dialog shows, or "" on success
};

void PrintTo(const DriverCase& c, std::ostream* os) {
    *os << "'" << c.input << "'";
}

class DriverMessages : public ::testing::TestWithParam<DriverCase> {};

TEST_P(DriverMessages, ReadStatusBecomesMessage) {
    Bench b;
    b.input(GetParam().input, "/data/scan.dat");
    b.memory_output();
    const auto result = run_conversion(b.ws, FormatId::ascii_xy, FormatId::ascii_xy, kStubs);
    if (std::string(GetParam().displayed).empty()) {
        EXPECT_TRUE(result.succeeded());
        EXPECT_EQ(b.ui.events(), (std::vector<std::string>{"dataset", "success", "reset"}));
    } else {
        EXPECT_FALSE(result.succeeded());
        EXPECT_EQ(b.ui.last_failure(), GetParam().displayed);
        EXPECT_EQ(b.ui.events().back(), "reset");
        EXPECT_EQ(b.ui.events().size(), 2u) << "no dataset dialog after a failed read";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, DriverMessages,
    ::testing::Values(DriverCase{" 0     0", ""},
                      DriverCase{" 5     0", "THIS DATA FORMAT NOT YET AVAILABLE"},
                      DriverCase{" 4     0", "UNEXPECTED END OF FILE"},
                      DriverCase{" 2     0", "ERROR READING INPUT FILE AFTER LINE    0"},
                      DriverCase{" 2   123", "ERROR READING INPUT FILE AFTER LINE  123"},
                      // More lines than I5 holds are shown in full, not as asterisks.
                      DriverCase{" 2123456", "ERROR READING INPUT FILE AFTER LINE123456"},
                      DriverCase{" 3     0", "NO. DATA EXCEEDED MAXIMUM OF 100000"},
                      DriverCase{" 7     0", "end-of-file during read, unit 1, file scan.dat"},
                      DriverCase{"", "UNEXPECTED END OF FILE"}));

TEST(Driver, EmptyInputFormatDoesNothing) {
    Bench b;
    b.input(" 0     0");
    b.memory_output();
    const auto result = run_conversion(b.ws, FormatId::none, FormatId::ascii_xy, kStubs);
    EXPECT_FALSE(result.started);
    EXPECT_TRUE(b.ui.events().empty());
    EXPECT_EQ(b.r().max_points, kPointCapacity);
    EXPECT_TRUE(b.ws.input().is_open());
}

TEST(Driver, OutputOutsideListStopsSilentlyAfterShift) {
    Bench b;
    b.input(" 0     0");
    b.memory_output();
    const auto result = run_conversion(b.ws, FormatId::ascii_xy, FormatId::stoe_ascii, kStubs);
    EXPECT_FALSE(result.write_attempted);
    EXPECT_EQ(b.ui.events(), std::vector<std::string>{"dataset"});
    EXPECT_FLOAT_EQ(b.r().intensity(1), 0.001f);
    EXPECT_TRUE(b.ws.output().is_open());
}

TEST(Driver, FailedWriteLeavesOldFileByteForByte) {
    ScratchDir dir;
    const auto target = dir / "old.gsa";
    write_file(target, "precious");
    Bench b;
    b.input(" 0     0");
    ASSERT_EQ(b.ws.output().open(target.string(), true), Outcome::done);
    const auto result = run_conversion(b.ws, FormatId::ascii_xy, FormatId::gsas, kStubs);
    EXPECT_EQ(result.write_status, ConversionStatus::too_large);
    EXPECT_EQ(b.ui.last_failure(), "DATA TOO LARGE FOR OUTPUT FORMAT");
    EXPECT_EQ(read_file(target), "precious");
}

TEST(Driver, SuccessfulWriteReplacesFile) {
    ScratchDir dir;
    const auto target = dir / "new.dat";
    write_file(target, "precious");
    Bench b;
    b.input(" 0     0");
    ASSERT_EQ(b.ws.output().open(target.string(), true), Outcome::done);
    ASSERT_TRUE(run_conversion(b.ws, FormatId::ascii_xy, FormatId::ascii_xy, kStubs).succeeded());
    EXPECT_EQ(read_file(target), "     0.001\r\n     5.001\r\n    10.001\r\n");
}

TEST(Driver, SigmaClearedBeforeEveryRead) {
    Bench b;
    b.r().sigma(1) = 42.0f;
    b.input(" 0     0");
    b.memory_output();
    run_conversion(b.ws, FormatId::ascii_xy, FormatId::ascii_xy, kStubs);
    EXPECT_EQ(b.r().sigma(1), 0.0f);
}

TEST(RaiseLowIntensities, ShiftsAllOrNothing) {
    struct Case {
        std::vector<float> in, out;
    };
    const Case cases[] = {
        {{0.0f, 5.0f, 10.0f}, {0.001f, 5.001f, 10.001f}},
        {{0.001f, 5.0f, 10.0f}, {0.001f, 5.0f, 10.0f}},
        {{-3.0f, 5.0f}, {-2.999f, 5.001f}},
    };
    for (const auto& c : cases) {
        Bench b;
        b.r().point_count = static_cast<int32_t>(c.in.size());
        for (std::size_t i = 0; i < c.in.size(); ++i)
            b.r().intensity(static_cast<int32_t>(i + 1)) = c.in[i];
        raise_low_intensities(b.r());
        for (std::size_t i = 0; i < c.in.size(); ++i)
            EXPECT_FLOAT_EQ(b.r().intensity(static_cast<int32_t>(i + 1)), c.out[i]);
    }
    Bench none;
    none.r().point_count = 0;
    none.r().intensity(1) = -5.0f;
    raise_low_intensities(none.r());
    EXPECT_EQ(none.r().intensity(1), -5.0f);
    none.r().point_count = 200000;  // a count beyond the arrays touches nothing past them
    raise_low_intensities(none.r());
}

TEST(DerivedPointCount, KeepsTheLastPoint) {
    struct Case {
        float start, end, step;
        int32_t expected;
    };
    for (const Case& c :
         {Case{5.0f, 100.0f, 0.05f, 1901}, Case{2.0f, 3.0f, 0.1f, 11}, Case{10.0f, 10.5f, 0.2f, 3},
          Case{0.0f, 1.0f, 0.0f, 0}, Case{10.0f, 5.0f, 1.0f, -4},
          Case{0.0f, 1e30f, 1e-30f, 2147483647}, Case{0.01f, 32.01f, 0.002f, 16001},
          Case{5.0f, 104.999f, 0.001f, 100000}, Case{10.0f, 10.0105f, 0.001f, 11}})
        EXPECT_EQ(derived_point_count(c.start, c.end, c.step), c.expected)
            << c.start << " " << c.end << " " << c.step;
}

TEST(DisplayTexts, DatasetDialogFields) {
    PowderPattern r;
    r.two_theta_start = 5.0f;
    r.two_theta_end = 10000.0f;
    r.lambda1 = 1.5405f;
    r.lambda2 = 10.0f;
    r.alpha_ratio = 0.0f;
    r.point_count = 100000;
    const DatasetTexts t = dataset_texts(r);
    EXPECT_EQ(t.two_theta_start, "   5.000");
    EXPECT_EQ(t.two_theta_end, "********");
    EXPECT_EQ(t.lambda1, "1.54050");
    EXPECT_EQ(t.lambda2, "*******");
    EXPECT_EQ(t.alpha_ratio, "0.00000");
    EXPECT_EQ(t.point_count, "100000");
    EXPECT_EQ(success_count_text(512), "    512 Data converted");
    EXPECT_EQ(success_count_text(100000), "  100000 Data converted");
    EXPECT_EQ(displayed_failure("ERROR OPENING INPUT DATA FILE" + std::string(71, ' ')),
              "ERROR OPENING INPUT DATA FILE");
}

TEST(Prompts, WavelengthRules) {
    struct Case {
        const char *a1, *a2, *ratio;
        float l1, l2, r;
    };
    for (const Case& c :
         {Case{"1.5405", "1.5443", "0.5", 1.5405f, 1.5443f, 0.5f},
          Case{"1.5405", "1.0", "0.5", 1.5405f, 0.0f, 0.0f},
          Case{"1.5405", "1.5405", "0.7", 1.5405f, 1.5405f, 0.7f},
          Case{"", "", "", 0.0f, 0.0f, 0.0f}, Case{"15405", "2.0", "0", 0.15405f, 2.0f, 0.0f},
          Case{"1.540598765", "2.", "0", 1.540598f, 2.0f, 0.0f},
          Case{"1.5", "2", "0.5", 1.5f, 0.0f, 0.0f}}) {
        Bench b;
        b.answers().wavelengths = {c.a1, c.a2, c.ratio};
        ask_wavelengths(b.ws);
        EXPECT_FLOAT_EQ(b.r().lambda1, c.l1) << c.a1;
        EXPECT_FLOAT_EQ(b.r().lambda2, c.l2) << c.a2;
        EXPECT_FLOAT_EQ(b.r().alpha_ratio, c.r) << c.ratio;
    }
    Bench bad;
    bad.answers().wavelengths = {"abc", "1", "1"};
    EXPECT_THROW(ask_wavelengths(bad.ws), IoAbort);
}

TEST(Prompts, CountTimeAndTitle) {
    for (const auto& [typed, expected] : {std::pair<const char*, float>{"", 1.0f},
                                          {"0", 1.0f},
                                          {"0.0009", 1.0f},
                                          {"0.001", 0.001f},
                                          {"2.5", 2.5f}}) {
        Bench b;
        b.answers().count_time = typed;
        ask_xy_input(b.ws);
        EXPECT_FLOAT_EQ(b.r().count_time, expected) << typed;
    }
    Bench b;
    b.r().set_title("Quartz");
    b.answers().title_given = true;
    b.answers().title = "Edited";
    b.answers().write_title = false;
    ask_ascii_output(b.ws);
    EXPECT_EQ(trim_right(b.r().title), "Quartz");  // unticked box keeps the title
    b.answers().write_title = true;
    ask_ascii_output(b.ws);
    EXPECT_EQ(trim_right(b.r().title), "Edited");
}

TEST(Registry, DetectFormat) {
    struct Case {
        const char* path;
        Direction dir;
        FormatId expected;
    };
    for (const Case& c : {Case{"/data/scan.UXD", Direction::input, FormatId::siemens_uxd},
                          Case{"/data/scan.uxd", Direction::input, FormatId::siemens_uxd},
                          Case{"/data/scan.cif", Direction::output, FormatId::gsas_cif},
                          Case{"/data/scan.cif", Direction::input, FormatId::gsas_cif},
                          Case{"/my.files/scan.raw", Direction::input, FormatId::none},
                          Case{"/data/scan", Direction::input, FormatId::none},
                          Case{"/data/scan.xyz", Direction::input, FormatId::none}})
        EXPECT_EQ(detect_format(extension_chars(c.path), c.dir), c.expected) << c.path;
    EXPECT_EQ(format_from_name("Siemans uxd"), FormatId::siemens_uxd);
    EXPECT_EQ(format_from_name("STOE-RAW"), FormatId::stoe_raw);
    EXPECT_EQ(format_from_name("10"), FormatId::gsas_cif);
    EXPECT_EQ(format_from_name("1"), std::nullopt);
    EXPECT_EQ(format_from_name("11"), FormatId::xrdml);
    EXPECT_EQ(format_from_name("16"), FormatId::xye);
    EXPECT_EQ(format_from_name("fxye"), FormatId::fxye);
    EXPECT_EQ(format_from_name("19"), std::nullopt);
    EXPECT_EQ(format_from_name("20"), FormatId::philips_rd);
    EXPECT_EQ(format_from_name("NeXus"), FormatId::nexus);
    EXPECT_EQ(formats().size(), 23u);
}

}  // namespace
}  // namespace qelda
