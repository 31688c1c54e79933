// What the launcher executables carry: each its own payload under type "zip", id 117, the
// manifest, the icon, the version record and the string table of names and texts.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>

#include "launcher/launcher_settings.h"
#include "tests/e2e/e2e_files.h"
#include "tests/e2e/e2e_process.h"

namespace {

class LauncherImage : public ::testing::Test {
  protected:
    void Open(const std::wstring& name) {
        path_ = DriverFolder() + name;
        module_ = LoadLibraryExW(path_.c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module_, nullptr) << "error " << GetLastError();
    }
    void TearDown() override {
        if (module_ != nullptr) FreeLibrary(module_);
    }

    // The string `id` as Windows loads it from the string table, "(missing)" when it is not there.
    std::wstring String(UINT id) {
        const wchar_t* text = nullptr;
        const int length = LoadStringW(module_, id, reinterpret_cast<LPWSTR>(&text), 0);
        return length > 0 && text != nullptr ? std::wstring(text, length) : L"(missing)";
    }

    // The resource's bytes, empty when it is missing.
    std::string Resource(LPCWSTR type, LPCWSTR name) {
        HRSRC found = FindResourceW(module_, name, type);
        if (found == nullptr) return "";
        HGLOBAL loaded = LoadResource(module_, found);
        const char* bytes = static_cast<const char*>(LockResource(loaded));
        return bytes == nullptr ? "" : std::string(bytes, SizeofResource(module_, found));
    }

    std::wstring path_;
    HMODULE module_ = nullptr;
};

TEST_F(LauncherImage, EachLauncherCarriesItsOwnPayload) {
    for (const wchar_t* name :
         {L"launcher", L"launcher_app", L"launcher_nomain", L"launcher_notprogram",
          L"launcher_subfolders", L"launcher_escaping", L"launcher_names", L"launcher_branded",
          L"launcher_named"}) {
        SCOPED_TRACE(testing::Message() << name);
        Open(std::wstring(name) + L".exe");
        const std::string payload = ReadFileBytes(DriverFolder() + L"payloads\\" + name + L".zip");
        ASSERT_FALSE(payload.empty());
        // The type is a string, looked up as the launcher looks it up.
        EXPECT_TRUE(Resource(L"zip", MAKEINTRESOURCEW(117)) == payload);
        FreeLibrary(module_);
        module_ = nullptr;
    }
}

// The product asks for administrator rights; the named launcher was built asking for none. Both
// keep the common controls.
TEST_F(LauncherImage, ManifestAsksForItsLevelAndCommonControls6) {
    for (const auto& launcher : {std::make_pair(L"launcher.exe", "requireAdministrator"),
                                 std::make_pair(L"launcher_named.exe", "asInvoker")}) {
        SCOPED_TRACE(testing::Message() << launcher.first);
        Open(launcher.first);
        const std::string manifest = Resource(RT_MANIFEST, MAKEINTRESOURCEW(1));
        for (const std::string& part :
             {"level=\"" + std::string(launcher.second) + "\"", std::string("uiAccess=\"false\""),
              std::string("name=\"Microsoft.Windows.Common-Controls\""),
              std::string("version=\"6.0.0.0\""),
              std::string("publicKeyToken=\"6595b64144ccf1df\""), std::string("language=\"*\"")}) {
            EXPECT_NE(manifest.find(part), std::string::npos) << part;
        }
        FreeLibrary(module_);
        module_ = nullptr;
    }
}

// The version record as Windows reads it: the fixed file version and the named strings of the
// Chinese (0x0804) UTF-16 table.
struct VersionRecord {
    DWORD versionMS = 0;
    DWORD versionLS = 0;
    std::map<std::wstring, std::wstring> strings;
};

VersionRecord ReadVersionRecord(const std::wstring& path) {
    VersionRecord record;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::string block(size, '\0');
    if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, &block[0])) return record;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (VerQueryValueW(&block[0], L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) &&
        fixed->dwSignature == 0xFEEF04BDu) {
        record.versionMS = fixed->dwFileVersionMS;
        record.versionLS = fixed->dwFileVersionLS;
    }
    for (const wchar_t* key :
         {L"CompanyName", L"FileDescription", L"FileVersion", L"InternalName", L"LegalCopyright",
          L"OriginalFilename", L"ProductName", L"ProductVersion"}) {
        wchar_t* text = nullptr;
        UINT length = 0;
        const std::wstring query = std::wstring(L"\\StringFileInfo\\080404b0\\") + key;
        if (VerQueryValueW(&block[0], query.c_str(), reinterpret_cast<void**>(&text), &length)) {
            record.strings[key] = text;
        }
    }
    return record;
}

