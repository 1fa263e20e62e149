// Global and local memory for the Linux build, with the Win32 semantics the
// library and its callers rely on: movable blocks behind opaque handles, lock
// counts, discardable blocks, and refusal (never a crash) of handles that
// were not issued here. Every handle lives in one registry, so that an
// unknown handle is recognised rather than dereferenced.
#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/platform.h"

namespace {

// A block's attributes. Discardable is only ever set on a movable block: the
// system ignores it on fixed ones.
constexpr unsigned kMovable = 1;
constexpr unsigned kDiscardable = 2;

struct Block {
    unsigned attrs;     // kMovable, kDiscardable
    unsigned locks;     // lock count of a movable block, saturating at GMEM_LOCKCOUNT
    size_t size;        // GlobalSize; 0 once discarded
    size_t capacity;    // bytes allocated at `data`; a block resizes in place up to this
    unsigned char* data;  // null once discarded
    bool mapped;        // `data` is a mapping of its own (see allocate_bytes), not heap memory
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

constexpr size_t kMaxBlock = static_cast<size_t>(1) << 40;

// Large blocks (whole images) get a mapping of their own instead of heap
// memory. On the heap every 4 KiB page of a fresh block costs a fault when
// first touched, and calloc may clear memory the kernel has already cleared;
// a mapping starting on a 2 MiB boundary and marked for huge pages is
// faulted in 2 MiB at a time, arrives zeroed, and can be resized by moving
// page tables (mremap) rather than by copying the image.
constexpr size_t kHugePage = static_cast<size_t>(2) << 20;
constexpr size_t kLargeBlock = kHugePage;

// A mapping's length: whole huge pages. A huge page is only used where the
// mapping covers all of it, and a partial last one would be faulted in 4 KiB
// at a time, on growth too; the unused end of the last one costs address
// space, and memory only once touched.
size_t mapping_length(size_t bytes)
{
    return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

// Reserves `length` bytes (whole huge pages) of address space starting on a
// huge page boundary: a larger mapping with the misaligned ends cut off.
unsigned char* map_aligned(size_t length)
{
    const size_t span = length + kHugePage;
    void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    const auto start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + kHugePage - 1) & ~static_cast<uintptr_t>(kHugePage - 1);
    if (aligned > start)
        munmap(raw, aligned - start);
    const uintptr_t end = start + span, used = aligned + length;
    if (end > used)
        munmap(reinterpret_cast<void*>(used), end - used);
    auto* p = reinterpret_cast<unsigned char*>(aligned);
#ifdef MADV_HUGEPAGE
    madvise(p, length, MADV_HUGEPAGE);  // advice only: without it the block still works
#endif
    return p;
}

// Memory for a block of `bytes`, zeroed when asked (fresh mappings always
// are), and the capacity it offers. A zero-byte block still gets a unique
// address.
unsigned char* allocate_bytes(size_t bytes, bool zero, size_t* capacity, bool* mapped)
{
    if (bytes >= kLargeBlock) {
        const size_t length = mapping_length(bytes);
        if (unsigned char* p = map_aligned(length)) {
            *capacity = length;
            *mapped = true;
            return p;
        }
        // Out of address space for a mapping: the heap may still serve.
    }
    size_t n = bytes ? bytes : 1;
    void* p = zero ? std::calloc(1, n) : std::malloc(n);
    *capacity = bytes;
    *mapped = false;
    return static_cast<unsigned char*>(p);
}

void release_bytes(unsigned char* data, size_t capacity, bool mapped)
{
    if (mapped)
        munmap(data, capacity);
    else
        std::free(data);
}

// Gives up a block's memory (freeing or discarding it); the caller removes
// the address from by_data.
void release_block_memory(Block* b)
{
    if (b->data)
        release_bytes(b->data, b->capacity, b->mapped);
    b->data = nullptr;
    b->size = 0;
    b->capacity = 0;
    b->mapped = false;
}

Block* find(Registry& r, const void* h)
{
    auto it = r.by_handle.find(h);
    return it == r.by_handle.end() ? nullptr : it->second;
}

// GlobalAlloc and LocalAlloc. A movable block of zero bytes is born
// discarded: it has a handle but no memory until a reallocation gives it some.
HGLOBAL alloc_block(UINT flags, SIZE_T bytes)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    if (injected_failure(r))
        return nullptr;
    if (bytes > kMaxBlock)
        return nullptr;
    const bool movable = (flags & GMEM_MOVEABLE) != 0;
    // LMEM_DISCARDABLE is 0x0F00; GMEM_DISCARDABLE (0x0100) is one of its bits.
    const unsigned attrs = movable ? (kMovable | ((flags & LMEM_DISCARDABLE) ? kDiscardable : 0)) : 0;
    Block* b = new (std::nothrow) Block{attrs, 0, bytes, 0, nullptr, false};
    if (!b)
        return nullptr;
    if (!movable || bytes) {
        b->data = allocate_bytes(bytes, (flags & GMEM_ZEROINIT) != 0, &b->capacity, &b->mapped);
        if (!b->data) {
            delete b;
            return nullptr;
        }
    }
    HGLOBAL h = movable ? static_cast<HGLOBAL>(b) : static_cast<HGLOBAL>(b->data);
    r.by_handle[h] = b;
    if (b->data)
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
    release_block_memory(b);
    delete b;
    return nullptr;
}

// Moves a mapped block's pages to a new mapping of `length` bytes (whole
// huge pages) on a huge page boundary without copying them; the pages past
// the old mapping arrive zeroed. Null when that cannot be done; the block is
// then untouched.
unsigned char* remap_block(Block* b, size_t length)
{
    unsigned char* target = map_aligned(length);
    if (!target)
        return nullptr;
    void* moved = mremap(b->data, b->capacity, length, MREMAP_MAYMOVE | MREMAP_FIXED, target);
    if (moved == MAP_FAILED) {
        munmap(target, length);
        return nullptr;
    }
    return static_cast<unsigned char*>(moved);
}

// Gives the block `bytes` of memory at a new address, keeping the contents
// that fit and zeroing the growth when asked. The old memory is released only
// once the new one is had, so a failure leaves the block as it was. The
// caller maps the new address to the block's handle.
bool move_block(Registry& r, Block* b, size_t bytes, bool zero)
{
    const size_t keep = std::min(bytes, b->size);
    if (b->mapped && bytes >= kLargeBlock) {
        const size_t length = mapping_length(bytes);
        if (unsigned char* moved = remap_block(b, length)) {
            // Bytes between the old size and the old mapping's end may hold
            // what a shrink left there; the rest of the growth is fresh.
            if (zero && bytes > keep)
                std::memset(moved + keep, 0, std::min(bytes, b->capacity) - keep);
            r.by_data.erase(b->data);
            b->data = moved;
            b->size = bytes;
            b->capacity = length;
            return true;
        }
    }
    size_t capacity = 0;
    bool mapped = false;
    unsigned char* fresh = allocate_bytes(bytes, false, &capacity, &mapped);
    if (!fresh)
        return false;
    if (keep)
        std::memcpy(fresh, b->data, keep);
    // A fresh mapping is zero already.
    if (zero && bytes > keep && !mapped)
        std::memset(fresh + keep, 0, bytes - keep);
    r.by_data.erase(b->data);
    release_bytes(b->data, b->capacity, b->mapped);
    b->data = fresh;
    b->size = bytes;
    b->capacity = capacity;
    b->mapped = mapped;
    return true;
}

// Gives back the memory past `bytes` of an unlocked movable block that shrank
// to less than half its allocation; the block may move. Heap blocks go
// through realloc, mapped blocks that stay large lose their tail pages where
// they lie, and mapped blocks that become small move to the heap. Nothing
// changes when the memory cannot be had.
void trim_block(Registry& r, Block* b, HGLOBAL h, size_t bytes)
{
    unsigned char* data = nullptr;
    size_t capacity = bytes;
    bool mapped = false;
    if (!b->mapped) {
        data = static_cast<unsigned char*>(std::realloc(b->data, bytes ? bytes : 1));
    } else if (bytes >= kLargeBlock) {
        const size_t length = mapping_length(bytes);
        if (length < b->capacity)
            munmap(b->data + length, b->capacity - length);
        data = b->data;
        capacity = std::min(length, b->capacity);
        mapped = true;
    } else {
        data = static_cast<unsigned char*>(std::malloc(bytes ? bytes : 1));
        if (data) {
            std::memcpy(data, b->data, bytes);
            munmap(b->data, b->capacity);
        }
    }
    if (!data)
        return;
    r.by_data.erase(b->data);
    b->data = data;
    b->capacity = capacity;
    b->mapped = mapped;
    r.by_data[b->data] = h;
}

// Turns a fixed block into a movable one over the same memory, under a new
// handle (GlobalReAlloc with GMEM_MODIFY | GMEM_MOVEABLE). The old handle,
// which was the data pointer, stops being a handle.
HGLOBAL make_movable(Registry& r, HGLOBAL h, Block* b, UINT flags)
{
    b->attrs = kMovable | ((flags & GMEM_DISCARDABLE) ? kDiscardable : 0);
    r.by_handle.erase(h);
    HGLOBAL moved = static_cast<HGLOBAL>(b);
    r.by_handle[moved] = b;
    r.by_data[b->data] = moved;
    return moved;
}

// GlobalReAlloc and LocalReAlloc.
//
// A block changes size where it lies whenever its allocation has room, which
// always holds for shrinking and for the same size: a locked block never
// moves under its caller's pointer unless the caller asked for that with
// GMEM_MOVEABLE. Growth beyond the allocation moves the block when it may:
// an unlocked movable block always, a locked movable one or a fixed one only
// with GMEM_MOVEABLE (a movable handle stays; a fixed block's handle, being
// its address, changes). The lock count survives every reallocation. Size 0
// with GMEM_MOVEABLE discards an unlocked movable block, discardable or not;
// a discarded block comes back with any nonzero size.
HGLOBAL realloc_block(HGLOBAL hMem, SIZE_T dwBytes, UINT uFlags, bool global)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    Block* b = find(r, hMem);
    if (!b)
        return nullptr;
    const bool movable = (b->attrs & kMovable) != 0;
    if (uFlags & GMEM_MODIFY) {
        // Only attributes change; the size is ignored. Discardability is
        // added, never removed, and only GlobalReAlloc turns a fixed block
        // into a movable one.
        if (!movable)
            return global && (uFlags & GMEM_MOVEABLE) ? make_movable(r, hMem, b, uFlags) : hMem;
        if (uFlags & LMEM_DISCARDABLE)
            b->attrs |= kDiscardable;
        return hMem;
    }
    if (uFlags & LMEM_DISCARDABLE)
        return nullptr;  // discardability is set with GMEM_MODIFY only
    if (dwBytes > kMaxBlock)
        return nullptr;
    const bool may_move = (uFlags & GMEM_MOVEABLE) || (movable && b->locks == 0);
    const bool zero = (uFlags & GMEM_ZEROINIT) != 0;

