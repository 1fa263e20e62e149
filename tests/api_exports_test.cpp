// The export table of the built library against its sources: the ordinal
// file, the version script and the public headers are read at run time, so an
// export added to them later is checked without touching this test.
// Built for Linux (libkelm3.so through dlopen and its ELF symbol table) and
// for Windows (kelm3_32.dll, or the 64-bit kelm3_64.dll, through LoadLibraryA
// and its PE export directory). The 64-bit DLL is linked from a .def made from
// the same ordinal file with the @N decoration dropped, so both are checked
// against the ordinal file itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "kelm3.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#endif

#ifndef KELM3_SOURCE_DIR
#error "KELM3_SOURCE_DIR must name the source tree"
#endif
#if defined(_WIN32) && !defined(KELM3_DLL_NAME)
#error "KELM3_DLL_NAME must name the DLL under test"
#endif

namespace {

// One line of the ordinal file: "Name@bytes @ordinal".
struct DefEntry {
    std::string name;       // undecorated, as exported
    unsigned arg_bytes = 0; // the @N of the decorated __stdcall name
    unsigned ordinal = 0;
};

std::string source_path(const std::string& relative)
{
    return std::string(KELM3_SOURCE_DIR) + "/" + relative;
}

std::string read_text(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string strip_c_comments(const std::string& text)
{
    static const std::regex block(R"(/\*[\s\S]*?\*/)");
    static const std::regex line(R"(//[^\n]*)");
    return std::regex_replace(std::regex_replace(text, block, " "), line, " ");
}

// Parses the .def file. Any line it cannot read is reported in `errors`, so a
// malformed entry fails the test instead of silently dropping out of it.
std::vector<DefEntry> parse_def(const std::string& text, std::vector<std::string>& errors)
{
    static const std::regex entry(R"(^\s*([A-Za-z_][A-Za-z0-9_]*)@([0-9]+)\s+@([0-9]+)\s*$)");
    std::vector<DefEntry> out;
    std::istringstream lines(text);
    std::string line;
    bool in_exports = false;
    while (std::getline(lines, line)) {
        line = line.substr(0, line.find(';'));
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos)
            continue;
        if (line.rfind("LIBRARY", 0) == 0)
            continue;
        if (line.rfind("EXPORTS", 0) == 0) {
            in_exports = true;
            continue;
        }
        std::smatch m;
        if (!in_exports || !std::regex_match(line, m, entry)) {
            errors.push_back(line);
            continue;
        }
        out.push_back(DefEntry{m[1].str(), static_cast<unsigned>(std::stoul(m[2].str())),
                               static_cast<unsigned>(std::stoul(m[3].str()))});
    }
    return out;
}

// The names in the global: section of the version script.
std::set<std::string> parse_map_globals(const std::string& text)
{
    std::set<std::string> out;
    const std::string body = strip_c_comments(text);
    const auto start = body.find("global:");
    const auto end = body.find("local:");
    if (start == std::string::npos || end == std::string::npos || end < start)
        return out;
    static const std::regex name(R"(([A-Za-z_][A-Za-z0-9_]*)\s*;)");
    const std::string section = body.substr(start + 7, end - start - 7);
    for (std::sregex_iterator it(section.begin(), section.end(), name), e; it != e; ++it)
        out.insert((*it)[1].str());
    return out;
}

// Functions a public header declares: "KELM3_API <type> WINAPI Name(".
std::set<std::string> parse_header_functions(const std::string& text)
{
    std::set<std::string> out;
    const std::string body = strip_c_comments(text);
    static const std::regex decl(R"(KELM3_API\s+[^;(){}]*\bWINAPIV?\s+([A-Za-z_][A-Za-z0-9_]*)\s*\()");
    for (std::sregex_iterator it(body.begin(), body.end(), decl), e; it != e; ++it)
        out.insert((*it)[1].str());
    return out;
}

std::vector<DefEntry> load_def()
{
    std::vector<std::string> errors;
    auto entries = parse_def(read_text(source_path("src/exports/kelm3_32.def")), errors);
    for (const auto& bad : errors)
        ADD_FAILURE() << "unreadable line in kelm3_32.def: '" << bad << "'";
    return entries;
}

std::set<std::string> def_names(const std::vector<DefEntry>& def)
{
    std::set<std::string> names;
    for (const auto& e : def)
        names.insert(e.name);
    return names;
}

std::set<std::string> minus(const std::set<std::string>& a, const std::set<std::string>& b)
{
    std::set<std::string> out;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::inserter(out, out.end()));
    return out;
}