// The width of the image that the system picks from icon group 1 for the given size.
int IconWidthFor(HMODULE module, int size) {
    HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(1), RT_GROUP_ICON);
    if (group == nullptr) return 0;
    auto* directory = static_cast<BYTE*>(LockResource(LoadResource(module, group)));
    const int id = LookupIconIdFromDirectoryEx(directory, TRUE, size, size, LR_DEFAULTCOLOR);
    HRSRC image = FindResourceW(module, MAKEINTRESOURCEW(id), RT_ICON);
    if (image == nullptr) return 0;
    return static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(module, image)))->biWidth;
}

TEST_F(LauncherImage, IconAndVersionRecord) {
    Open(L"launcher.exe");
    EXPECT_NE(LoadImageW(module_, MAKEINTRESOURCEW(1), IMAGE_ICON, 32, 32, 0), nullptr);
    EXPECT_EQ(IconWidthFor(module_, 32), 32);
    const VersionRecord record = ReadVersionRecord(path_);
    EXPECT_EQ(record.versionMS, 0x00010000u);
    EXPECT_EQ(record.strings.at(L"ProductName"), L"Kelmora");
}

// Built with another icon, version 2.05.65535.0 and texts with quotes, a backslash, a ";" and
// characters outside ASCII (tests/e2e/CMakeLists.txt).
TEST_F(LauncherImage, BrandingReachesIconAndVersionRecordAsGiven) {
    Open(L"launcher_branded.exe");
    EXPECT_EQ(IconWidthFor(module_, 48), 48);
    EXPECT_EQ(IconWidthFor(module_, 24), 24);
    const VersionRecord record = ReadVersionRecord(path_);
    EXPECT_EQ(record.versionMS, 0x00020005u);
    EXPECT_EQ(record.versionLS, 0xFFFF0000u);
    const std::map<std::wstring, std::wstring> expected{
        {L"CompanyName", L"Vendrel & S\u00F6hne"},
        {L"FileDescription", L"Starts C:\\Zorvex; nothing else"},
        {L"FileVersion", L"2.5.65535.0"},
        {L"InternalName", L"launcher"},
        {L"LegalCopyright", L"\u00A9 2024 Vendrel"},
        {L"OriginalFilename", L"launcher.exe"},
        {L"ProductName", L"Zorvex \"Pro\" \u542F\u52A8\u5668"},
        {L"ProductVersion", L"2.5.65535.0"}};
    EXPECT_EQ(record.strings, expected);
}

// The string table as Windows reads it: the list's defaults in the product, given values in the
// named launcher (tests/e2e/CMakeLists.txt), and nothing beside them.
TEST_F(LauncherImage, StringTablesHoldTheDefaultsOrTheGivenValues) {
    std::map<UINT, std::wstring> listed;
    for (const SettingField& field : kSettingFields) {
        listed[field.id] = reinterpret_cast<const wchar_t*>(field.defaultValue);
    }
    const std::map<UINT, std::wstring>& defaults = listed;
    EXPECT_EQ(defaults.at(LAUNCHER_STRING_TEXT_RUNNING), L"\u7A0B\u5E8F\u5DF2\u6253\u5F00!");
    EXPECT_EQ(defaults.size(), 13u);
    const std::map<UINT, std::wstring> named{
        {LAUNCHER_STRING_MAIN_PROGRAM, L"Zorvex.exe"},
        {LAUNCHER_STRING_FOLDER_NAME, L"Zorvex Data"},
        {LAUNCHER_STRING_WINDOW_CLASS, L"zorvex"},
        {LAUNCHER_STRING_WINDOW_TITLE, L"Zorvex"},
        {LAUNCHER_STRING_CAPTION, L"Zorvex \u542F\u52A8\u5668"},
        {LAUNCHER_STRING_ERROR_CAPTION, L"Zorvex: \"error\""},
        {LAUNCHER_STRING_TEXT_RUNNING, L"Zorvex l\u00E4uft schon!"},
        {LAUNCHER_STRING_TEXT_UNPACK_FAILED,
         L"Zorvex could not be unpacked.\nClose it and try again."},
        {LAUNCHER_STRING_TEXT_START_FAILED, L"Zorvex did not start (%d): C:\\Zorvex"},
        {LAUNCHER_STRING_ARGUMENTS, L"--open \"a b\""},
        {LAUNCHER_STRING_FORWARD_ARGUMENTS, L"on"},
        {LAUNCHER_STRING_WORKING_FOLDER, L"application"},
        {LAUNCHER_STRING_PROGRESS, L"on"}};
    for (const auto& launcher : {std::make_pair(L"launcher.exe", &defaults),
                                 std::make_pair(L"launcher_named.exe", &named)}) {
        SCOPED_TRACE(testing::Message() << launcher.first);
        Open(launcher.first);
        std::map<UINT, std::wstring> table;
        for (UINT id = 0; id < 16; ++id) {
            if (String(id) != L"(missing)") table[id] = String(id);
        }
        EXPECT_EQ(table, *launcher.second);
        FreeLibrary(module_);
        module_ = nullptr;
    }
}

}  // namespace
