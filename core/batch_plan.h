// The plan of a batch: which output each input becomes, checked before anything
// is written. Two inputs that would give one output, or an output that is one
// of the inputs, stop the batch; the command line and the window's batch
// dialog share the rule.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qelda {

struct BatchItem {
    std::string input;
    std::string output;
};

struct BatchPlan {
    std::vector<BatchItem> items;  // in the order of the inputs
    std::string error;             // empty when the plan holds; else why not, naming the files
    bool ok() const noexcept { return error.empty(); }
};

// How the outputs of a batch are named.
enum class BatchNaming {
    replace_extension,  // sample1.udf -> sample1.dat
    keep_extension,     // sample1.udf -> sample1.udf.dat
    numbered,           // as replace_extension; a name already taken gets -2, -3, ...
};

// The output name of one input: its file name without the last extension (or
// with it, `keep_extension`), plus `extension` (".dat"), in `out_dir`, or beside
// the input when `out_dir` is empty.
std::string batch_output_name(std::string_view input, std::string_view out_dir,
                              std::string_view extension, bool keep_extension = false);

// Plans the batch. Paths are compared after resolving links and "..", so that
// two spellings of one file count as one. With `numbered`, an output name that
// an earlier input of the batch takes becomes NAME-2.EXT (then -3, ...).
BatchPlan plan_batch(std::span<const std::string> inputs, std::string_view out_dir,
                     std::string_view extension,
                     BatchNaming naming = BatchNaming::replace_extension);

// Checks outputs already named, several per input where a file's scans each
// get their own: no two items share an output, no output is one of `inputs`.
BatchPlan check_plan(std::span<const std::string> inputs, std::vector<BatchItem> items);

// The same file, whatever the spelling (links, "..", a relative path); a name
// that does not exist yet is compared through its folder.
bool same_file(const std::string& a, const std::string& b);

}  // namespace qelda
