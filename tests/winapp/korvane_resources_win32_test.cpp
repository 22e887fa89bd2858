// Korvane.exe's resources, read from the program file itself: the menu,
// the class name, the accelerators, the icons, the About box template and
// the version block.
#include "tests/winapp/korvane_exe_fixture.h"

#include "korvane_version.h"

#include <cstdio>

namespace testing_support::korvane_exe {
namespace {

// ---------------------------------------------------------------------------
// Resources, read from Korvane.exe as a data file
// ---------------------------------------------------------------------------

std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += c < 0x80 ? char(c) : '?';
    return out;
}

// Walks a DLGTEMPLATE (the classic dialog layout, not the extended one).
class TemplateReader
{
public:
    explicit TemplateReader(const Octets& octets) : m_octets(octets) {}

    bool Ok() const { return m_ok; }
    uint16_t Word()
    {
        if (m_at + 2 > m_octets.size()) {
            m_ok = false;
            return 0;
        }
        const uint16_t value = uint16_t(m_octets[m_at] | m_octets[m_at + 1] << 8);
        m_at += 2;
        return value;
    }
    uint32_t Dword()
    {
        const uint32_t low = Word();
        return low | uint32_t(Word()) << 16;
    }
    int16_t Short() { return int16_t(Word()); }
    std::string Text()
    {
        std::wstring text;
        for (uint16_t c = Word(); m_ok && c != 0; c = Word())
            text += wchar_t(c);
        return Narrow(text);
    }
    // A text, or an ordinal written as "#<number>".
    std::string TextOrOrdinal()
    {
        const size_t at = m_at;
        if (Word() == 0xFFFF) {
            char ordinal[8];
            std::snprintf(ordinal, sizeof ordinal, "#%u", unsigned(Word()));
            return ordinal;
        }
        m_at = at;
        return Text();
    }
    void AlignDword() { m_at = (m_at + 3) & ~size_t(3); }
    void Skip(size_t count) { m_at += count; }

private:
    const Octets& m_octets;
    size_t m_at = 0;
    bool m_ok = true;
};

// A control class named in full ("Static") as the ordinal that stands for
// it ("#130"); the dialog manager takes either.
std::string PredefinedClass(const std::string& name)
{
    if (lstrcmpiA(name.c_str(), "button") == 0)
        return "#128";
    if (lstrcmpiA(name.c_str(), "static") == 0)
        return "#130";
    return name;
}

struct DialogItem
{
    uint32_t style;
    int16_t x, y, cx, cy;
    uint16_t id;
    std::string className; // "#128" button, "#130" static
    std::string text;
};

class KorvaneResources : public ::testing::Test
{
protected:
    void SetUp() override
    {
        module = LoadLibraryExA(KorvaneExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module, nullptr) << KorvaneExePath();
    }
    void TearDown() override
    {
        if (module)
            FreeLibrary(module);
    }

    Octets Resource(LPCSTR type, int id)
    {
        HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type);
        if (!found)
            return {};
        HGLOBAL loaded = LoadResource(module, found);
        const auto* data = static_cast<const uint8_t*>(LockResource(loaded));
        const DWORD size = SizeofResource(module, found);
        return data ? Octets(data, data + size) : Octets();
    }

    // (width, height, colours, bits per pixel) of each image of an icon.
    std::vector<std::string> IconImages(int id)
    {
        const Octets group = Resource(MAKEINTRESOURCEA(14), id); // RT_GROUP_ICON
        std::vector<std::string> images;
        if (group.size() < 6)
            return images;
        const size_t count = size_t(group[4] | group[5] << 8);
        for (size_t i = 0; i < count && 6 + 14 * (i + 1) <= group.size(); ++i) {
            const uint8_t* entry = &group[6 + 14 * i];
            char line[64];
            std::snprintf(line, sizeof line, "%dx%d %d colours %d bits", entry[0] ? entry[0] : 256,
                          entry[1] ? entry[1] : 256, entry[2], entry[6] | entry[7] << 8);
            images.push_back(line);
        }
        return images;
    }

    HMODULE module = nullptr;
};

