// The tool's resources, read the way the shell reads them: the version API for
// the version block, the resource API for the icon group.
#define WIN32_LEAN_AND_MEAN
#define UNICODE  // RT_* as wide names
#include <windows.h>

#include <gtest/gtest.h>

#include <stdio.h>
#include <string>
#include <vector>

#include "korvanel_version.h"

namespace {

const WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN);  // 0x0411

std::wstring g_toolPath;

// The project's version as the block must spell it: four parts in the file
// version, the first two in the product version string (1.0.0.0 and 1.0 for 1.0.0).
const std::wstring kFileVersion = std::to_wstring(KORVANEL_VERSION_MAJOR) + L"." +
                                  std::to_wstring(KORVANEL_VERSION_MINOR) + L"." +
                                  std::to_wstring(KORVANEL_VERSION_PATCH) + L".0";
const std::wstring kProductVersion = std::to_wstring(KORVANEL_VERSION_MAJOR) + L"." +
                                     std::to_wstring(KORVANEL_VERSION_MINOR);
const DWORD kVersionMS = (KORVANEL_VERSION_MAJOR << 16) | KORVANEL_VERSION_MINOR;
const DWORD kVersionLS = KORVANEL_VERSION_PATCH << 16;

// The string table in the order it must appear in the file.
const struct {
    const wchar_t* key;
    const wchar_t* value;
} kStrings[] = {
    {L"InternalName", L"Kor Vanel"},
    {L"ProductName", L"Korvanel"},
    {L"FileVersion", kFileVersion.c_str()},
    {L"ProductVersion", kProductVersion.c_str()},
    {L"CompanyName", L"The Korvanel developers"},
    {L"LegalCopyright", L"Copyright (C) 2026 The Korvanel developers. MIT License."},
    {L"FileDescription",
     L"\x30a6\x30a3\x30f3\x30c9\x30a6\x306b\x95a2\x9023\x4ed8\x3051\x3055\x308c\x305f\x30b9\x30ec\x30c3\x30c9"
     L"\x306e\x512a\x5148\x5ea6\x3092\x3001\x30b3\x30de\x30f3\x30c9\x30e9\x30a4\x30f3\x3067\x8abf\x6574\x3059"
     L"\x308b\x30a2\x30d7\x30ea\x3002"},
};

std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text) {
        char unit[8];
        snprintf(unit, sizeof(unit), c < 0x80 ? "%c" : "\\x%04x", static_cast<unsigned>(c));
        out += unit;
    }
    return out;
}

class VersionBlock : public ::testing::Test {
protected:
    void SetUp() override
    {
        DWORD ignored = 0;
        DWORD size = GetFileVersionInfoSizeW(g_toolPath.c_str(), &ignored);
        ASSERT_NE(0u, size) << "no version block, error " << GetLastError();
        block.resize(size);
        ASSERT_TRUE(GetFileVersionInfoW(g_toolPath.c_str(), 0, size, block.data()));
    }

    std::wstring String(const wchar_t* key)
    {
        std::wstring path = std::wstring(L"\\StringFileInfo\\041104b0\\") + key;
        void* value = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(block.data(), path.c_str(), &value, &length) || value == nullptr)
            return L"<missing>";
        return static_cast<const wchar_t*>(value);
    }

    std::vector<BYTE> block;
};

TEST_F(VersionBlock, FixedPartSaysTheProjectsVersionForWindowsApplications)
{
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature);
    EXPECT_EQ(kVersionMS, fixed->dwFileVersionMS) << "file version, major and minor";
    EXPECT_EQ(kVersionLS, fixed->dwFileVersionLS) << "file version, patch and 0";
    EXPECT_EQ(kVersionMS, fixed->dwProductVersionMS) << "product version, major and minor";
    EXPECT_EQ(kVersionLS, fixed->dwProductVersionLS) << "product version, patch and 0";
    EXPECT_EQ(0u, fixed->dwFileFlagsMask);
    EXPECT_EQ(0u, fixed->dwFileFlags);
    EXPECT_EQ(static_cast<DWORD>(VOS__WINDOWS32), fixed->dwFileOS);
    EXPECT_EQ(static_cast<DWORD>(VFT_APP), fixed->dwFileType);
    EXPECT_EQ(0u, fixed->dwFileSubtype);
}

