// The TWAIN records cross to source managers and sources compiled elsewhere:
// their packed layouts are checked here. Records that hold a handle or a
// pointer have their classic sizes on 32 bits and grow with it on 64.
#include <cstddef>
#include <cstdint>

#include "twain/twain.h"

static_assert(sizeof(TW_FIX32) == 4 && sizeof(TW_FRAME) == 16);
static_assert(sizeof(TW_VERSION) == 42);
static_assert(sizeof(TW_IDENTITY) == 156);
static_assert(offsetof(TW_IDENTITY, Version) == 4 && offsetof(TW_IDENTITY, ProtocolMajor) == 46);
static_assert(offsetof(TW_IDENTITY, SupportedGroups) == 50 && offsetof(TW_IDENTITY, Manufacturer) == 54);
static_assert(offsetof(TW_IDENTITY, ProductFamily) == 88 && offsetof(TW_IDENTITY, ProductName) == 122);
static_assert(sizeof(TW_IMAGEINFO) == 42);
static_assert(offsetof(TW_IMAGEINFO, BitsPerSample) == 18 && offsetof(TW_IMAGEINFO, Compression) == 40);
static_assert(sizeof(TW_PENDINGXFERS) == 6);
static_assert(sizeof(TW_ONEVALUE) == 6 && offsetof(TW_ONEVALUE, Item) == 2);
static_assert(sizeof(TW_IMAGELAYOUT) == 28);
static_assert(sizeof(TW_STATUS) == 4);
static_assert(offsetof(TW_USERINTERFACE, hParent) == 4 && offsetof(TW_CAPABILITY, hContainer) == 4);
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(TW_EVENT) == 6 && sizeof(TW_USERINTERFACE) == 8 && sizeof(TW_CAPABILITY) == 8);
#else
static_assert(sizeof(TW_EVENT) == 10 && sizeof(TW_USERINTERFACE) == 12 && sizeof(TW_CAPABILITY) == 12);
#endif