TEST(ExportSources, ParserReadsEntriesAndRejectsMalformedLines)
{
    std::vector<std::string> errors;
    const auto def = parse_def("; comment\nLIBRARY x.dll\nEXPORTS\n  Foo@8 @12 ; trailing\n"
                               "  Bar@0 @3\n  Baz @4\n",
                               errors);
    ASSERT_EQ(def.size(), 2u);
    EXPECT_EQ(def[0].name, "Foo");
    EXPECT_EQ(def[0].arg_bytes, 8u);
    EXPECT_EQ(def[0].ordinal, 12u);
    EXPECT_EQ(def[1].name, "Bar");
    EXPECT_EQ(def[1].ordinal, 3u);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("Baz"), std::string::npos);

    EXPECT_EQ(parse_map_globals("V { global: A; /* B; */ C ; local: *; };"),
              (std::set<std::string>{"A", "C"}));
    EXPECT_EQ(parse_header_functions("/* KELM3_API int WINAPI Hidden(void); */\n"
                                     "KELM3_API LPBYTE WINAPI Ptr(LPVOID p);\n"
                                     "KELM3_API void\nWINAPI Two(int);\nint WINAPI NotApi(void);"),
              (std::set<std::string>{"Ptr", "Two"}));
}

// The ordinal file is well formed: names and ordinals unique, ordinals in the
// 16-bit range, and argument sizes whole 32-bit stack slots.
TEST(ExportSources, OrdinalFileIsConsistent)
{
    const auto def = load_def();
    ASSERT_FALSE(def.empty()) << "no exports read from " << source_path("src/exports/kelm3_32.def");
    std::set<std::string> names;
    std::set<unsigned> ordinals;
    for (const auto& e : def) {
        SCOPED_TRACE(e.name);
        EXPECT_TRUE(names.insert(e.name).second) << "name listed twice";
        EXPECT_TRUE(ordinals.insert(e.ordinal).second) << "ordinal " << e.ordinal << " used twice";
        EXPECT_GE(e.ordinal, 1u);
        EXPECT_LE(e.ordinal, 0xFFFFu);
        EXPECT_EQ(e.arg_bytes % 4, 0u) << "argument bytes " << e.arg_bytes;
    }
}

// Every function kelm3.h documents has an ordinal and every ordinal is
// documented; the version script exports the same names plus exactly the
// global-memory functions that kelm3_win32.h declares.
TEST(ExportSources, HeadersOrdinalsAndVersionScriptAgree)
{
    const auto names = def_names(load_def());
    const auto api = parse_header_functions(read_text(source_path("include/kelm3.h")));
    auto platform = parse_header_functions(read_text(source_path("include/kelm3_win32.h")));
    // The metafile part of the subset lives in a companion header.
    const auto metafiles = parse_header_functions(read_text(source_path("include/kelm3_win32_metafile.h")));
    platform.insert(metafiles.begin(), metafiles.end());
    const auto map = parse_map_globals(read_text(source_path("src/exports/kelm3.map")));
    ASSERT_FALSE(api.empty());
    ASSERT_FALSE(platform.empty());
    ASSERT_FALSE(map.empty());

    EXPECT_EQ(minus(api, names), std::set<std::string>{}) << "declared in kelm3.h without an ordinal";
    EXPECT_EQ(minus(names, api), std::set<std::string>{}) << "ordinal without a declaration in kelm3.h";

    std::set<std::string> expected_map = names;
    expected_map.insert(platform.begin(), platform.end());
    // Windows, messages and modules of the Linux build (the TWAIN functions use them).
    const auto user = parse_header_functions(read_text(source_path("include/kelm3_win32_user.h")));
    expected_map.insert(user.begin(), user.end());
    EXPECT_EQ(minus(expected_map, map), std::set<std::string>{}) << "missing from kelm3.map";
    EXPECT_EQ(minus(map, expected_map), std::set<std::string>{}) << "in kelm3.map but in no header";
}

#ifdef _WIN32