TEST_F(VersionBlock, TranslationIsJapaneseUnicode)
{
    WORD* pairs = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&pairs), &length));
    ASSERT_EQ(4u, length) << "exactly one language and code page pair";
    EXPECT_EQ(0x0411, pairs[0]);
    EXPECT_EQ(0x04B0, pairs[1]);
}

TEST_F(VersionBlock, EveryStringHasItsValue)
{
    for (const auto& row : kStrings)
        EXPECT_EQ(Narrow(row.value), Narrow(String(row.key))) << Narrow(row.key);
    EXPECT_EQ(kProductVersion, String(L"ProductVersion")) << "differs from the fixed four parts on purpose";
}

// Walks the raw block: VS_VERSIONINFO > StringFileInfo > one table > its strings, in file order.
TEST_F(VersionBlock, StringTableHoldsTheStringsInOrder)
{
    struct Node {
        WORD length, valueLength, type;
    };
    auto align = [](size_t offset) { return (offset + 3) & ~static_cast<size_t>(3); };
    auto keyAt = [&](size_t offset) { return std::wstring(reinterpret_cast<const wchar_t*>(&block[offset + 6])); };
    auto childrenAt = [&](size_t offset, size_t valueBytes) {
        return align(align(offset + 6 + (keyAt(offset).size() + 1) * 2) + valueBytes);
    };
    const Node* root = reinterpret_cast<const Node*>(block.data());
    ASSERT_EQ(L"VS_VERSION_INFO", keyAt(0));
    size_t offset = childrenAt(0, root->valueLength);
    size_t stringFileInfo = 0;
    while (offset < root->length) {
        const Node* child = reinterpret_cast<const Node*>(&block[offset]);
        if (keyAt(offset) == L"StringFileInfo")
            stringFileInfo = offset;
        offset = align(offset + child->length);
    }
    ASSERT_NE(0u, stringFileInfo) << "no StringFileInfo";
    const Node* info = reinterpret_cast<const Node*>(&block[stringFileInfo]);
    size_t table = childrenAt(stringFileInfo, 0);
    const Node* tableNode = reinterpret_cast<const Node*>(&block[table]);
    EXPECT_EQ(L"041104b0", keyAt(table));
    EXPECT_EQ(stringFileInfo + info->length, align(table + tableNode->length)) << "more than one string table";
    std::vector<std::wstring> keys;
    for (size_t s = childrenAt(table, 0); s < table + tableNode->length;) {
        const Node* string = reinterpret_cast<const Node*>(&block[s]);
        ASSERT_GT(string->length, 0) << "malformed string entry";
        keys.push_back(keyAt(s));
        s = align(s + string->length);
    }
    ASSERT_EQ(sizeof(kStrings) / sizeof(kStrings[0]), keys.size());
    for (size_t i = 0; i < keys.size(); ++i)
        EXPECT_EQ(Narrow(kStrings[i].key), Narrow(keys[i])) << "string " << i;
}

// --- the resource table ----------------------------------------------------------

