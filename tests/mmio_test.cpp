// The Linux build's multimedia file I/O: access and share modes, memory
// files (fixed, created, growing), seeking at and past the ends, the Win32
// error codes, and refusal of handles that were never issued.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

std::string temp_file(const char* name)
{
    return std::string(::testing::TempDir()) + name;
}

HMMIO open_file(const std::string& path, DWORD flags, UINT* error = nullptr)
{
    MMIOINFO mi;
    std::memset(&mi, 0, sizeof mi);
    HMMIO h = mmioOpenA(const_cast<LPSTR>(path.c_str()), &mi, flags);
    if (error)
        *error = mi.wErrorRet;
    return h;
}

HMMIO open_memory(char* buffer, LONG size, DWORD flags, DWORD growBy = 0)
{
    MMIOINFO mi;
    std::memset(&mi, 0, sizeof mi);
    mi.fccIOProc = FOURCC_MEM;
    mi.pchBuffer = buffer;
    mi.cchBuffer = size;
    mi.adwInfo[0] = growBy;
    return mmioOpenA(nullptr, &mi, flags);
}

TEST(Mmio, OpenErrors)
{
    const struct {
        const char* name;
        std::string path;
        DWORD flags;
        UINT error;
    } cases[] = {
        {"missing file", temp_file("kelm3-mmio-missing"), MMIO_READ, MMIOERR_FILENOTFOUND},
        {"missing directory", temp_file("kelm3-no-dir/x"), MMIO_CREATE | MMIO_READWRITE, MMIOERR_FILENOTFOUND},
        {"a directory", std::string(::testing::TempDir()), MMIO_READ, MMIOERR_ACCESSDENIED},
        {"both write modes", temp_file("kelm3-mmio-x"), MMIO_WRITE | MMIO_READWRITE, MMSYSERR_INVALFLAG},
        {"MMIO_EXIST", temp_file("kelm3-mmio-x"), MMIO_EXIST, MMSYSERR_INVALFLAG},
        {"share mode 0x50", temp_file("kelm3-mmio-x"), 0x50, MMSYSERR_INVALFLAG},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UINT error = 0;
        EXPECT_EQ(open_file(c.path, c.flags, &error), nullptr);
        EXPECT_EQ(error, c.error);
    }
    EXPECT_EQ(mmioOpenA(nullptr, nullptr, MMIO_READ), nullptr);
}

TEST(Mmio, AccessModesAreEnforced)
{
    const std::string path = temp_file("kelm3-mmio-modes");
    HMMIO w = open_file(path, MMIO_CREATE | MMIO_WRITE);
    ASSERT_NE(w, nullptr);
    char buf[4] = {};
    EXPECT_EQ(mmioWrite(w, "xyz", 3), 3);
    EXPECT_EQ(mmioRead(w, buf, 1), -1) << "write-only";
    EXPECT_EQ(mmioClose(w, 0), 0u);
    HMMIO r = open_file(path, MMIO_READ);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(mmioWrite(r, "a", 1), -1) << "read-only";
    EXPECT_EQ(mmioRead(r, buf, -1), -1);
    EXPECT_EQ(mmioRead(r, buf, 4), 3);
    EXPECT_EQ(mmioClose(r, 0), 0u);
    std::remove(path.c_str());
}

TEST(Mmio, ShareModes)
{
    const std::string path = temp_file("kelm3-mmio-share");
    HMMIO c = open_file(path, MMIO_CREATE | MMIO_READWRITE);
    ASSERT_NE(c, nullptr);
    mmioWrite(c, "12345678", 8);
    mmioClose(c, 0);

    const struct {
        const char* name;
        DWORD first, second;
        bool secondOpens;
    } cases[] = {
        {"deny-write reader, then a writer", MMIO_READ | MMIO_DENYWRITE, MMIO_READWRITE, false},
        {"deny-write reader, then a reader", MMIO_READ | MMIO_DENYWRITE, MMIO_READ, true},
        {"writer, then a deny-write reader", MMIO_WRITE, MMIO_READ | MMIO_DENYWRITE, false},
        {"exclusive, then a reader", MMIO_READ | MMIO_EXCLUSIVE, MMIO_READ, false},
        {"deny-none reader, then a writer", MMIO_READ | MMIO_DENYNONE, MMIO_WRITE, true},
        {"deny-read writer, then a reader", MMIO_WRITE | MMIO_DENYREAD, MMIO_READ, false},
        {"deny-write reader, then create (no truncation)", MMIO_READ | MMIO_DENYWRITE, MMIO_CREATE | MMIO_WRITE, false},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        HMMIO a = open_file(path, k.first);
        ASSERT_NE(a, nullptr);
        UINT error = 0;
        HMMIO b = open_file(path, k.second, &error);
        EXPECT_EQ(b != nullptr, k.secondOpens);
        if (b)
            mmioClose(b, 0);
        else
            EXPECT_EQ(error, static_cast<UINT>(MMIOERR_SHARINGVIOLATION));
        mmioClose(a, 0);
    }
    HMMIO r = open_file(path, MMIO_READ);
    EXPECT_EQ(mmioSeek(r, 0, SEEK_END), 8) << "a refused create must not truncate";
    mmioClose(r, 0);
    std::remove(path.c_str());
}

