// Global and local memory for the Linux build, with the Win32 semantics the
// library and its callers rely on: movable blocks behind opaque handles, lock
// counts, discardable blocks, and refusal (never a crash) of handles that
// were not issued here. Every handle lives in one registry, so that an
// unknown handle is recognised rather than dereferenced.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/platform.h"

namespace {

struct Block {
    unsigned flags;     // GMEM_* flags the block was allocated with
    unsigned locks;     // lock count of a movable block
    size_t size;        // GlobalSize; 0 once discarded
    unsigned char* data;
};

struct Registry {
    std::mutex mutex;
    // Movable blocks are found by handle; fixed blocks' handles are their
    // data pointers, so both live in `by_handle`. `by_data` maps any data
    // pointer back to its handle for GlobalHandle.
    std::unordered_map<const void*, Block*> by_handle;
    std::unordered_map<const void*, HGLOBAL> by_data;
    unsigned long allocations = 0;
    unsigned long fail_at = 0;  // 0: disarmed; else the allocation number that fails
};

Registry& registry()
{
    static Registry* r = new Registry;  // never destroyed: blocks may outlive statics
    return *r;
}

// Called with the registry lock held: counts an allocation and says whether
// fault injection wants it to fail.
bool injected_failure(Registry& r)
{
    ++r.allocations;
    if (r.fail_at != 0 && r.allocations == r.fail_at) {
        r.fail_at = 0;
        return true;
    }
    return false;
}

unsigned char* allocate_bytes(size_t bytes, bool zero)
{
    // A zero-byte block still gets a unique address.
    size_t n = bytes ? bytes : 1;
    void* p = zero ? std::calloc(1, n) : std::malloc(n);
    return static_cast<unsigned char*>(p);
}

Block* find(Registry& r, const void* h)
{
    auto it = r.by_handle.find(h);
    return it == r.by_handle.end() ? nullptr : it->second;
}

HGLOBAL alloc_block(UINT flags, SIZE_T bytes)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    if (injected_failure(r))
        return nullptr;
    if (bytes > (static_cast<size_t>(1) << 40))
        return nullptr;
    Block* b = new (std::nothrow) Block{flags, 0, bytes, nullptr};
    if (!b)
        return nullptr;
    b->data = allocate_bytes(bytes, (flags & GMEM_ZEROINIT) != 0);
    if (!b->data) {
        delete b;
        return nullptr;
    }
    HGLOBAL h = (flags & GMEM_MOVEABLE) ? static_cast<HGLOBAL>(b) : static_cast<HGLOBAL>(b->data);
    r.by_handle[h] = b;
    r.by_data[b->data] = h;
    return h;
}

HGLOBAL free_block(HGLOBAL h)
{
    if (!h)
        return nullptr;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    Block* b = find(r, h);
    if (!b)
        return h;
    if (b->data)
        r.by_data.erase(b->data);
    r.by_handle.erase(h);
    std::free(b->data);
    delete b;
    return nullptr;
}

}  // namespace

extern "C" {

HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes)
{
    return alloc_block(uFlags, dwBytes);
}

HGLOBAL WINAPI GlobalReAlloc(HGLOBAL hMem, SIZE_T dwBytes, UINT uFlags)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    Block* b = find(r, hMem);
    if (!b)
        return nullptr;
    if (uFlags & GMEM_MODIFY) {
        // Only the discardable attribute can change this way.
        b->flags = (b->flags & ~static_cast<unsigned>(GMEM_DISCARDABLE)) | (uFlags & GMEM_DISCARDABLE);
        return hMem;
    }
    const bool movable = (b->flags & GMEM_MOVEABLE) != 0;
    // A fixed block, or a locked one, may only change size in place: refuse
    // growth that would move it, as Win32 does without GMEM_MOVEABLE.
    if ((!movable || b->locks > 0) && dwBytes > b->size)
        return nullptr;
    if (dwBytes > (static_cast<size_t>(1) << 40) || injected_failure(r))
        return nullptr;
    unsigned char* fresh = allocate_bytes(dwBytes, false);
    if (!fresh)
        return nullptr;
    size_t keep = std::min(dwBytes, b->size);
    if (b->data && keep)
        std::memcpy(fresh, b->data, keep);
    if (dwBytes > keep && (uFlags & GMEM_ZEROINIT))
        std::memset(fresh + keep, 0, dwBytes - keep);
    if (b->data)
        r.by_data.erase(b->data);
    std::free(b->data);
    b->data = fresh;
    b->size = dwBytes;
    if (!movable) {
        // Shrinking a fixed block keeps its address in Win32; ours moves, so
        // re-key the handle, which is the data pointer.
        r.by_handle.erase(hMem);
        hMem = fresh;
        r.by_handle[hMem] = b;
    }
    r.by_data[fresh] = hMem;
    return hMem;
}

LPVOID WINAPI GlobalLock(HGLOBAL hMem)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    Block* b = find(r, hMem);
    if (!b || !b->data)
        return nullptr;
    if ((b->flags & GMEM_MOVEABLE) && b->locks < GMEM_LOCKCOUNT)
        ++b->locks;
    return b->data;
}

BOOL WINAPI GlobalUnlock(HGLOBAL hMem)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    Block* b = find(r, hMem);
    if (!b || !(b->flags & GMEM_MOVEABLE) || b->locks == 0)
        return FALSE;
    --b->locks;
    return b->locks > 0;
}

SIZE_T WINAPI GlobalSize(HGLOBAL hMem)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    Block* b = find(r, hMem);
    return b && b->data ? b->size : 0;
}

UINT WINAPI GlobalFlags(HGLOBAL hMem)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    Block* b = find(r, hMem);
    if (!b)
        return 0x8000;  // GMEM_INVALID_HANDLE
    UINT f = b->locks & GMEM_LOCKCOUNT;
    if (b->flags & GMEM_DISCARDABLE)
        f |= GMEM_DISCARDABLE;
    if (!b->data)
        f |= GMEM_DISCARDED;
    return f;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL hMem)
{
    return free_block(hMem);
}

HGLOBAL WINAPI GlobalHandle(LPCVOID pMem)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    auto it = r.by_data.find(pMem);
    return it == r.by_data.end() ? nullptr : it->second;
}

HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes)
{
    return alloc_block(uFlags, uBytes);
}

HLOCAL WINAPI LocalFree(HLOCAL hMem)
{
    return free_block(hMem);
}

}  // extern "C"

namespace kelm::testing {

std::size_t live_blocks()
{
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    return r.by_handle.size();
}

std::size_t locked_blocks()
{
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    return static_cast<std::size_t>(
        std::count_if(r.by_handle.begin(), r.by_handle.end(), [](const auto& kv) { return kv.second->locks > 0; }));
}

void fail_allocation(unsigned n)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    r.fail_at = n ? r.allocations + n : 0;
}

unsigned long allocation_count()
{
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    return r.allocations;
}

void discard_discardable()
{
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    for (auto& [h, b] : r.by_handle) {
        if ((b->flags & GMEM_DISCARDABLE) && b->locks == 0 && b->data) {
            r.by_data.erase(b->data);
            std::free(b->data);
            b->data = nullptr;
            b->size = 0;
        }
    }
}

}  // namespace kelm::testing
