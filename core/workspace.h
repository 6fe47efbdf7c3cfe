// The workspace: the record, the session, the two units and the interaction,
// handed to every codec. One instance lives for the whole run.
#pragma once

#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "core/interaction.h"
#include "core/powder_pattern.h"
#include "core/record_io.h"

namespace qelda {

// Local date and time, as the Stoe raw header stamps it.
struct LocalTime {
    int day = 1;
    int month = 1;
    int year = 1970;
    int hour = 0;
    int minute = 0;
};

LocalTime system_local_time();

class Workspace {
  public:
    explicit Workspace(Interaction& interaction)
        : record_(std::make_unique<PowderPattern>()), interaction_(&interaction) {}

    PowderPattern& record() noexcept { return *record_; }
    const PowderPattern& record() const noexcept { return *record_; }
    ConversionSession& session() noexcept { return session_; }
    InputUnit& input() noexcept { return input_; }     // unit 1
    OutputUnit& output() noexcept { return output_; }  // unit 2
    Interaction& interaction() noexcept { return *interaction_; }
    void set_interaction(Interaction& interaction) noexcept { interaction_ = &interaction; }

    // The local clock; tests replace it to fix the Stoe date stamp.
    std::function<LocalTime()> local_time = system_local_time;

    // The report of the last aborted statement (status `aborted`).
    std::string abort_report;

  private:
    std::unique_ptr<PowderPattern> record_;
    ConversionSession session_;
    InputUnit input_;
    OutputUnit output_;
    Interaction* interaction_;
};

}  // namespace qelda