TEST(Mmio, DiskSeeks)
{
    const std::string path = temp_file("kelm3-mmio-seek");
    HMMIO h = open_file(path, MMIO_CREATE | MMIO_READWRITE);
    ASSERT_NE(h, nullptr);
    mmioWrite(h, "0123456789", 10);
    const struct {
        LONG offset;
        int origin;
        LONG result;
    } cases[] = {{0, SEEK_SET, 0}, {4, SEEK_CUR, 4}, {-2, SEEK_CUR, 2}, {0, SEEK_END, 10}, {-3, SEEK_END, 7},
                 {-1, SEEK_SET, -1}, {0, 7, -1},         {20, SEEK_SET, 20}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.offset);
        EXPECT_EQ(mmioSeek(h, c.offset, c.origin), c.result);
    }
    char buf[4];
    EXPECT_EQ(mmioRead(h, buf, 4), 0) << "past the end";
    mmioClose(h, 0);
    std::remove(path.c_str());
}

TEST(Mmio, LargeReadsAtEveryAlignment)
{
    // Large reads whose destination and file position differ in alignment
    // take another path through the platform layer; the bytes must not care.
    const std::string path = temp_file("kelm3-mmio-large");
    std::vector<char> data(3 * 1024 * 1024 + 77);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 131 + (i >> 11));
    HMMIO w = open_file(path, MMIO_CREATE | MMIO_WRITE);
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(mmioWrite(w, data.data(), static_cast<LONG>(data.size())), static_cast<LONG>(data.size()));
    mmioClose(w, 0);
    std::vector<char> buffer(data.size() + 64);
    for (LONG position : {0, 54, 1000}) {
        for (size_t offset : {size_t{0}, size_t{8}, size_t{40}, size_t{63}}) {
            SCOPED_TRACE(std::to_string(position) + "/" + std::to_string(offset));
            HMMIO r = open_file(path, MMIO_READ);
            ASSERT_EQ(mmioSeek(r, position, SEEK_SET), position);
            const LONG want = static_cast<LONG>(data.size()) - position;
            EXPECT_EQ(mmioRead(r, buffer.data() + offset, want + 10), want);
            EXPECT_TRUE(std::equal(data.begin() + position, data.end(), buffer.begin() + static_cast<long>(offset)));
            EXPECT_EQ(mmioSeek(r, 0, SEEK_CUR), static_cast<LONG>(data.size()));
            mmioClose(r, 0);
        }
    }
    std::remove(path.c_str());
}

TEST(Mmio, MemoryFiles)
{
    char fixed[8] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
    HMMIO h = open_memory(fixed, 8, MMIO_READWRITE);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(mmioSeek(h, 6, SEEK_SET), 6);
    EXPECT_EQ(mmioWrite(h, "XYZ", 3), 2) << "the caller's buffer never grows";
    EXPECT_EQ(mmioSeek(h, 9, SEEK_SET), -1);
    EXPECT_EQ(mmioSeek(h, -1, SEEK_CUR), 7);
    EXPECT_EQ(mmioSeek(h, 0, SEEK_END), 8);
    mmioClose(h, 0);
    EXPECT_EQ(std::string(fixed, 8), "abcdefXY");

    char created[8] = {'q', 'q', 'q', 'q', 'q', 'q', 'q', 'q'};
    h = open_memory(created, 8, MMIO_READWRITE | MMIO_CREATE);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(mmioSeek(h, 0, SEEK_END), 0) << "a created memory file starts empty";
    EXPECT_EQ(mmioWrite(h, "123", 3), 3);
    EXPECT_EQ(mmioSeek(h, 0, SEEK_SET), 0);
    char buf[8] = {};
    EXPECT_EQ(mmioRead(h, buf, 8), 3);
    mmioClose(h, 0);

    // Our own buffer grows by adwInfo[0].
    h = open_memory(nullptr, 4, MMIO_READWRITE | MMIO_CREATE, 16);
    ASSERT_NE(h, nullptr);
    std::vector<char> big(100, 'z');
    EXPECT_EQ(mmioWrite(h, big.data(), 100), 100);
    EXPECT_EQ(mmioSeek(h, 0, SEEK_END), 100);
    mmioClose(h, 0);
    h = open_memory(nullptr, 4, MMIO_READWRITE | MMIO_CREATE, 0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(mmioWrite(h, big.data(), 100), 4);
    mmioClose(h, 0);
    EXPECT_EQ(open_memory(nullptr, 0, MMIO_READ), nullptr);
    EXPECT_EQ(open_memory(fixed, -1, MMIO_READ), nullptr);
}

TEST(Mmio, ForeignHandlesAreRefused)
{
    int not_a_file = 0;
    HMMIO bogus = reinterpret_cast<HMMIO>(&not_a_file);
    char buf[2];
    EXPECT_EQ(mmioRead(bogus, buf, 2), -1);
    EXPECT_EQ(mmioWrite(bogus, buf, 2), -1);
    EXPECT_EQ(mmioSeek(bogus, 0, SEEK_SET), -1);
    EXPECT_EQ(mmioClose(bogus, 0), static_cast<MMRESULT>(MMSYSERR_INVALHANDLE));
    char data[2] = {1, 2};
    HMMIO h = open_memory(data, 2, MMIO_READ);
    EXPECT_EQ(mmioClose(h, 0), 0u);
    EXPECT_EQ(mmioClose(h, 0), static_cast<MMRESULT>(MMSYSERR_INVALHANDLE)) << "closed twice";
}

}  // namespace
