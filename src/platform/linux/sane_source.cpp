// SANE devices as TWAIN sources (filled in below).
#include "platform/platform.h"
#include "platform/linux/twain_dsm.h"

namespace kelm::platform {

std::vector<std::unique_ptr<TwainSource>> sane_sources(DSMENTRYPROC)
{
    return {};
}

void sane_release() {}

}  // namespace kelm::platform
