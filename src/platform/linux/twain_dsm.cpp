// The TWAIN source manager that Linux lacks, as the built-in module
// TWAIN_32.DLL: DSM_Entry for the application side (open and close the
// manager, the source list, the default source, a selection without dialog,
// open and close a source, status) and for the sources (DAT_NULL
// announcements). A source announces a transfer or a close request by a
// message posted to the window it was enabled with; MSG_PROCESSEVENT turns
// that message back into the TWAIN message. Calls come from one thread at a
// time, as TWAIN requires of applications; sources may call back re-entrantly.
#include <dirent.h>
#include <dlfcn.h>
#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/linux/twain_dsm.h"
#include "platform/linux/user32.h"

namespace kelm::platform {

namespace {

// The manager's own event message, from the range Win32 gives registered
// messages: wParam the source's Id, lParam the TWAIN message.
constexpr UINT kEventMessage = 0xC7A1;

// A data-source module: a shared object with DS_Entry.
class ModuleSource : public TwainSource {
public:
    ModuleSource(void* handle, DSENTRYPROC entry) : handle_(handle), entry_(entry) {}
    ~ModuleSource() override { dlclose(handle_); }
    TW_UINT16 entry(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) override
    {
        return entry_(origin, dg, dat, msg, data);
    }

private:
    void* handle_;
    DSENTRYPROC entry_;
};

struct Slot {
    std::unique_ptr<TwainSource> source;
    bool open = false;
    HWND parent = nullptr;
    TW_IDENTITY app{};  // the application that opened it
};

struct Manager {
    int open = 0;  // applications that opened the manager
    std::vector<Slot> slots;
    std::size_t next = 0;  // MSG_GETNEXT position
    TW_UINT16 condition = TWCC_SUCCESS;
    TW_UINT32 nextId = 1;
    bool saneLoaded = false;
};

Manager g_dsm;

TW_UINT16 WINAPI dsm_entry(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                           TW_MEMREF data);

bool ends_with_ds(const char* name)
{
    std::size_t n = std::strlen(name);
    return n > 3 && strcasecmp(name + n - 3, ".ds") == 0;
}

void load_sources()
{
    std::string dir = windows_directory() + "/twain_32";
    if (DIR* d = opendir(dir.c_str())) {
        std::vector<std::string> names;
        while (dirent* e = readdir(d))
            if (ends_with_ds(e->d_name))
                names.push_back(e->d_name);
        closedir(d);
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            std::string path = dir + "/" + name;
            void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!h)
                continue;
            auto entry = reinterpret_cast<DSENTRYPROC>(dlsym(h, "DS_Entry"));
            if (!entry) {
                dlclose(h);
                continue;
            }
            auto src = std::make_unique<ModuleSource>(h, entry);
            if (entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GET, &src->identity) != TWRC_SUCCESS)
                continue;
            g_dsm.slots.push_back(Slot{std::move(src)});
        }
    }
    for (auto& s : sane_sources(dsm_entry))
        g_dsm.slots.push_back(Slot{std::move(s)});
    g_dsm.saneLoaded = true;
    for (Slot& s : g_dsm.slots)
        s.source->identity.Id = g_dsm.nextId++;
}

void unload_sources()
{
    g_dsm.slots.clear();
    if (g_dsm.saneLoaded)
        sane_release();
    g_dsm.saneLoaded = false;
}

// The default source: the one whose product name KELM3_TWAIN_SOURCE gives,
// else the first.
Slot* default_slot()
{
    if (g_dsm.slots.empty())
        return nullptr;
    if (const char* want = std::getenv("KELM3_TWAIN_SOURCE"))
        for (Slot& s : g_dsm.slots)
            if (std::strcmp(s.source->identity.ProductName, want) == 0)
                return &s;
    return &g_dsm.slots.front();
}

Slot* slot_by_id(TW_UINT32 id)
{
    for (Slot& s : g_dsm.slots)
        if (s.source->identity.Id == id)
            return &s;
    return nullptr;
}

TW_UINT16 fail(TW_UINT16 condition)
{
    g_dsm.condition = condition;
    return TWRC_FAILURE;
}

// After a source refused something, its condition code is the manager's too,
// so that an application asking the manager learns why.
void take_condition(Slot& s)
{
    TW_STATUS status{};
    if (s.source->entry(&s.app, DG_CONTROL, DAT_STATUS, MSG_GET, &status) == TWRC_SUCCESS)
        g_dsm.condition = status.ConditionCode;
    else
        g_dsm.condition = TWCC_BUMMER;
}

TW_UINT16 open_source(pTW_IDENTITY origin, pTW_IDENTITY id)
{
    if (!origin)
        return fail(TWCC_BADVALUE);
    Slot* s = nullptr;
    if (id->Id != 0)
        s = slot_by_id(id->Id);
    else if (id->ProductName[0] != '\0') {
        for (Slot& x : g_dsm.slots)
            if (std::strcmp(x.source->identity.ProductName, id->ProductName) == 0)
                s = &x;
    } else {
        s = default_slot();
    }
    if (!s)
        return fail(TWCC_NODS);
    if (s->open)
        return fail(TWCC_MAXCONNECTIONS);
    *id = s->source->identity;
    if (s->source->wants_entry_point()) {
        TW_ENTRYPOINT ep{};
        ep.Size = sizeof ep;
        ep.DSM_Entry = dsm_entry;
        s->source->entry(origin, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &ep);
    }
    if (s->source->entry(origin, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, id) != TWRC_SUCCESS) {
        take_condition(*s);
        return TWRC_FAILURE;
    }
    s->open = true;
    s->parent = nullptr;
    s->app = *origin;
    return TWRC_SUCCESS;
}