    if (movable && dwBytes == 0) {
        if (!(uFlags & GMEM_MOVEABLE) || b->locks > 0)
            return nullptr;
        if (b->data)
            r.by_data.erase(b->data);
        release_block_memory(b);
        return hMem;
    }
    if (!b->data) {
        // A discarded block is reallocated whatever the flags.
        if (injected_failure(r))
            return nullptr;
        unsigned char* fresh = allocate_bytes(dwBytes, zero, &b->capacity, &b->mapped);
        if (!fresh)
            return nullptr;
        b->data = fresh;
        b->size = dwBytes;
        r.by_data[fresh] = hMem;
        return hMem;
    }
    if (dwBytes > b->size && injected_failure(r))
        return nullptr;
    if (dwBytes <= b->capacity) {
        if (zero && dwBytes > b->size)
            std::memset(b->data + b->size, 0, dwBytes - b->size);
        b->size = dwBytes;
        // Nobody holds the address of an unlocked movable block, so a large
        // shrink may give its memory back (and move it).
        if (movable && b->locks == 0 && dwBytes < b->capacity / 2)
            trim_block(r, b, hMem, dwBytes);
        return hMem;
    }
    if (!may_move || !move_block(r, b, dwBytes, zero))
        return nullptr;
    if (movable) {
        r.by_data[b->data] = hMem;
        return hMem;
    }
    // A fixed block's handle is its address, which has changed.
    HGLOBAL moved = b->data;
    r.by_handle.erase(hMem);
    r.by_handle[moved] = b;
    r.by_data[moved] = moved;
    return moved;
}

