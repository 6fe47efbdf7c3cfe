#include "ui/batch_lanes.h"

#include <QStringList>
#include <algorithm>
#include <memory>

#include "core/driver.h"
#include "core/ordered_batch.h"
#include "core/workspace.h"
#include "formats/registry.h"
#include "ui/main_dialog.h"
#include "ui/qt_text.h"

namespace qelda::ui {

namespace {

// The interaction of one job in a lane: the prompts and the dataset dialog go
// to the window's thread through the lanes; failures and successes go to the
// table, not to dialogs.
class LaneInteraction final : public Interaction {
  public:
    LaneInteraction(BatchLanes& lanes, std::size_t job) : lanes_(lanes), job_(job) {}

    void show_dataset_parameters(const PowderPattern& record,
                                 std::span<const std::string> warnings) override {
        if (lanes_.show_each())
            ask(BatchPrompt::dataset,
                [&](Interaction& w) { w.show_dataset_parameters(record, warnings); });
    }
    void show_failure(std::string_view, std::string_view) override {}
    void show_success(const PowderPattern&, const ConversionSession&,
                      std::span<const std::string>) override {}
    void reset_selection() override {}
    bool cancelled() const override { return cancelled_; }

    WavelengthEntries wavelength_prompt() override {
        WavelengthEntries e{};
        ask(BatchPrompt::wavelengths, [&](Interaction& w) { e = w.wavelength_prompt(); });
        return e;
    }
    XyInputEntries xy_input_prompt(std::string_view current_title,
                                   int32_t detected_header_lines) override {
        XyInputEntries e{};
        ask(BatchPrompt::xy_input,
            [&](Interaction& w) { e = w.xy_input_prompt(current_title, detected_header_lines); });
        return e;
    }
    AsciiOutputEntries ascii_output_prompt(std::string_view current_title) override {
        AsciiOutputEntries e{};
        ask(BatchPrompt::ascii_output,
            [&](Interaction& w) { e = w.ascii_output_prompt(current_title); });
        return e;
    }
    bool slit_prompt() override {
        bool on = false;
        ask(BatchPrompt::slit, [&](Interaction& w) { on = w.slit_prompt(); });
        return on;
    }

  private:
    // Once cancelled, no further prompt of this job is asked; the driver
    // abandons the job at its next check.
    void ask(BatchPrompt prompt, const std::function<void(Interaction&)>& call) {
        if (cancelled_) return;
        if (!lanes_.may_ask(job_, prompt) || lanes_.ask_window(job_, prompt, call))
            cancelled_ = true;
    }

