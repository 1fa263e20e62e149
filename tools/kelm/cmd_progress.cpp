// `kelm _progress STEPS`: a hidden command that runs the shared progress bar
// through STEPS steps, so that its terminal behaviour can be tested before
// the long-running commands that will use it exist.
#include <string>

#include "cli.h"
#include "progress.h"

namespace kelm_cli {

int cmd_progress_demo(const Args& args)
{
    auto steps = args.empty() ? std::nullopt : parse_long(args[0]);
    if (!steps || *steps < 0)
        return usage_error("_progress", "expected a number of steps");
    Progress bar("working", static_cast<uint64_t>(*steps));
    for (long i = 1; i <= *steps; ++i)
        bar.update(static_cast<uint64_t>(i));
    bar.finish();
    return kExitOk;
}

}  // namespace kelm_cli