LPVOID lock_block(HGLOBAL hMem)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    Block* b = find(r, hMem);
    if (!b || !b->data)
        return nullptr;
    if ((b->attrs & kMovable) && b->locks < GMEM_LOCKCOUNT)
        ++b->locks;
    return b->data;
}

// Unlocking a fixed block does nothing; GlobalUnlock then answers TRUE and
// LocalUnlock FALSE, as the system's own functions do.
BOOL unlock_block(HGLOBAL hMem, BOOL fixed_result)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    Block* b = find(r, hMem);
    if (!b)
        return FALSE;
    if (!(b->attrs & kMovable))
        return fixed_result;
    if (b->locks == 0)
        return FALSE;
    --b->locks;
    return b->locks > 0;
}

SIZE_T size_of_block(HGLOBAL hMem)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    Block* b = find(r, hMem);
    return b && b->data ? b->size : 0;
}

// GlobalFlags and LocalFlags differ only in the bits reporting discardability.
UINT flags_of_block(HGLOBAL hMem, UINT discardable_bits)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    Block* b = find(r, hMem);
    if (!b)
        return GMEM_INVALID_HANDLE;
    UINT f = b->locks & GMEM_LOCKCOUNT;
    if (b->attrs & kDiscardable)
        f |= discardable_bits;
    if ((b->attrs & kMovable) && !b->data)
        f |= GMEM_DISCARDED;
    return f;
}

