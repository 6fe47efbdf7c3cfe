// The JSON writer: strings in UTF-8, the record's numbers as they read back.
#include <gtest/gtest.h>

#include <string>

#include "tests/test_support.h"

namespace qelda {
namespace {

using testing::Bench;

// What a title becomes in the JSON, and whether the writer says it was not UTF-8.
TEST(Json, TitlesAreUtf8) {
    struct Case {
        std::string title;
        std::string json;     // the "title" member as written
        const char* warning;  // a phrase of the warning, or nullptr for none
    };
    const std::string cut(59, 'a');
    const Case cases[] = {
        {"Quartz 1", "\"title\":\"Quartz 1\"", nullptr},
        {"Quarz \xC3\xA4 \xE2\x84\xAB", "\"title\":\"Quarz \xC3\xA4 \xE2\x84\xAB\"", nullptr},
        {"emoji \xF0\x9F\x98\x80", "\"title\":\"emoji \xF0\x9F\x98\x80\"", nullptr},
        {"q\"b\\c\td\x7F", "\"title\":\"q\\\"b\\\\c\\u0009d\\u007f\"", nullptr},
        // Not UTF-8: every byte is a Latin-1 character.
        {"Quarz \xE4", "\"title\":\"Quarz \xC3\xA4\"", "not UTF-8: read as Latin-1"},
        {"\xB0 2\xD8 \x85", "\"title\":\"\xC2\xB0 2\xC3\x98 \\u0085\"", "not UTF-8"},
        {"over \xC0\xAF", "\"title\":\"over \xC3\x80\xC2\xAF\"", "not UTF-8"},
        {"surrogate \xED\xA0\x80", "\"title\":\"surrogate \xC3\xAD\xC2\xA0\\u0080\"", "not UTF-8"},
        {"big \xF4\x90\x80\x80", "\"title\":\"big \xC3\xB4\\u0090\\u0080\\u0080\"", "not UTF-8"},
        // Cut to the record's 60 bytes inside a character: only it goes.
        {cut + "\xC3\xA4", "\"title\":\"" + cut + "\"", "cut inside a character"},
        {"\xC3 short", "\"title\":\"\xC3\x83 short\"", "not UTF-8"},
    };
    for (const auto& c : cases) {
        Bench b;
        testing::fill_scan(b.r(), 3, 10.0f, 0.02f);
        b.r().set_title(c.title);
        b.ws.session().input_format = FormatId::siemens_uxd;
        std::string json;
        ASSERT_EQ(b.write(json_codec, json), ConversionStatus::done) << c.title;
        EXPECT_NE(json.find(c.json), std::string::npos) << c.title << "\n" << json;
        const bool warned = !b.ws.warnings.empty();
        EXPECT_EQ(warned, c.warning != nullptr) << c.title;
        if (c.warning && warned) {
            EXPECT_NE(b.ws.warnings[0].find(c.warning), std::string::npos) << b.ws.warnings[0];
            // The warning stands in the JSON's own list as well.
            EXPECT_NE(json.find(c.warning), std::string::npos) << json;
        }
    }
}

TEST(Json, IsWrittenNotRead) {
    Bench b;
    EXPECT_EQ(b.read(json_codec, "{\"title\":\"x\"}", "a.json"), ConversionStatus::not_available);
    EXPECT_NE(b.ws.failure_reason.find("not read"), std::string::npos);
}

}  // namespace
}  // namespace qelda
