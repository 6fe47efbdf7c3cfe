// The window's batch converted on worker threads: the command line's ordered
// engine (N lanes, each file in a workspace of its own, results reported in
// input order) driven from the window without blocking it. Whatever the
// window owns (the table, the prompts, the dialogs) is touched only on its
// own thread: the lanes hand it work through `post` and, for a prompt, wait
// for the answer.
#pragma once

#include <QString>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "core/format_table.h"
#include "core/interaction.h"

namespace qelda::ui {

// One output of the batch: a file, or one scan of it.
struct BatchJob {
    std::string input;
    std::string output;
    FormatId format = FormatId::none;  // none: not recognised
    int32_t scan = 0;                  // 0: the file as a whole
};

// What became of a job.
struct BatchOutcome {
    enum Kind { not_started, converted, failed, skipped, cancelled };
    Kind kind = not_started;
    QString points;
    QString reason;
};

// The prompts a lane may need; each is asked once for the whole batch.
enum class BatchPrompt { wavelengths, xy_input, ascii_output, slit, dataset, count };

class BatchLanes {
  public:
    struct Hooks {
        // Runs `f` on the window's thread, later (a queued call).
        std::function<void(std::function<void()>)> post;
        // On the window's thread: asks `call` of the window's prompts for job
        // `job`; true when the user cancelled there.
        std::function<bool(std::size_t job, const std::function<void(Interaction&)>& call)> ask;
        // On the window's thread: job `job` begins.
        std::function<void(std::size_t job)> started;
        // On the window's thread, in input order: job `job` is done.
        std::function<void(std::size_t job, const BatchOutcome& outcome)> reported;
        // On the window's thread, last: every lane has stopped; the outcome of
        // every job (those not reported included).
        std::function<void(std::vector<BatchOutcome> outcomes)> finished;
    };

    // `all_answered`: every prompt is answered beforehand (answers given to
    // the dialog), none is asked.
    BatchLanes(std::vector<BatchJob> jobs, FormatId output_format,
               std::span<const FormatInfo> table, bool show_each, bool all_answered, Hooks hooks);
    ~BatchLanes();
    BatchLanes(const BatchLanes&) = delete;
    BatchLanes& operator=(const BatchLanes&) = delete;

    // Starts `lanes` worker lanes (at least 1, at most one per job).
    void start(int lanes);
    // The user's Cancel: no job is started after it, and a job that would
    // have to ask a prompt not yet answered is abandoned; the jobs in hand
    // otherwise finish.
    void cancel();
    // The window is going away: every lane stops at once (a prompt in hand is
    // answered "cancelled"), and the caller joins.
    void abandon();
    // Waits for the lanes to stop (after `finished` was posted, or `abandon`).
    void join();

    // For a lane's interaction: waits until the prompt may be asked (every job
    // before `job` done, or the prompt answered meanwhile); false when the job
    // is to be abandoned instead.
    bool may_ask(std::size_t job, BatchPrompt prompt);
    // Asks on the window's thread and waits; true when cancelled there.
    bool ask_window(std::size_t job, BatchPrompt prompt,
                    const std::function<void(Interaction&)>& call);
    bool answered(BatchPrompt prompt) const {
        return answered_[static_cast<std::size_t>(prompt)].load();
    }
    bool show_each() const noexcept { return show_each_; }

  private:
    void run(int lanes);
    void work(std::size_t job);
    BatchOutcome convert(std::size_t job);
    void mark_done(std::size_t job);
    // Cancels, remembering which job was in hand (mutex_ held).
    void cancel_locked();

    const std::vector<BatchJob> jobs_;
    const FormatId output_format_;
    const std::span<const FormatInfo> table_;
    const bool show_each_;
    Hooks hooks_;
    std::vector<BatchOutcome> outcomes_;  // each written by the lane of its job

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<char> done_;
    std::size_t first_open_ = 0;  // every job before it is done
    std::size_t in_hand_ = 0;     // first_open_ when cancelled
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> abandoned_{false};
    std::array<std::atomic<bool>, static_cast<std::size_t>(BatchPrompt::count)> answered_{};
    std::mutex window_;  // one lane at a time asks the window
    std::thread runner_;
};

}  // namespace qelda::ui
