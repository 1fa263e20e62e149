// A progress bar on standard error for long work: rotations, dithering,
// barcode scans, scanning. It draws only when stderr is a terminal and
// --quiet was not given, so pipes, logs and scripts never see it.
#pragma once

#include <cstdint>
#include <string>

namespace kelm_cli {

class Progress {
public:
    // total: the number of steps the work has (rows, pages, ...).
    Progress(std::string label, uint64_t total);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Reports that `done` of the total steps are finished; redraws only when
    // the shown percentage changes, so calling it per row costs little.
    void update(uint64_t done);
    // Completes the bar and clears its line; called by the destructor too.
    void finish();

    bool shown() const { return enabled_; }

    // --quiet for the whole process.
    static void set_quiet(bool quiet);

private:
    void draw(unsigned percent);

    std::string label_;
    uint64_t total_;
    bool enabled_;
    bool drawn_ = false;
    int lastPercent_ = -1;
};

}  // namespace kelm_cli
