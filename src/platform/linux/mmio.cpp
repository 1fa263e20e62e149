// Multimedia file I/O for the Linux build: disk files over POSIX descriptors
// and memory files over a caller's (or our own) buffer, with the Win32 return
// conventions. Handles live in one registry so that a stale or foreign HMMIO
// is refused rather than dereferenced, and share modes are enforced there.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_set>

#include "platform/platform.h"

namespace {

constexpr DWORD kSupportedFlags = MMIO_RWMODE | MMIO_SHAREMODE | MMIO_CREATE | MMIO_ALLOCBUF;

struct MmioFile {
    DWORD mode;    // MMIO_READ, MMIO_WRITE or MMIO_READWRITE
    DWORD share;   // MMIO_SHAREMODE bits
    bool memory;
    // Disk file.
    int fd = -1;
    dev_t dev = 0;
    ino_t ino = 0;
    // Memory file: `size` bytes of data in a buffer of `capacity` bytes.
    char* buffer = nullptr;
    int64_t capacity = 0;
    int64_t size = 0;
    bool ownsBuffer = false;
    int64_t growBy = 0;
    int64_t pos = 0;
};

struct Registry {
    std::mutex mutex;
    std::unordered_set<MmioFile*> files;
};

Registry& registry()
{
    static Registry* r = new Registry;  // never destroyed: handles may outlive statics
    return *r;
}

bool can_read(DWORD mode)
{
    return mode == MMIO_READ || mode == MMIO_READWRITE;
}

bool can_write(DWORD mode)
{
    return mode == MMIO_WRITE || mode == MMIO_READWRITE;
}

// Win32 share semantics: COMPAT behaves as DENYNONE; EXCLUSIVE denies both.
bool denies_write(DWORD share)
{
    return share == MMIO_EXCLUSIVE || share == MMIO_DENYWRITE;
}

bool denies_read(DWORD share)
{
    return share == MMIO_EXCLUSIVE || share == MMIO_DENYREAD;
}

// Called with the registry lock held: may a new handle with this access and
// share mode open the file (dev, ino) beside the handles already open on it?
bool share_allows(Registry& r, dev_t dev, ino_t ino, DWORD mode, DWORD share)
{
    for (const MmioFile* f : r.files) {
        if (f->memory || f->dev != dev || f->ino != ino)
            continue;
        if ((denies_write(f->share) && can_write(mode)) || (denies_read(f->share) && can_read(mode)))
            return false;
        if ((denies_write(share) && can_write(f->mode)) || (denies_read(share) && can_read(f->mode)))
            return false;
    }
    return true;
}

UINT error_from_errno(int e)
{
    switch (e) {
    case ENOENT: return MMIOERR_FILENOTFOUND;
    case ENOTDIR: return MMIOERR_PATHNOTFOUND;
    case EACCES: case EPERM: case EROFS: case EISDIR: return MMIOERR_ACCESSDENIED;
    case EMFILE: case ENFILE: return MMIOERR_TOOMANYOPENFILES;
    case ENOMEM: return MMIOERR_OUTOFMEMORY;
    default: return MMIOERR_CANNOTOPEN;
    }
}

HMMIO fail(LPMMIOINFO info, UINT error)
{
    if (info)
        info->wErrorRet = error;
    return nullptr;
}

HMMIO open_memory(LPMMIOINFO info, DWORD flags)
{
    if (info->cchBuffer < 0 || (info->pchBuffer == nullptr && info->cchBuffer == 0 && info->adwInfo[0] == 0))
        return fail(info, MMSYSERR_INVALPARAM);
    auto* f = new (std::nothrow) MmioFile{flags & MMIO_RWMODE, flags & MMIO_SHAREMODE, true};
    if (!f)
        return fail(info, MMIOERR_OUTOFMEMORY);
    f->capacity = info->cchBuffer;
    if (info->pchBuffer) {
        f->buffer = info->pchBuffer;
    } else {
        f->buffer = static_cast<char*>(std::calloc(1, static_cast<size_t>(std::max<int64_t>(f->capacity, 1))));
        f->ownsBuffer = true;
        f->growBy = info->adwInfo[0];
        if (!f->buffer) {
            delete f;
            return fail(info, MMIOERR_OUTOFMEMORY);
        }
    }
    // A created memory file starts empty; an opened one holds the whole buffer.
    f->size = (flags & MMIO_CREATE) ? 0 : f->capacity;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    r.files.insert(f);
    info->wErrorRet = MMSYSERR_NOERROR;
    return reinterpret_cast<HMMIO>(f);
}

HMMIO open_disk(LPCSTR name, LPMMIOINFO info, DWORD flags)
{
    if (!name || !*name)
        return fail(info, MMIOERR_FILENOTFOUND);
    const DWORD mode = flags & MMIO_RWMODE;
    const DWORD share = flags & MMIO_SHAREMODE;
    const bool create = (flags & MMIO_CREATE) != 0;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    // The share check comes before the open, so that a denied create does not
    // truncate a file another handle holds.
    struct stat st {};
    if (::stat(name, &st) == 0 && !share_allows(r, st.st_dev, st.st_ino, create ? MMIO_READWRITE : mode, share))
        return fail(info, MMIOERR_SHARINGVIOLATION);
    int oflags = O_CLOEXEC;
    if (create)
        oflags |= O_CREAT | O_TRUNC | (mode == MMIO_READ ? O_RDWR : (mode == MMIO_WRITE ? O_WRONLY : O_RDWR));
    else
        oflags |= mode == MMIO_READ ? O_RDONLY : (mode == MMIO_WRITE ? O_WRONLY : O_RDWR);
    const int fd = ::open(name, oflags, 0666);
    if (fd < 0)
        return fail(info, error_from_errno(errno));
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return fail(info, MMIOERR_ACCESSDENIED);
    }
    auto* f = new (std::nothrow) MmioFile{mode, share, false};
    if (!f) {
        ::close(fd);
        return fail(info, MMIOERR_OUTOFMEMORY);
    }
    f->fd = fd;
    f->dev = st.st_dev;
    f->ino = st.st_ino;
    r.files.insert(f);
    if (info)
        info->wErrorRet = MMSYSERR_NOERROR;
    return reinterpret_cast<HMMIO>(f);
}