class Resources : public ::testing::Test {
protected:
    void SetUp() override
    {
        module = LoadLibraryExW(g_toolPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(nullptr, module) << "cannot load the tool as data, error " << GetLastError();
    }
    void TearDown() override
    {
        if (module != nullptr)
            FreeLibrary(module);
    }

    const BYTE* Data(const wchar_t* type, const wchar_t* name, DWORD* size, WORD language = kJapanese)
    {
        HRSRC found = FindResourceExW(module, type, name, language);
        if (found == nullptr)
            return nullptr;
        *size = SizeofResource(module, found);
        return static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
    }

    HMODULE module = nullptr;
};

struct Listing {
    std::vector<std::string> entries;  // "type/name/language"
};

std::string Name(const wchar_t* name)
{
    if (IS_INTRESOURCE(name))
        return std::to_string(reinterpret_cast<ULONG_PTR>(name));
    return Narrow(name);
}

BOOL CALLBACK ListLanguage(HMODULE, const wchar_t* type, const wchar_t* name, WORD language, LONG_PTR parameter)
{
    char text[16];
    snprintf(text, sizeof(text), "%04x", language);
    reinterpret_cast<Listing*>(parameter)->entries.push_back(Name(type) + "/" + Name(name) + "/" + text);
    return TRUE;
}

BOOL CALLBACK ListName(HMODULE module, const wchar_t* type, wchar_t* name, LONG_PTR parameter)
{
    EnumResourceLanguagesW(module, type, name, ListLanguage, parameter);
    return TRUE;
}

BOOL CALLBACK ListType(HMODULE module, wchar_t* type, LONG_PTR parameter)
{
    EnumResourceNamesW(module, type, ListName, parameter);
    return TRUE;
}

// The icon and version block are for the shell, in Japanese; the manifest is
// for the loader, whose language search always reaches the neutral language.
TEST_F(Resources, IconAndVersionAreJapaneseTheManifestNeutral)
{
    Listing listing;
    EnumResourceTypesW(module, ListType, reinterpret_cast<LONG_PTR>(&listing));
    std::vector<std::string> expected = {"3/1/0411",  "3/2/0411", "3/3/0411", "3/4/0411", "14/MAINICON/0411",
                                         "16/1/0411", "24/1/0000"};
    EXPECT_EQ(expected, listing.entries);
}

// --- the application manifest --------------------------------------------------------

const char* const kArchitecture = sizeof(void*) == 8 ? "amd64" : "x86";

// Every element, as the file must spell it: the loader reads activeCodePage's
// "UTF-8" case-sensitively, and each setting only under its own namespace.
const struct {
    const char* what;
    const char* text;
} kManifestElements[] = {
    {"identity", "<assemblyIdentity type=\"win32\" name=\"Korvanel\" version=\"" KORVANEL_FILE_VERSION
                 "\" processorArchitecture=\"%s\"/>"},
    {"themed controls",
     "<dependentAssembly>\n<assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" "
     "version=\"6.0.0.0\" processorArchitecture=\"*\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>"},
    {"no elevation", "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"},
    {"Windows Vista", "<supportedOS Id=\"{e2011457-1546-43c5-a5fe-008deee3d3f0}\"/>"},
    {"Windows 7", "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>"},
    {"Windows 8", "<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>"},
    {"Windows 8.1", "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>"},
    {"Windows 10 and 11", "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"},
    {"DPI before Windows 10 1607", "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>"},
    {"DPI", "<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2, PerMonitor</dpiAwareness>"},
    {"UTF-8", "<activeCodePage xmlns=\"http://schemas.microsoft.com/SMI/2019/WindowsSettings\">UTF-8</activeCodePage>"},
};

TEST_F(Resources, ManifestHoldsEveryElement)
{
    DWORD size = 0;
    const BYTE* data = Data(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1), &size, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    ASSERT_NE(nullptr, data) << "no RT_MANIFEST 1 for the neutral language";
    std::string manifest(reinterpret_cast<const char*>(data), size);
    for (const auto& element : kManifestElements) {
        char text[512];
        snprintf(text, sizeof(text), element.text, kArchitecture);
        EXPECT_NE(std::string::npos, manifest.find(text)) << element.what << ": expected " << text << "\nin\n" << manifest;
    }
}

// The platform's own reading: the activation context the loader would make.
TEST_F(Resources, LoaderReadsTheManifestAsMeant)
{
    ACTCTXW request = {};
    request.cbSize = sizeof(request);
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = g_toolPath.c_str();
    request.lpResourceName = MAKEINTRESOURCEW(1);
    HANDLE context = CreateActCtxW(&request);
    ASSERT_NE(INVALID_HANDLE_VALUE, context) << "the loader refuses the manifest, error " << GetLastError();

    const struct {
        const wchar_t* space;
        const wchar_t* name;
        const wchar_t* value;
    } settings[] = {
        {L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware", L"true"},
        {L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness", L"PerMonitorV2, PerMonitor"},
        {L"http://schemas.microsoft.com/SMI/2019/WindowsSettings", L"activeCodePage", L"UTF-8"},
    };
    for (const auto& setting : settings) {
        wchar_t value[64] = L"<none>";
        SIZE_T length = 0;
        QueryActCtxSettingsW(0, context, setting.space, setting.name, value, 64, &length);
        EXPECT_EQ(Narrow(setting.value), Narrow(value)) << Narrow(setting.name);
    }

    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level = {};
    SIZE_T length = 0;
    ASSERT_TRUE(QueryActCtxW(0, context, nullptr, RunlevelInformationInActivationContext, &level, sizeof(level), &length));
    EXPECT_EQ(ACTCTX_RUN_LEVEL_AS_INVOKER, level.RunLevel);
    EXPECT_EQ(0u, level.UiAccess);

    // The tool itself, then the Common Controls it depends on, resolved for this architecture.
    std::string identities;
    for (DWORD index = 1; index <= 2; ++index) {
        alignas(8) BYTE information[2048] = {};
        if (QueryActCtxW(0, context, &index, AssemblyDetailedInformationInActivationContext, information,
                         sizeof(information), &length))
            identities += Narrow(reinterpret_cast<ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION*>(information)
                                     ->lpAssemblyEncodedAssemblyIdentity) + "\n";
    }
    std::string architecture = std::string("processorArchitecture=\"") + kArchitecture + "\"";
    EXPECT_EQ(0u, identities.find("Korvanel," + architecture + ",type=\"win32\",version=\"" + Narrow(kFileVersion) +
                                  "\"\n"))
        << identities;
    EXPECT_NE(std::string::npos, identities.find("\nMicrosoft.Windows.Common-Controls," + architecture +
                                                 ",publicKeyToken=\"6595b64144ccf1df\",type=\"win32\",version=\"6.0."))
        << identities;
    ReleaseActCtx(context);
}

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colourCount, reserved;
    WORD planes, bitCount;
    DWORD bytesInResource;
    WORD id;
};
struct GroupIconDirectory {
    WORD reserved, type, count;
    GroupIconEntry entries[1];
};
#pragma pack(pop)

TEST_F(Resources, MainIconListsFourImagesOf256Colours)
{
    DWORD size = 0;
    const GroupIconDirectory* group =
        reinterpret_cast<const GroupIconDirectory*>(Data(RT_GROUP_ICON, L"MAINICON", &size));
    ASSERT_NE(nullptr, group) << "no MAINICON for language 0x0411";
    EXPECT_EQ(0, group->reserved);
    EXPECT_EQ(1, group->type) << "an icon group";
    ASSERT_EQ(4, group->count);
    ASSERT_EQ(6u + 4 * sizeof(GroupIconEntry), size);
    const int sides[] = {64, 48, 16, 32};
    for (int i = 0; i < 4; ++i) {
        const GroupIconEntry& entry = group->entries[i];
        SCOPED_TRACE("entry " + std::to_string(i));
        EXPECT_EQ(sides[i], entry.width);
        EXPECT_EQ(sides[i], entry.height);
        EXPECT_EQ(0, entry.colourCount) << "256 colours are written as 0";
        EXPECT_EQ(1, entry.planes);
        EXPECT_EQ(8, entry.bitCount);
        EXPECT_EQ(i + 1, entry.id) << "image ids 1 to 4 in this order";

        DWORD imageSize = 0;
        const BYTE* image = Data(RT_ICON, MAKEINTRESOURCEW(entry.id), &imageSize);
        ASSERT_NE(nullptr, image) << "no icon image " << entry.id << " for language 0x0411";
        EXPECT_EQ(entry.bytesInResource, imageSize);
        const BITMAPINFOHEADER* header = reinterpret_cast<const BITMAPINFOHEADER*>(image);
        EXPECT_EQ(sides[i], header->biWidth);
        EXPECT_EQ(sides[i] * 2, header->biHeight) << "colour rows and mask rows";
        EXPECT_EQ(1, header->biPlanes);
        EXPECT_EQ(8, header->biBitCount);
        HICON icon = CreateIconFromResourceEx(const_cast<BYTE*>(image), imageSize, TRUE, 0x00030000, sides[i],
                                              sides[i], LR_DEFAULTCOLOR);
        EXPECT_NE(nullptr, icon) << "the platform cannot make an icon of image " << entry.id;
        if (icon != nullptr)
            DestroyIcon(icon);
    }
}

TEST_F(Resources, ShellPicksTheImageForEachSize)
{
    DWORD size = 0;
    const BYTE* group = Data(RT_GROUP_ICON, L"MAINICON", &size);
    ASSERT_NE(nullptr, group);
    const struct {
        int side;
        int id;
    } rows[] = {{64, 1}, {48, 2}, {16, 3}, {32, 4}};
    for (const auto& row : rows)
        EXPECT_EQ(row.id, LookupIconIdFromDirectoryEx(const_cast<BYTE*>(group), TRUE, row.side, row.side, LR_DEFAULTCOLOR))
            << row.side << " pixels";
}

}  // namespace

// Usage: korvanel_resources_tests.exe TOOL.exe [gtest options]
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        fprintf(stderr, "usage: %s TOOL.exe [gtest options]\n", argv[0]);
        return 2;
    }
    wchar_t path[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, argv[1], -1, path, MAX_PATH);
    g_toolPath = path;
    return RUN_ALL_TESTS();
}
