// The load-time state: the entry point has run before any test and recorded
// the module and the processor flag that grey scaling reads.
#include <gtest/gtest.h>

#include "platform/platform.h"

TEST(Entry, LoadTimeStateIsSet)
{
    EXPECT_NE(kelm::g_state.hInstance, nullptr);
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    EXPECT_EQ(kelm::g_state.processorFlag, info.dwProcessorType != PROCESSOR_INTEL_386 ? 1 : 0);
    EXPECT_EQ(kelm::g_state.processorFlag, 1) << "no machine that runs this is a 386";
}

TEST(Entry, AttachRecordsTheModuleItIsGiven)
{
    const kelm::LibraryState saved = kelm::g_state;
    int marker = 0;
    kelm::library_attach(&marker);
    EXPECT_EQ(kelm::g_state.hInstance, &marker);
    kelm::g_state = saved;
}