// Looks a handle up; the registry lock is held by the caller.
MmioFile* find(Registry& r, HMMIO h)
{
    auto* f = reinterpret_cast<MmioFile*>(h);
    return r.files.count(f) ? f : nullptr;
}

bool grow_memory(MmioFile* f, int64_t needed)
{
    if (!f->ownsBuffer || f->growBy <= 0)
        return false;
    const int64_t step = std::max(f->growBy, needed - f->capacity);
    const int64_t fresh = f->capacity + step;
    if (fresh > LONG_MAX)
        return false;
    char* p = static_cast<char*>(std::realloc(f->buffer, static_cast<size_t>(fresh)));
    if (!p)
        return false;
    std::memset(p + f->capacity, 0, static_cast<size_t>(fresh - f->capacity));
    f->buffer = p;
    f->capacity = fresh;
    return true;
}

// The kernel copies file data fastest when the destination and the file
// position share their alignment; a packed DIB's pixels (block offset 40 plus
// the table) seldom share it with their file offset (54 plus the table), which
// costs a quarter of the read time. Large misaligned reads therefore go
// through an aligned buffer small enough to stay in cache.
constexpr LONG kBounceThreshold = 256 * 1024;
constexpr size_t kBounceSize = 1 << 20;

LONG read_through_bounce(int fd, char* pch, LONG cch)
{
    std::unique_ptr<char[]> bounce(new (std::nothrow) char[kBounceSize + 64]);
    if (!bounce)
        return -1;
    char* aligned = bounce.get() + (64 - reinterpret_cast<uintptr_t>(bounce.get()) % 64) % 64;
    LONG done = 0;
    while (done < cch) {
        const size_t want = std::min<size_t>(kBounceSize, static_cast<size_t>(cch - done));
        const ssize_t got = ::read(fd, aligned, want);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return done > 0 ? done : -1;
        if (got == 0)
            break;
        std::memcpy(pch + done, aligned, static_cast<size_t>(got));
        done += static_cast<LONG>(got);
    }
    return done;
}

}  // namespace

