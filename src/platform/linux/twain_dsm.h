// The built-in TWAIN source manager of the Linux build and the sources behind
// it: data-source modules (shared objects exporting DS_Entry, "*.ds" in the
// twain_32 folder of the Windows directory) and SANE devices.
#pragma once

#include <memory>
#include <vector>

#include "kelm3_twain.h"

namespace kelm::platform {

class TwainSource {
public:
    virtual ~TwainSource() = default;
    // The source's DS_Entry.
    virtual TW_UINT16 entry(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) = 0;
    // Whether DG_CONTROL / DAT_ENTRYPOINT / MSG_SET is sent before opening.
    virtual bool wants_entry_point() const { return true; }
    TW_IDENTITY identity{};
};

// Every SANE device as a source; none when libsane cannot be loaded. The
// sources call back into the manager with dsm.
std::vector<std::unique_ptr<TwainSource>> sane_sources(DSMENTRYPROC dsm);
// Ends the SANE session that sane_sources began (after its sources are gone).
void sane_release();

}  // namespace kelm::platform