    BatchLanes& lanes_;
    std::size_t job_;
    bool cancelled_ = false;
};

}  // namespace

BatchLanes::BatchLanes(std::vector<BatchJob> jobs, FormatId output_format,
                       std::span<const FormatInfo> table, bool show_each, bool all_answered,
                       Hooks hooks)
    : jobs_(std::move(jobs)),
      output_format_(output_format),
      table_(table),
      show_each_(show_each),
      hooks_(std::move(hooks)),
      outcomes_(jobs_.size()),
      done_(jobs_.size(), 0) {
    for (std::size_t k = 0; k < answered_.size(); ++k)
        answered_[k] = all_answered && k != static_cast<std::size_t>(BatchPrompt::dataset);
}

BatchLanes::~BatchLanes() {
    abandon();
    join();
}

void BatchLanes::start(int lanes) {
    runner_ = std::thread([this, lanes] { run(lanes); });
}

void BatchLanes::cancel() {
    {
        const std::lock_guard<std::mutex> hold(mutex_);
        cancel_locked();
    }
    changed_.notify_all();
}

void BatchLanes::cancel_locked() {
    if (!cancelled_) in_hand_ = first_open_;
    cancelled_ = true;
}

void BatchLanes::abandon() {
    {
        const std::lock_guard<std::mutex> hold(mutex_);
        cancel_locked();
        abandoned_ = true;
    }
    changed_.notify_all();
}

void BatchLanes::join() {
    if (runner_.joinable()) runner_.join();
}

void BatchLanes::run(int lanes) {
    std::size_t reported = run_ordered(
        jobs_.size(), std::max(lanes, 1), [this](std::size_t job, int) { work(job); },
        [this](std::size_t job) {
            if (abandoned_) return false;
            hooks_.post([this, job, outcome = outcomes_[job]] { hooks_.reported(job, outcome); });
            return !cancelled_.load();
        });
    (void)reported;
    if (abandoned_) return;
    // Every lane has stopped: the outcomes are all written.
    hooks_.post([this, outcomes = outcomes_] { hooks_.finished(outcomes); });
}

void BatchLanes::work(std::size_t job) {
    if (!cancelled_) {
        hooks_.post([this, job] { hooks_.started(job); });
        outcomes_[job] = convert(job);
        if (outcomes_[job].kind == BatchOutcome::cancelled) cancel();
    }
    mark_done(job);
}

void BatchLanes::mark_done(std::size_t job) {
    {
        const std::lock_guard<std::mutex> hold(mutex_);
        done_[job] = 1;
        while (first_open_ < done_.size() && done_[first_open_] != 0) ++first_open_;
    }
    changed_.notify_all();
}

bool BatchLanes::may_ask(std::size_t job, BatchPrompt prompt) {
    std::unique_lock<std::mutex> hold(mutex_);
    // Asked for the first job that needs it, as one file after another would:
    // a later job waits until every job before it is done.
    changed_.wait(
        hold, [&] { return abandoned_ || answered(prompt) || first_open_ >= job || cancelled_; });
    if (abandoned_) return false;
    // After Cancel, a prompt not answered is asked only for the job that one
    // file after another would have had in hand.
    return answered(prompt) || (cancelled_ ? job <= in_hand_ : first_open_ >= job);
}

bool BatchLanes::ask_window(std::size_t job, BatchPrompt prompt,
                            const std::function<void(Interaction&)>& call) {
    const std::lock_guard<std::mutex> one_at_a_time(window_);
    struct Answer {
        bool given = false;
        bool cancelled = false;
    };
    auto answer = std::make_shared<Answer>();
    // `call` lives until the answer is given, or until the window is gone
    // (then this queued call is dropped with it).
    hooks_.post([this, job, prompt, &call, answer] {
        const bool cancelled = hooks_.ask(job, call);
        {
            const std::lock_guard<std::mutex> hold(mutex_);
            // Cancelled there, the prompt stays unanswered: the jobs waiting
            // for it are abandoned, none replays what was not given.
            if (cancelled)
                cancel_locked();
            else if (prompt != BatchPrompt::dataset)
                answered_[static_cast<std::size_t>(prompt)] = true;
            answer->given = true;
            answer->cancelled = cancelled;
        }
        changed_.notify_all();
    });
    std::unique_lock<std::mutex> hold(mutex_);
    changed_.wait(hold, [&] { return answer->given || abandoned_; });
    return !answer->given || answer->cancelled;
}

BatchOutcome BatchLanes::convert(std::size_t index) {
    const BatchJob& job = jobs_[index];
    BatchOutcome out;
    out.kind = BatchOutcome::failed;
    if (job.format == FormatId::none) {
        out.reason = QStringLiteral("the format was not recognised: choose one for all files");
        return out;
    }
    // A workspace of its own: nothing of one file reaches the next.
    LaneInteraction ui(*this, index);
    Workspace ws(ui);
    ConversionSession& s = ws.session();
    s.input_path = job.input;
    s.output_path = job.output;
    s.input_format = job.format;
    s.output_format = output_format_;
    if (ws.input().open(job.input) != Outcome::done) {
        out.reason = from_path(ws.input().problem());
        return out;
    }
    std::string problem = output_problem(job.output);
    if (problem.empty() && ws.output().open(job.output, /*create_now=*/false) != Outcome::done)
        problem = ws.output().commit_error();
    if (!problem.empty()) {
        out.reason = from_path(std::string(file_name_part(job.output)) + ": " + problem);
        return out;
    }
    s.input_ready = s.output_ready = true;
    // A reader that takes its title from the user starts from the file's name.
    ws.record().set_title(file_name_part(job.input));
    if (job.scan > 0) {
        // The title names the scan's number, as the command line's does.
        ws.options.scan = job.scan;
        ws.options.all_scans = true;
    }
    const ConversionResult result = run_conversion(ws, job.format, output_format_, table_);
    if (result.cancelled) {
        // Cancel in a prompt or the dataset dialog: this file and the rest stop.
        out.kind = BatchOutcome::cancelled;
        out.reason = QStringLiteral("nothing written");
        return out;
    }
    if (result.succeeded() && result.write_attempted) {
        QStringList notes;
        for (const auto& w : result.warnings) notes << from_path(w);
        notes << QStringLiteral("written to %1").arg(from_path(job.output));
        out.kind = BatchOutcome::converted;
        out.points = QString::number(ws.record().point_count);
        out.reason = notes.join(QStringLiteral("; "));
        return out;
    }
    QString reason = from_path(result.reason);
    if (reason.isEmpty()) reason = from_path(trim_right(result.failure_message)).toLower();
    if (reason.isEmpty()) reason = QStringLiteral("the format cannot be read");
    if (job.scan > 0 && ws.scan.axis_refused) {
        out.kind = BatchOutcome::skipped;
        out.reason = QStringLiteral("\u26a0 not converted: ") + reason;
        return out;
    }
    out.reason = reason;
    return out;
}

}  // namespace qelda::ui
