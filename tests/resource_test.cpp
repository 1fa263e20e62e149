// The Linux build's resources: the Win32 name rules (integer identifiers,
// "#123", strings without regard to case), one table per module handle,
// replacement and removal, and the lookup functions over them.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

namespace {

HMODULE module_key(int n)
{
    static int keys[4];
    return &keys[n];
}

TEST(Resources, NameRules)
{
    const HMODULE m = module_key(0);
    const char data[] = "resource";
    ASSERT_TRUE(kelm3_AddResource(m, "Picture", RT_BITMAP, data, 8));
    ASSERT_TRUE(kelm3_AddResource(m, MAKEINTRESOURCEA(42), "MyType", data + 2, 4));
    const struct {
        const char* what;
        LPCSTR name, type;
        DWORD size;  // 0: not found
    } cases[] = {
        {"exact", "Picture", RT_BITMAP, 8},
        {"other case", "PICTURE", RT_BITMAP, 8},
        {"type as #2", "picture", "#2", 8},
        {"wrong type", "Picture", RT_RCDATA, 0},
        {"integer id", MAKEINTRESOURCEA(42), "MYTYPE", 4},
        {"integer id as #42", "#42", "mytype", 4},
        {"#042 is 42 too", "#042", "mytype", 4},
        {"id 43", MAKEINTRESOURCEA(43), "MyType", 0},
        {"string 42 is not the id", "42", "MyType", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HRSRC r = FindResourceA(m, c.name, c.type);
        EXPECT_EQ(r != nullptr, c.size != 0);
        if (!r)
            continue;
        EXPECT_EQ(SizeofResource(m, r), c.size);
        HGLOBAL h = LoadResource(m, r);
        ASSERT_NE(h, nullptr);
        const char* p = static_cast<const char*>(LockResource(h));
        EXPECT_EQ(std::string(p, c.size), std::string(c.size == 8 ? data : data + 2, c.size));
        EXPECT_FALSE(FreeResource(h));
    }
    EXPECT_EQ(FindResourceA(module_key(1), "Picture", RT_BITMAP), nullptr) << "tables are per module";
}

TEST(Resources, ReplaceRemoveAndRefuse)
{
    const HMODULE m = module_key(2);
    ASSERT_TRUE(kelm3_AddResource(m, "X", RT_RCDATA, "one", 3));
    ASSERT_TRUE(kelm3_AddResource(m, "x", RT_RCDATA, "three", 5));
    HRSRC r = FindResourceA(m, "X", RT_RCDATA);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(SizeofResource(m, r), 5u);
    EXPECT_TRUE(kelm3_AddResource(m, "X", RT_RCDATA, nullptr, 0));
    EXPECT_EQ(FindResourceA(m, "X", RT_RCDATA), nullptr);
    EXPECT_FALSE(kelm3_AddResource(m, "X", RT_RCDATA, nullptr, 0)) << "nothing left to remove";
    EXPECT_EQ(LoadResource(m, r), nullptr) << "a removed resource's handle is refused";
    EXPECT_EQ(SizeofResource(m, r), 0u);
    EXPECT_FALSE(kelm3_AddResource(m, "", RT_RCDATA, "a", 1));
    EXPECT_FALSE(kelm3_AddResource(m, nullptr, RT_RCDATA, "a", 1));
    EXPECT_FALSE(kelm3_AddResource(m, "A", nullptr, "a", 1));
    EXPECT_EQ(FindResourceA(m, nullptr, RT_RCDATA), nullptr);
    // An empty resource exists and loads to a non-null handle.
    ASSERT_TRUE(kelm3_AddResource(m, "EMPTY", RT_RCDATA, "", 0));
    HRSRC e = FindResourceA(m, "empty", RT_RCDATA);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(SizeofResource(m, e), 0u);
    EXPECT_NE(LoadResource(m, e), nullptr);
}

}  // namespace
