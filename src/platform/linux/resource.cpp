// Resources for the Linux build. ELF modules carry no resource section, so
// each module handle keys a small table that the application fills with
// kelm3_AddResource; the Win32 lookup functions then work over it with the
// Win32 name rules (integer identifiers, case-insensitive strings, "#123").
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <list>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

// A resource name or type: an integer identifier, or an upper-cased string.
struct ResName {
    bool isId = false;
    WORD id = 0;
    std::string text;

    bool operator==(const ResName& o) const { return isId == o.isId && id == o.id && text == o.text; }
};

struct Resource {
    HMODULE module;
    ResName type;
    ResName name;
    std::vector<BYTE> data;
};

struct Table {
    std::mutex mutex;
    // A list, so that an HRSRC (the entry's address) stays valid while other
    // entries come and go.
    std::list<Resource> entries;
};

Table& table()
{
    static Table* t = new Table;  // never destroyed: data may be locked at exit
    return *t;
}

// Win32 turns "#123" into the identifier 123 and compares other strings
// without regard to case; false for a null pointer or an empty string.
bool parse_name(LPCSTR p, ResName* out)
{
    if (IS_INTRESOURCE(p)) {
        out->isId = true;
        out->id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(p));
        return out->id != 0;
    }
    if (!*p)
        return false;
    if (p[0] == '#' && p[1] != '\0') {
        unsigned long v = 0;
        const char* q = p + 1;
        for (; *q >= '0' && *q <= '9' && v <= 0xFFFF; ++q)
            v = v * 10 + static_cast<unsigned long>(*q - '0');
        if (*q == '\0' && v != 0 && v <= 0xFFFF) {
            out->isId = true;
            out->id = static_cast<WORD>(v);
            return true;
        }
    }
    out->text = p;
    for (char& c : out->text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return true;
}

// Called with the table lock held.
Resource* lookup(Table& t, HMODULE module, const ResName& type, const ResName& name)
{
    for (Resource& r : t.entries)
        if (r.module == module && r.type == type && r.name == name)
            return &r;
    return nullptr;
}

bool known(Table& t, const void* p)
{
    for (Resource& r : t.entries)
        if (&r == p)
            return true;
    return false;
}

}  // namespace

extern "C" {

BOOL WINAPI kelm3_AddResource(HMODULE hModule, LPCSTR lpName, LPCSTR lpType, LPCVOID lpData, DWORD cbData)
{
    ResName type, name;
    if (!parse_name(lpType, &type) || !parse_name(lpName, &name))
        return FALSE;
    try {
        Table& t = table();
        std::lock_guard<std::mutex> guard(t.mutex);
        Resource* r = lookup(t, hModule, type, name);
        if (!lpData) {
            if (!r)
                return FALSE;
            t.entries.remove_if([r](const Resource& e) { return &e == r; });
            return TRUE;
        }
        const BYTE* bytes = static_cast<const BYTE*>(lpData);
        std::vector<BYTE> copy(bytes, bytes + cbData);
        if (r)
            r->data.swap(copy);
        else
            t.entries.push_back(Resource{hModule, type, name, std::move(copy)});
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}

HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType)
{
    ResName type, name;
    if (!parse_name(lpType, &type) || !parse_name(lpName, &name))
        return nullptr;
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    return reinterpret_cast<HRSRC>(lookup(t, hModule, type, name));
}

HGLOBAL WINAPI LoadResource(HMODULE /*hModule*/, HRSRC hResInfo)
{
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    if (!hResInfo || !known(t, hResInfo))
        return nullptr;
    // As in Win32, the "handle" of loaded resource data is its address; an
    // empty resource still gets a distinct non-null one.
    Resource* r = reinterpret_cast<Resource*>(hResInfo);
    return r->data.empty() ? static_cast<HGLOBAL>(r) : static_cast<HGLOBAL>(r->data.data());
}

LPVOID WINAPI LockResource(HGLOBAL hResData)
{
    return hResData;
}

DWORD WINAPI SizeofResource(HMODULE /*hModule*/, HRSRC hResInfo)
{
    Table& t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    if (!hResInfo || !known(t, hResInfo))
        return 0;
    return static_cast<DWORD>(reinterpret_cast<Resource*>(hResInfo)->data.size());
}

BOOL WINAPI FreeResource(HGLOBAL /*hResData*/)
{
    return FALSE;
}

}  // extern "C"
