// The batch plan: output names, and the refusals that keep a batch from
// writing over a scan.
#include "core/batch_plan.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace qelda {
namespace {

using namespace qelda::testing;

TEST(BatchPlan, NamesCollisionsAndInputsAsOutputs) {
    ScratchDir dir;
    const std::string d = dir.path().string();
    for (const char* name : {"s2.uxd", "s3.uxd", "q.raw.xy", "q.raw", "scan.dat"})
        write_file(dir / name, "x");
    std::filesystem::create_hard_link(dir / "s2.uxd", dir / "s4.dat");
    struct Case {
        std::vector<std::string> inputs;
        std::string out_dir;
        std::string ext;
        std::string error_phrase;  // empty: the plan holds
    };
    const Case cases[] = {
        {{d + "/s2.uxd", d + "/s3.uxd"}, "", ".dat", ""},
        {{d + "/s2.uxd", d + "/s3.uxd"}, d + "/out", ".gsa", ""},
        // quartz.raw.xy and quartz.raw both become q.raw.dat / q.dat: no clash.
        {{d + "/q.raw.xy", d + "/q.raw"}, "", ".dat", ""},
        // Two inputs, one output name.
        {{d + "/s2.uxd", d + "/out/../s2.uxd"}, d + "/o", ".dat", "would both be written"},
        {{d + "/a/s2.uxd", d + "/b/s2.uxd"}, d + "/o", ".dat", "would both be written"},
        // The output is an input: scan.uxd -> scan.dat beside it.
        {{d + "/s2.uxd", d + "/scan.dat", d + "/scan.uxd"}, "", ".dat", "is the input"},
        // ... also through a hard link: s4.dat is s2.uxd.
        {{d + "/s4.uxd", d + "/s2.uxd"}, "", ".dat", "is the input"},
    };
    for (const auto& c : cases) {
        const BatchPlan plan = plan_batch(c.inputs, c.out_dir, c.ext);
        if (c.error_phrase.empty()) {
            EXPECT_TRUE(plan.ok()) << plan.error;
            EXPECT_EQ(plan.items.size(), c.inputs.size());
        } else {
            EXPECT_NE(plan.error.find(c.error_phrase), std::string::npos) << plan.error;
        }
    }
    EXPECT_EQ(batch_output_name("/x/q.raw.xy", "", ".dat"), "/x/q.raw.dat");
    EXPECT_EQ(batch_output_name("/x/.hidden", "/o", ".gsa"), "/o/.hidden.gsa");
    EXPECT_TRUE(same_file(d + "/s2.uxd", d + "/./s2.uxd"));
}

}  // namespace
}  // namespace qelda