TEST_F(KorvaneResources, MenuHasFileExitAndHelpAboutDebug)
{
    HMENU menu = LoadMenuA(module, MAKEINTRESOURCEA(109));
    ASSERT_NE(menu, nullptr);
    char text[64] = {};
    EXPECT_EQ(GetMenuItemCount(menu), 2);
    GetMenuStringA(menu, 0, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "&File");
    GetMenuStringA(menu, 1, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "&Help");

    HMENU file = GetSubMenu(menu, 0);
    HMENU help = GetSubMenu(menu, 1);
    ASSERT_NE(file, nullptr);
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(GetMenuItemCount(file), 1);
    EXPECT_EQ(GetMenuItemID(file, 0), kMenuExit);
    GetMenuStringA(file, 0, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "E&xit");
    EXPECT_EQ(GetMenuItemCount(help), 2);
    EXPECT_EQ(GetMenuItemID(help, 0), kMenuAbout);
    GetMenuStringA(help, 0, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "&About ...");
    EXPECT_EQ(GetMenuItemID(help, 1), kMenuDebug);
    GetMenuStringA(help, 1, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "Debug");
    EXPECT_EQ(GetMenuState(help, kMenuDebug, MF_BYCOMMAND) & MF_CHECKED, 0u);
    DestroyMenu(menu);
}

TEST_F(KorvaneResources, ClassNameIsString109)
{
    char text[100] = {};
    EXPECT_EQ(LoadStringA(module, 109, text, sizeof text), 7);
    EXPECT_STREQ(text, "Korvane");
}

TEST_F(KorvaneResources, AltQuestionMarkAndAltSlashGiveAbout)
{
    HACCEL table = LoadAcceleratorsA(module, MAKEINTRESOURCEA(109));
    ASSERT_NE(table, nullptr);
    ACCEL entries[8] = {};
    const int count = CopyAcceleratorTableA(table, entries, 8);
    ASSERT_EQ(count, 2);
    std::vector<std::string> keys;
    for (int i = 0; i < count; ++i) {
        // A character (not a virtual key) with Alt held, giving About.
        EXPECT_EQ(entries[i].fVirt & ~FNOINVERT, FALT) << i;
        EXPECT_EQ(entries[i].cmd, kMenuAbout) << i;
        keys.push_back(std::string(1, char(entries[i].key)));
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"?", "/"}));
    DestroyAcceleratorTable(table);
}

TEST_F(KorvaneResources, IconsHaveTheirSizesInSixteenColours)
{
    EXPECT_EQ(IconImages(107),
              (std::vector<std::string>{"32x32 16 colours 4 bits", "16x16 16 colours 4 bits"}));
    EXPECT_EQ(IconImages(108), std::vector<std::string>{"16x16 16 colours 4 bits"});
}