HGLOBAL handle_of_data(LPCVOID pMem)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    auto it = r.by_data.find(pMem);
    return it == r.by_data.end() ? nullptr : it->second;
}

}  // namespace

extern "C" {

HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes)
{
    // A fixed global block of zero bytes is given one byte; a local one is not.
    return alloc_block(uFlags, (dwBytes == 0 && !(uFlags & GMEM_MOVEABLE)) ? 1 : dwBytes);
}

HGLOBAL WINAPI GlobalReAlloc(HGLOBAL hMem, SIZE_T dwBytes, UINT uFlags)
{
    return realloc_block(hMem, dwBytes, uFlags, true);
}

LPVOID WINAPI GlobalLock(HGLOBAL hMem)
{
    return lock_block(hMem);
}

BOOL WINAPI GlobalUnlock(HGLOBAL hMem)
{
    return unlock_block(hMem, TRUE);
}

SIZE_T WINAPI GlobalSize(HGLOBAL hMem)
{
    return size_of_block(hMem);
}

UINT WINAPI GlobalFlags(HGLOBAL hMem)
{
    return flags_of_block(hMem, GMEM_DISCARDABLE);
}

HGLOBAL WINAPI GlobalFree(HGLOBAL hMem)
{
    return free_block(hMem);
}

HGLOBAL WINAPI GlobalHandle(LPCVOID pMem)
{
    return handle_of_data(pMem);
}

HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes)
{
    return alloc_block(uFlags, uBytes);
}

HLOCAL WINAPI LocalReAlloc(HLOCAL hMem, SIZE_T uBytes, UINT uFlags)
{
    return realloc_block(hMem, uBytes, uFlags, false);
}

LPVOID WINAPI LocalLock(HLOCAL hMem)
{
    return lock_block(hMem);
}

BOOL WINAPI LocalUnlock(HLOCAL hMem)
{
    return unlock_block(hMem, FALSE);
}

SIZE_T WINAPI LocalSize(HLOCAL hMem)
{
    return size_of_block(hMem);
}

UINT WINAPI LocalFlags(HLOCAL hMem)
{
    return flags_of_block(hMem, LMEM_DISCARDABLE);
}

HLOCAL WINAPI LocalFree(HLOCAL hMem)
{
    return free_block(hMem);
}

HLOCAL WINAPI LocalHandle(LPCVOID pMem)
{
    return handle_of_data(pMem);
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
        if ((b->attrs & kDiscardable) && b->locks == 0 && b->data) {
            r.by_data.erase(b->data);
            release_block_memory(b);
        }
    }
}

}  // namespace kelm::testing
