// The scan chooser of the dataset dialog: a file that holds several scans
// lists them all ("Scan 3 of 22"), each described by its axis, its range and
// its temperature where the file states them. The descriptions come from
// reading each scan on its own, one per turn of the event loop, the first
// kDescribedScans of them, so that a file of hundreds of scans opens at once.
// A scan that cannot be converted (not a 2theta scan) is listed and refused
// with its reason when chosen.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/format_table.h"
#include "core/interaction.h"
#include "core/workspace.h"

class QComboBox;

namespace qelda::ui {

class TemplateDialog;

// The scans described without being chosen; later ones are described when chosen.
inline constexpr int32_t kDescribedScans = 500;

// The file in hand and how the conversion reads it.
struct ScanSource {
    std::string path;
    FormatId format = FormatId::none;
    std::span<const FormatInfo> table;
    ReadOptions options;  // as the conversion reads; `scan` is set per scan
    int32_t count = 0;    // the scans the file holds
};

struct ScanEntry {
    bool described = false;
    QString text;     // "Scan 3 of 22: 2Theta 61.5-66.5°, 313.7 K"
    QString refusal;  // why it cannot be converted; empty when it can
};

// The scans of one file, each read once, with a workspace of its own (the
// conversion's record is left alone); prompts of the reader are answered
// with their defaults, which change no angle.
class ScanList {
  public:
    explicit ScanList(ScanSource source);
    ~ScanList();
    ScanList(const ScanList&) = delete;
    ScanList& operator=(const ScanList&) = delete;

    const ScanSource& source() const noexcept { return source_; }
    int32_t count() const noexcept { return source_.count; }
    // Scan n (1-based) as far as it is described: "Scan n of m" until read.
    const ScanEntry& entry(int32_t n) const;
    // Reads scan n, once, and describes it.
    const ScanEntry& describe(int32_t n);
    // The first scan among the first kDescribedScans not yet described, or 0.
    int32_t next_undescribed() const;

  private:
    ScanSource source_;
    std::vector<ScanEntry> entries_;
    int32_t described_up_to_ = 0;  // scans 1..this are described
    ScriptedInteraction quiet_;
    std::unique_ptr<Workspace> ws_;
};

// Adds the chooser to a dataset dialog below the template's controls (label
// "S&can:", object names "scan_label" and "scan"), growing the dialog; call
// it before the plot is placed. `current` is the scan shown. Choosing another
// scan that can be converted calls `chosen` with its number; one that cannot
// shows why (a message box, object name "scan_refused") and the chooser goes
// back to `current`. The descriptions fill in while the dialog is open.
QComboBox* add_scan_chooser(TemplateDialog& dialog, ScanList& scans, int32_t current,
                            std::function<void(int32_t)> chosen);

}  // namespace qelda::ui
