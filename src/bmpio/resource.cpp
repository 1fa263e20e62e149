// LoadDIBResource: copies a bitmap resource (type RT_BITMAP, a packed DIB
// with a 40-byte header, as resource compilers store BMP files without their
// file header) into a new movable block. The copy is byte for byte: nothing
// is completed or decoded, and the resource is released on every path.
#include "bmpio/bmpio.h"

namespace kelm {

namespace {

// Releases loaded resource data on scope exit.
class ResourceData {
public:
    ResourceData(HGLOBAL h) : h_(h) {}
    ~ResourceData()
    {
        if (h_)
            FreeResource(h_);
    }
    ResourceData(const ResourceData&) = delete;
    ResourceData& operator=(const ResourceData&) = delete;
    HGLOBAL get() const { return h_; }

private:
    HGLOBAL h_;
};

}  // namespace

HGLOBAL load_dib_resource(HINSTANCE hInstance, LPCSTR name)
{
    HMODULE module = static_cast<HMODULE>(hInstance);
    HRSRC info = FindResourceA(module, name, RT_BITMAP);
    if (!info)
        return nullptr;
    ResourceData data(LoadResource(module, info));
    if (!data.get())
        return nullptr;
    const BYTE* bytes = static_cast<const BYTE*>(LockResource(data.get()));
    const DWORD size = SizeofResource(module, info);
    if (!bytes || size < kInfoHeaderSize || ld32(bytes, bih::Size) != kInfoHeaderSize)
        return nullptr;
    OwnedGlobal block(GlobalAlloc(GMEM_MOVEABLE, size));
    if (!block.get())
        return nullptr;
    GlobalLockGuard lock(block.get());
    if (!lock.get())
        return nullptr;
    std::memcpy(lock.get(), bytes, size);
    lock.unlock();
    return block.release();
}

}  // namespace kelm