TEST_F(KorvaneResources, AboutDialogLayout)
{
    const Octets octets = Resource(MAKEINTRESOURCEA(5), 103); // RT_DIALOG
    ASSERT_GE(octets.size(), 18u);
    TemplateReader reader(octets);
    const uint32_t style = reader.Dword();
    ASSERT_NE(style, 0xFFFF0001u) << "an extended dialog template";
    reader.Dword(); // extended style
    const uint16_t count = reader.Word();
    const int16_t x = reader.Short(), y = reader.Short(), cx = reader.Short(), cy = reader.Short();
    const uint32_t wanted = DS_MODALFRAME | WS_CAPTION | WS_SYSMENU | DS_SETFONT;
    EXPECT_EQ(style & wanted, wanted) << std::hex << style;
    EXPECT_EQ(x, 22);
    EXPECT_EQ(y, 17);
    EXPECT_EQ(cx, 230);
    EXPECT_EQ(cy, 37);
    EXPECT_EQ(reader.TextOrOrdinal(), ""); // no menu
    EXPECT_EQ(reader.TextOrOrdinal(), ""); // the dialog class
    EXPECT_EQ(reader.Text(), "About");
    EXPECT_EQ(reader.Word(), 8);
    EXPECT_EQ(reader.Text(), "System");

    std::vector<DialogItem> items;
    for (uint16_t i = 0; i < count && reader.Ok(); ++i) {
        reader.AlignDword();
        DialogItem item;
        item.style = reader.Dword();
        reader.Dword();
        item.x = reader.Short();
        item.y = reader.Short();
        item.cx = reader.Short();
        item.cy = reader.Short();
        item.id = reader.Word();
        item.className = PredefinedClass(reader.TextOrOrdinal());
        item.text = reader.TextOrOrdinal();
        reader.Skip(reader.Word());
        items.push_back(item);
    }
    ASSERT_TRUE(reader.Ok());
    ASSERT_EQ(items.size(), 4u);

    EXPECT_EQ(items[0].className, "#130"); // static
    EXPECT_EQ(items[0].style & SS_TYPEMASK, UINT(SS_ICON));
    EXPECT_EQ(items[0].text, "#107");
    EXPECT_EQ(items[0].id, 2);
    EXPECT_EQ((std::vector<int>{items[0].x, items[0].y, items[0].cx, items[0].cy}),
              (std::vector<int>{14, 9, 20, 20}));

    EXPECT_EQ(items[1].className, "#130");
    EXPECT_EQ(items[1].style & SS_TYPEMASK, UINT(SS_LEFT));
    EXPECT_NE(items[1].style & SS_NOPREFIX, 0u);
    EXPECT_EQ(items[1].text, "Korvane Version 1.15");
    EXPECT_EQ((std::vector<int>{items[1].x, items[1].y, items[1].cx, items[1].cy}),
              (std::vector<int>{49, 10, 119, 8}));

    EXPECT_EQ(items[2].className, "#130");
    EXPECT_FALSE(items[2].text.empty());
    EXPECT_EQ((std::vector<int>{items[2].x, items[2].y, items[2].cx, items[2].cy}),
              (std::vector<int>{49, 20, 119, 8}));

    EXPECT_EQ(items[3].className, "#128"); // button
    EXPECT_EQ(items[3].style & BS_TYPEMASK, UINT(BS_DEFPUSHBUTTON));
    EXPECT_EQ(items[3].text, "OK");
    EXPECT_EQ(items[3].id, IDOK);
    EXPECT_EQ((std::vector<int>{items[3].x, items[3].y, items[3].cx, items[3].cy}),
              (std::vector<int>{195, 6, 30, 11}));
}

TEST(KorvaneVersion, VersionBlockIsUkEnglishUnicode)
{
    // version.dll is looked up at run time; the tests link nothing extra.
    HMODULE version = LoadLibraryA("version.dll");
    ASSERT_NE(version, nullptr);
    using SizeFn = DWORD(WINAPI*)(LPCSTR, LPDWORD);
    using InfoFn = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
    using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);
    auto infoSize = reinterpret_cast<SizeFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(version, "GetFileVersionInfoSizeA")));
    auto info = reinterpret_cast<InfoFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(version, "GetFileVersionInfoA")));
    auto query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(version, "VerQueryValueA")));
    ASSERT_TRUE(infoSize && info && query);

    const std::string path = KorvaneExePath();
    DWORD ignored = 0;
    const DWORD size = infoSize(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<uint8_t> block(size);
    ASSERT_TRUE(info(path.c_str(), 0, size, block.data()));

    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(query(block.data(), "\\", &value, &length));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x0000000Fu);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x0000000Fu);

    ASSERT_TRUE(query(block.data(), "\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(static_cast<const WORD*>(value)[0], 0x0809);
    EXPECT_EQ(static_cast<const WORD*>(value)[1], 1200);

    for (const char* name : {"FileDescription", "InternalName", "ProductName"}) {
        const std::string key = std::string("\\StringFileInfo\\080904b0\\") + name;
        ASSERT_TRUE(query(block.data(), key.c_str(), &value, &length)) << name;
        EXPECT_STREQ(static_cast<const char*>(value), "Korvane") << name;
    }
    // The strings carry the one project version, the numbers above its parts.
    for (const char* name : {"FileVersion", "ProductVersion"}) {
        const std::string key = std::string("\\StringFileInfo\\080904b0\\") + name;
        ASSERT_TRUE(query(block.data(), key.c_str(), &value, &length)) << name;
        EXPECT_STREQ(static_cast<const char*>(value), KORVANE_VERSION) << name;
    }
    EXPECT_EQ(fixed->dwFileVersionMS, DWORD(KORVANE_VERSION_MAJOR << 16 | KORVANE_VERSION_MINOR));
    EXPECT_EQ(fixed->dwFileVersionLS, DWORD(KORVANE_VERSION_PATCH << 16 | KORVANE_VERSION_TWEAK));
    FreeLibrary(version);
}

} // namespace
} // namespace testing_support::korvane_exe
