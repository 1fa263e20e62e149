// The progress bar: one line on stderr redrawn in place with a carriage
// return, cleared when the work ends so that the next message starts on a
// clean line.
#include "progress.h"

#include <unistd.h>

#include <cstdio>

namespace kelm_cli {
namespace {

bool g_quiet = false;
constexpr unsigned kBarWidth = 30;

}  // namespace

void Progress::set_quiet(bool quiet)
{
    g_quiet = quiet;
}

Progress::Progress(std::string label, uint64_t total)
    : label_(std::move(label)), total_(total), enabled_(!g_quiet && isatty(STDERR_FILENO) == 1)
{
}

Progress::~Progress()
{
    finish();
}

void Progress::update(uint64_t done)
{
    if (!enabled_)
        return;
    if (done > total_)
        done = total_;
    const unsigned percent = total_ ? static_cast<unsigned>(done * 100 / total_) : 100;
    if (static_cast<int>(percent) != lastPercent_)
        draw(percent);
}

void Progress::draw(unsigned percent)
{
    lastPercent_ = static_cast<int>(percent);
    const unsigned filled = percent * kBarWidth / 100;
    std::string bar(filled, '#');
    bar.append(kBarWidth - filled, '.');
    std::fprintf(stderr, "\r%s [%s] %3u%%", label_.c_str(), bar.c_str(), percent);
    std::fflush(stderr);
    drawn_ = true;
}

void Progress::finish()
{
    if (!enabled_)
        return;
    if (lastPercent_ != 100)
        draw(100);
    if (drawn_)
        std::fputs("\n", stderr);  // the finished bar stays, later messages start below it
    enabled_ = false;
}

}  // namespace kelm_cli