TW_UINT16 identity_call(pTW_IDENTITY origin, TW_UINT16 msg, pTW_IDENTITY id)
{
    if (!g_dsm.open)
        return fail(TWCC_SEQERROR);
    if (!id)
        return fail(TWCC_BADVALUE);
    switch (msg) {
    case MSG_GETFIRST:
        g_dsm.next = 0;
        [[fallthrough]];
    case MSG_GETNEXT:
        if (g_dsm.next >= g_dsm.slots.size())
            return TWRC_ENDOFLIST;
        *id = g_dsm.slots[g_dsm.next++].source->identity;
        return TWRC_SUCCESS;
    case MSG_GETDEFAULT:
    case MSG_USERSELECT: {
        // No dialog: the choice is the default source.
        Slot* s = default_slot();
        if (!s)
            return fail(TWCC_NODS);
        *id = s->source->identity;
        return TWRC_SUCCESS;
    }
    case MSG_OPENDS:
        return open_source(origin, id);
    case MSG_CLOSEDS: {
        Slot* s = slot_by_id(id->Id);
        if (!s || !s->open)
            return fail(TWCC_SEQERROR);
        TW_UINT16 rc = s->source->entry(origin, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, id);
        if (rc != TWRC_SUCCESS) {
            take_condition(*s);
            return rc;
        }
        s->open = false;
        s->parent = nullptr;
        return TWRC_SUCCESS;
    }
    default:
        return fail(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 manager_call(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    if (dg != DG_CONTROL)
        return fail(TWCC_BADPROTOCOL);
    switch (dat) {
    case DAT_PARENT:
        if (msg == MSG_OPENDSM) {
            if (!origin)
                return fail(TWCC_BADVALUE);
            // Several applications (contexts) may have it open at once; the
            // sources are found when the first one opens it.
            if (g_dsm.open == 0) {
                load_sources();
                g_dsm.next = 0;
            }
            ++g_dsm.open;
            g_dsm.condition = TWCC_SUCCESS;
            origin->Id = g_dsm.nextId++;
            return TWRC_SUCCESS;
        }
        if (msg == MSG_CLOSEDSM) {
            if (!g_dsm.open || !origin)
                return fail(TWCC_SEQERROR);
            for (const Slot& s : g_dsm.slots)
                if (s.open && s.app.Id == origin->Id)
                    return fail(TWCC_SEQERROR);
            if (--g_dsm.open == 0)
                unload_sources();
            return TWRC_SUCCESS;
        }
        return fail(TWCC_BADPROTOCOL);
    case DAT_STATUS:
        if (msg != MSG_GET || !data)
            return fail(TWCC_BADPROTOCOL);
        static_cast<pTW_STATUS>(data)->ConditionCode = g_dsm.condition;
        static_cast<pTW_STATUS>(data)->Reserved = 0;
        g_dsm.condition = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    case DAT_IDENTITY:
        return identity_call(origin, msg, static_cast<pTW_IDENTITY>(data));
    default:
        return fail(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 WINAPI dsm_entry(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                           TW_MEMREF data)
{
    // A source announcing a transfer or asking to be closed.
    if (dat == DAT_NULL && dg == DG_CONTROL && origin) {
        Slot* s = slot_by_id(origin->Id);
        if (!s || !s->open)
            return fail(TWCC_BADPROTOCOL);
        if (msg != MSG_XFERREADY && msg != MSG_CLOSEDSREQ && msg != MSG_CLOSEDSOK)
            return fail(TWCC_BADPROTOCOL);
        if (!s->parent || !PostMessageA(s->parent, kEventMessage, origin->Id, msg))
            return fail(TWCC_SEQERROR);
        return TWRC_SUCCESS;
    }
    if (!dest)
        return manager_call(origin, dg, dat, msg, data);
    if (!g_dsm.open)
        return fail(TWCC_SEQERROR);
    Slot* s = slot_by_id(dest->Id);
    if (!s || !s->open)
        return fail(TWCC_BADDEST);
    if (dg == DG_CONTROL && dat == DAT_EVENT && msg == MSG_PROCESSEVENT) {
        auto* event = static_cast<pTW_EVENT>(data);
        if (!event)
            return fail(TWCC_BADVALUE);
        auto* m = static_cast<const MSG*>(event->pEvent);
        if (m && m->message == kEventMessage) {
            if (m->wParam != dest->Id)
                return TWRC_NOTDSEVENT;
            event->TWMessage = static_cast<TW_UINT16>(m->lParam);
            return TWRC_DSEVENT;
        }
        event->TWMessage = MSG_NULL;
        return s->source->entry(origin, dg, dat, msg, data);
    }
    if (dg == DG_CONTROL && dat == DAT_USERINTERFACE && msg == MSG_ENABLEDS && data)
        s->parent = static_cast<HWND>(static_cast<pTW_USERINTERFACE>(data)->hParent);
    TW_UINT16 rc = s->source->entry(origin, dg, dat, msg, data);
    if (rc == TWRC_FAILURE)
        take_condition(*s);
    return rc;
}

FARPROC lookup(const char* symbol)
{
    if (std::strcmp(symbol, "DSM_Entry") == 0)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&dsm_entry));
    return nullptr;
}

const BuiltinModule kModule{"TWAIN_32.DLL", lookup};

}  // namespace

const BuiltinModule& twain_dsm_module()
{
    return kModule;
}

}  // namespace kelm::platform