extern "C" {

HMMIO WINAPI mmioOpenA(LPSTR szFilename, LPMMIOINFO lpmmioinfo, DWORD dwOpenFlags)
{
    if ((dwOpenFlags & ~kSupportedFlags) != 0 || (dwOpenFlags & MMIO_RWMODE) == MMIO_RWMODE)
        return fail(lpmmioinfo, MMSYSERR_INVALFLAG);
    const DWORD share = dwOpenFlags & MMIO_SHAREMODE;
    if (share != MMIO_COMPAT && share != MMIO_EXCLUSIVE && share != MMIO_DENYWRITE && share != MMIO_DENYREAD &&
        share != MMIO_DENYNONE)
        return fail(lpmmioinfo, MMSYSERR_INVALFLAG);
    if (lpmmioinfo) {
        if (lpmmioinfo->pIOProc != nullptr)
            return fail(lpmmioinfo, MMSYSERR_INVALPARAM);
        if (lpmmioinfo->fccIOProc == FOURCC_MEM)
            return open_memory(lpmmioinfo, dwOpenFlags);
        if (lpmmioinfo->fccIOProc != 0 && lpmmioinfo->fccIOProc != FOURCC_DOS)
            return fail(lpmmioinfo, MMSYSERR_INVALPARAM);
    }
    return open_disk(szFilename, lpmmioinfo, dwOpenFlags);
}

LONG WINAPI mmioRead(HMMIO hmmio, HPSTR pch, LONG cch)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    MmioFile* f = find(r, hmmio);
    if (!f || cch < 0 || (cch > 0 && !pch) || !can_read(f->mode))
        return -1;
    if (f->memory) {
        const int64_t n = std::clamp<int64_t>(f->size - f->pos, 0, cch);
        if (n > 0)
            std::memcpy(pch, f->buffer + f->pos, static_cast<size_t>(n));
        f->pos += n;
        return static_cast<LONG>(n);
    }
    const off_t at = ::lseek(f->fd, 0, SEEK_CUR);
    if (cch >= kBounceThreshold && at >= 0 && (reinterpret_cast<uintptr_t>(pch) - static_cast<uintptr_t>(at)) % 64 != 0)
        return read_through_bounce(f->fd, pch, cch);
    LONG done = 0;
    while (done < cch) {
        const ssize_t got = ::read(f->fd, pch + done, static_cast<size_t>(cch - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return done > 0 ? done : -1;
        if (got == 0)
            break;
        done += static_cast<LONG>(got);
    }
    return done;
}

LONG WINAPI mmioWrite(HMMIO hmmio, const char* pch, LONG cch)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    MmioFile* f = find(r, hmmio);
    if (!f || cch < 0 || (cch > 0 && !pch) || !can_write(f->mode))
        return -1;
    if (f->memory) {
        if (f->pos + cch > f->capacity)
            grow_memory(f, f->pos + cch);
        const int64_t n = std::clamp<int64_t>(f->capacity - f->pos, 0, cch);
        if (n > 0)
            std::memcpy(f->buffer + f->pos, pch, static_cast<size_t>(n));
        f->pos += n;
        f->size = std::max(f->size, f->pos);
        return static_cast<LONG>(n);
    }
    LONG done = 0;
    while (done < cch) {
        const ssize_t put = ::write(f->fd, pch + done, static_cast<size_t>(cch - done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return done > 0 ? done : -1;
        done += static_cast<LONG>(put);
    }
    return done;
}

LONG WINAPI mmioSeek(HMMIO hmmio, LONG lOffset, int iOrigin)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    MmioFile* f = find(r, hmmio);
    if (!f)
        return -1;
    if (f->memory) {
        int64_t base;
        switch (iOrigin) {
        case SEEK_SET: base = 0; break;
        case SEEK_CUR: base = f->pos; break;
        case SEEK_END: base = f->size; break;
        default: return -1;
        }
        const int64_t target = base + lOffset;
        if (target < 0 || target > f->capacity)
            return -1;
        f->pos = target;
        return static_cast<LONG>(target);
    }
    if (iOrigin != SEEK_SET && iOrigin != SEEK_CUR && iOrigin != SEEK_END)
        return -1;
    const int whence = iOrigin == SEEK_SET ? SEEK_SET : (iOrigin == SEEK_CUR ? SEEK_CUR : SEEK_END);
    const off_t before = ::lseek(f->fd, 0, SEEK_CUR);
    const off_t at = ::lseek(f->fd, lOffset, whence);
    if (at < 0)
        return -1;
    if (at > LONG_MAX) {  // positions are 32-bit in this interface
        ::lseek(f->fd, before, SEEK_SET);
        return -1;
    }
    return static_cast<LONG>(at);
}

MMRESULT WINAPI mmioClose(HMMIO hmmio, UINT /*wFlags*/)
{
    MmioFile* f;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> guard(r.mutex);
        f = find(r, hmmio);
        if (!f)
            return MMSYSERR_INVALHANDLE;
        r.files.erase(f);
    }
    if (f->fd >= 0)
        ::close(f->fd);
    if (f->ownsBuffer)
        std::free(f->buffer);
    delete f;
    return MMSYSERR_NOERROR;
}

}  // extern "C"
