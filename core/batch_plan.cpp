#include "core/batch_plan.h"

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>

#include "core/platform.h"

namespace qelda {
namespace {

namespace fs = std::filesystem;

// A spelling of the path that two names of one file share.
std::string canonical_spelling(const std::string& path) {
    std::error_code ec;
    const fs::path given = platform::to_path(path);
    const fs::path p = fs::weakly_canonical(given, ec);
    // Where names differ in case only on a file system that ignores it
    // (Windows), they name one file.
    return platform::name_key(
        platform::path_text(ec ? fs::absolute(given, ec).lexically_normal() : p));
}

// Canonical spellings by their hash, each with the index of the path it
// spells. A hit is confirmed by spelling that earlier path again, so that a
// batch of 10^5 files keeps a few bytes per file rather than every spelling.
class SpellingIndex {
  public:
    void add(const std::string& key, std::size_t index) {
        map_.emplace(std::hash<std::string>{}(key), index);
    }
    // The first index added whose path `spell` spells as `key`.
    std::optional<std::size_t> find(const std::string& key,
                                    const std::function<std::string(std::size_t)>& spell) const {
        const auto [first, last] = map_.equal_range(std::hash<std::string>{}(key));
        std::optional<std::size_t> found;
        for (auto it = first; it != last; ++it)
            if ((!found || it->second < *found) && spell(it->second) == key) found = it->second;
        return found;
    }

  private:
    std::unordered_multimap<std::size_t, std::size_t> map_;
};

}  // namespace

std::string batch_output_name(std::string_view input, std::string_view out_dir,
                              std::string_view extension, bool keep_extension) {
    const fs::path in = platform::to_path(input);
    std::string name = platform::path_text(in.filename());
    // The last extension goes, but not a leading dot (".scan" keeps its name).
    const auto dot = name.rfind('.');
    if (!keep_extension && dot != std::string::npos && dot > 0) name.erase(dot);
    name += extension;
    const fs::path folder = out_dir.empty() ? in.parent_path() : platform::to_path(out_dir);
    return platform::path_text(folder / platform::to_path(name));
}

bool same_file(const std::string& a, const std::string& b) {
    const auto ia = platform::file_identity(a), ib = platform::file_identity(b);
    if (ia && ib) return *ia == *ib;
    return canonical_spelling(a) == canonical_spelling(b);
}

BatchPlan plan_batch(std::span<const std::string> inputs, std::string_view out_dir,
                     std::string_view extension, BatchNaming naming) {
    // Numbered names need every name taken so far; the other namings leave the
    // checks to check_plan.
    const bool numbered = naming == BatchNaming::numbered;
    std::set<std::string> outputs;  // canonical outputs named so far
    std::set<std::string> input_keys;
    if (numbered)
        for (const std::string& input : inputs) input_keys.insert(canonical_spelling(input));
    std::vector<BatchItem> items;
    items.reserve(inputs.size());
    for (const std::string& input : inputs) {
        BatchItem item{input, batch_output_name(input, out_dir, extension,
                                                naming == BatchNaming::keep_extension)};
        if (!numbered) {
            items.push_back(std::move(item));
            continue;
        }
        std::string key = canonical_spelling(item.output);
        if (outputs.count(key) != 0) {
            // NAME-2.EXT, NAME-3.EXT, ...: the first number no other output
            // and no input of the batch has.
            const std::string base = item.output.substr(0, item.output.size() - extension.size());
            for (int n = 2;; ++n) {
                item.output = base + "-" + std::to_string(n) + std::string(extension);
                key = canonical_spelling(item.output);
                if (outputs.count(key) == 0 && input_keys.count(key) == 0) break;
            }
        }
        outputs.insert(key);
        items.push_back(std::move(item));
    }
    return check_plan(inputs, std::move(items));
}

BatchPlan check_plan(std::span<const std::string> inputs, std::vector<BatchItem> items) {
    BatchPlan plan;
    plan.items.reserve(items.size());
    SpellingIndex output_of;  // canonical output -> first item
    SpellingIndex input_of;   // canonical input -> index
    const auto input_spelling = [&](std::size_t i) { return canonical_spelling(inputs[i]); };
    const auto output_spelling = [&](std::size_t i) {
        return canonical_spelling(plan.items[i].output);
    };
    // Hard links share no spelling: existing files are also told by their inode.
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::size_t> inode_of;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        input_of.add(canonical_spelling(inputs[i]), i);
        if (const auto id = platform::file_identity(inputs[i])) inode_of.emplace(*id, i);
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        BatchItem& item = items[i];
        const std::string key = canonical_spelling(item.output);
        std::size_t same_input = input_of.find(key, input_spelling).value_or(inputs.size());
        if (same_input == inputs.size()) {
            if (const auto id = platform::file_identity(item.output)) {
                if (const auto it = inode_of.find(*id); it != inode_of.end())
                    same_input = it->second;
            }
        }
        if (same_input < inputs.size()) {
            plan.error = "the output " + item.output + " of " + item.input + " is the input " +
                         inputs[same_input] + " itself";
            return plan;
        }
        if (const auto earlier = output_of.find(key, output_spelling)) {
            plan.error = plan.items[*earlier].input + " and " + item.input +
                         " would both be written to " + item.output;
            return plan;
        }
        output_of.add(key, i);
        plan.items.push_back(std::move(item));
    }
    return plan;
}

}  // namespace qelda