std::string lower(std::string s)
{
    for (auto& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

class DllExports : public ::testing::Test {
protected:
    void SetUp() override
    {
        module_ = LoadLibraryA(KELM3_DLL_NAME);
        ASSERT_NE(module_, nullptr) << "LoadLibraryA failed, error " << GetLastError();
    }
    void TearDown() override
    {
        if (module_)
            FreeLibrary(module_);
    }

    // The module's export directory, read from the mapped image.
    const IMAGE_EXPORT_DIRECTORY* directory() const
    {
        const auto* base = reinterpret_cast<const BYTE*>(module_);
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        const auto& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
        if (entry.VirtualAddress == 0)
            return nullptr;
        return reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
    }

    const BYTE* at(DWORD rva) const { return reinterpret_cast<const BYTE*>(module_) + rva; }

    HMODULE module_ = nullptr;
};

// Looking an export up by ordinal and by name gives the same address.
TEST_F(DllExports, OrdinalAndNameGiveTheSameFunction)
{
    const auto def = load_def();
    ASSERT_FALSE(def.empty());
    for (const auto& e : def) {
        SCOPED_TRACE(e.name + " @" + std::to_string(e.ordinal));
        const FARPROC by_ordinal = GetProcAddress(module_, MAKEINTRESOURCEA(e.ordinal));
        const FARPROC by_name = GetProcAddress(module_, e.name.c_str());
        EXPECT_NE(by_ordinal, nullptr);
        EXPECT_NE(by_name, nullptr);
        EXPECT_EQ(reinterpret_cast<void*>(by_ordinal), reinterpret_cast<void*>(by_name));
        // The decorated __stdcall name must not be exported alongside.
        const std::string decorated = e.name + "@" + std::to_string(e.arg_bytes);
        EXPECT_EQ(GetProcAddress(module_, decorated.c_str()), nullptr) << decorated;
    }
}

// The export directory holds exactly the entries of the ordinal file: no
// extra names, no nameless ordinals, and the module name callers link to.
TEST_F(DllExports, ExportDirectoryMatchesOrdinalFile)
{
    const auto def = load_def();
    ASSERT_FALSE(def.empty());
    const auto* dir = directory();
    ASSERT_NE(dir, nullptr) << "no export directory";
    EXPECT_EQ(lower(reinterpret_cast<const char*>(at(dir->Name))), lower(KELM3_DLL_NAME));

    std::map<std::string, unsigned> expected;
    for (const auto& e : def)
        expected[e.name] = e.ordinal;

    const auto* names = reinterpret_cast<const DWORD*>(at(dir->AddressOfNames));
    const auto* name_ordinals = reinterpret_cast<const WORD*>(at(dir->AddressOfNameOrdinals));
    const auto* functions = reinterpret_cast<const DWORD*>(at(dir->AddressOfFunctions));
    std::map<std::string, unsigned> actual;
    for (DWORD i = 0; i < dir->NumberOfNames; ++i)
        actual[reinterpret_cast<const char*>(at(names[i]))] = dir->Base + name_ordinals[i];
    EXPECT_EQ(actual, expected);

    std::set<unsigned> used;
    for (DWORD i = 0; i < dir->NumberOfFunctions; ++i)
        if (functions[i] != 0)
            used.insert(dir->Base + i);
    std::set<unsigned> expected_ordinals;
    for (const auto& e : def)
        expected_ordinals.insert(e.ordinal);
    EXPECT_EQ(used, expected_ordinals);
}

// The DLL carries its runtime: every DLL it imports is a system DLL.
TEST_F(DllExports, ImportsOnlySystemDlls)
{
    const auto* base = reinterpret_cast<const BYTE*>(module_);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const auto& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    ASSERT_NE(entry.VirtualAddress, 0u);

    char sysdir[MAX_PATH];
    const UINT n = GetSystemDirectoryA(sysdir, MAX_PATH);
    ASSERT_GT(n, 0u);
    const std::string system_prefix = lower(std::string(sysdir, n)) + "\\";

    int count = 0;
    for (const auto* imp = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(at(entry.VirtualAddress));
         imp->Name != 0; ++imp, ++count) {
        const char* dll = reinterpret_cast<const char*>(at(imp->Name));
        SCOPED_TRACE(dll);
        HMODULE loaded = GetModuleHandleA(dll);
        ASSERT_NE(loaded, nullptr);
        char path[MAX_PATH];
        const DWORD len = GetModuleFileNameA(loaded, path, MAX_PATH);
        ASSERT_GT(len, 0u);
        EXPECT_EQ(lower(std::string(path, len)).rfind(system_prefix, 0), 0u) << path;
    }
    EXPECT_GT(count, 0);
}

#else  // Linux

// Defined dynamic symbols of an ELF shared object, read from its section
// headers; the version definitions of the version script are left out.
std::set<std::string> elf_exported_names(const std::string& path, std::string& error)
{
    std::set<std::string> out;
    const std::string image = read_text(path);
    if (image.size() < sizeof(ElfW(Ehdr)) || image.compare(0, SELFMAG, ELFMAG) != 0) {
        error = "not an ELF file: " + path;
        return out;
    }
    const auto* data = reinterpret_cast<const unsigned char*>(image.data());
    ElfW(Ehdr) eh;
    std::memcpy(&eh, data, sizeof eh);
    if (eh.e_shentsize != sizeof(ElfW(Shdr)) || eh.e_shoff + std::size_t{eh.e_shnum} * sizeof(ElfW(Shdr)) > image.size()) {
        error = "bad section header table";
        return out;
    }
    std::vector<ElfW(Shdr)> sections(eh.e_shnum);
    std::memcpy(sections.data(), data + eh.e_shoff, eh.e_shnum * sizeof(ElfW(Shdr)));
    bool found = false;
    for (const auto& sh : sections) {
        if (sh.sh_type != SHT_DYNSYM)
            continue;
        found = true;
        if (sh.sh_link >= sections.size() || sh.sh_offset + sh.sh_size > image.size()) {
            error = "bad .dynsym section";
            return out;
        }
        const auto& strtab = sections[sh.sh_link];
        if (strtab.sh_offset + strtab.sh_size > image.size()) {
            error = "bad .dynstr section";
            return out;
        }
        const char* strings = reinterpret_cast<const char*>(data + strtab.sh_offset);
        for (std::size_t off = 0; off + sizeof(ElfW(Sym)) <= sh.sh_size; off += sizeof(ElfW(Sym))) {
            ElfW(Sym) sym;
            std::memcpy(&sym, data + sh.sh_offset + off, sizeof sym);
            if (sym.st_shndx == SHN_UNDEF || sym.st_name >= strtab.sh_size)
                continue;
            const int bind = ELF64_ST_BIND(sym.st_info);
            if (bind != STB_GLOBAL && bind != STB_WEAK && bind != STB_GNU_UNIQUE)
                continue;
            // A version node of the version script: an absolute, zero-sized object.
            if (sym.st_shndx == SHN_ABS && sym.st_value == 0 && sym.st_size == 0)
                continue;
            out.insert(strings + sym.st_name);
        }
    }
    if (!found)
        error = "no .dynsym section in " + path;
    return out;
}

std::string real_path(const char* path)
{
    char* resolved = realpath(path, nullptr);
    if (!resolved)
        return {};
    std::string out(resolved);
    std::free(resolved);
    return out;
}

class SharedObjectExports : public ::testing::Test {
protected:
    void SetUp() override
    {
        handle_ = dlopen(KELM3_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << dlerror();
    }
    void TearDown() override
    {
        if (handle_)
            dlclose(handle_);
    }
    void* handle_ = nullptr;
};

// Every name of the ordinal file and the version script resolves, and to a
// definition inside libkelm3 itself, not one borrowed from another object.
TEST_F(SharedObjectExports, EveryExportResolvesInsideTheLibrary)
{
    auto names = def_names(load_def());
    ASSERT_FALSE(names.empty());
    const auto map = parse_map_globals(read_text(source_path("src/exports/kelm3.map")));
    names.insert(map.begin(), map.end());

    const std::string library = real_path(KELM3_LIBRARY_FILE);
    ASSERT_FALSE(library.empty());
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        void* sym = dlsym(handle_, name.c_str());
        ASSERT_NE(sym, nullptr) << dlerror();
        Dl_info info{};
        ASSERT_NE(dladdr(sym, &info), 0);
        ASSERT_NE(info.dli_fname, nullptr);
        EXPECT_EQ(real_path(info.dli_fname), library);
        ASSERT_NE(info.dli_sname, nullptr);
        EXPECT_EQ(std::string(info.dli_sname), name);
    }
}

// The shared object's dynamic symbol table holds exactly the ordinal-file
// names and the platform functions of the version script: nothing internal
// leaks out.
TEST_F(SharedObjectExports, ExportsNothingElse)
{
    std::set<std::string> expected = def_names(load_def());
    ASSERT_FALSE(expected.empty());
    const auto map = parse_map_globals(read_text(source_path("src/exports/kelm3.map")));
    expected.insert(map.begin(), map.end());

    std::string error;
    const auto exported = elf_exported_names(KELM3_LIBRARY_FILE, error);
    ASSERT_TRUE(error.empty()) << error;
    EXPECT_EQ(minus(exported, expected), std::set<std::string>{}) << "exported but not listed";
    EXPECT_EQ(minus(expected, exported), std::set<std::string>{}) << "listed but not exported";
}

#endif

}  // namespace
