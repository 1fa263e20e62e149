// The library's string table on Linux, read by LoadStringA for the library's
// own module: the same texts as the DLL's STRINGTABLE (src/exports/kelm3.rc),
// which a unit test compares entry by entry.
#include <cstring>

#include "platform/linux/user32.h"

namespace kelm::platform {

namespace {

struct StringEntry {
    UINT id;
    const char* text;
};

const StringEntry kStrings[] = {
    {13016, "Problem description: Could not find the TWAIN Source Manager (TWAIN32.DLL).  Please copy the TWAIN Source Manager from your Scanner Program Disk to your Windows directory."},
    {13017, "Problem description: No TWAIN Source found in the TWAIN directory.  Refer to your TWAIN Source installation instructions."},
    {13018, "Problem description: There is not enough memory to Acquire."},
    {13019, "Problem description: The TWAIN Source %s is already in use."},
    {13020, "Problem description: No further description available."},
    {13021, "Problem description: Capability error has occurred."},
    {13022, "Problem description: Protocol error has occurred."},
    {13023, "Problem description: Bad value."},
    {13024, "Problem description: No further description available."},
    {13025, "Problem description: TW MSG is out of expected sequence."},
    {13026, "Problem description: detailed error status returns success."},
    {13027, "Problem description: could not get detailed Error Code."},
    {13028, "Problem description: Unknown error code returned."},
    {13101, "Problem description: Error setting the Image Layout."},
    {13102, "Problem description: Error Setting Cap Pixel Type."},
    {13103, "Problem description: Error while disabling DS."},
    {13104, "Problem description: Error while closing the Data Source Manager."},
    {13105, "Problem description: Error while closing the Data Source Manager."},
    {13106, "Problem description: Error Enabling DS."},
    {13107, "Problem description: Error Accessing DS."},
};

}  // namespace

const char* library_string(UINT id)
{
    for (const StringEntry& e : kStrings)
        if (e.id == id)
            return e.text;
    return nullptr;
}

}  // namespace kelm::platform
