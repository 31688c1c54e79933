// launcher-pack.exe under Wine: it packs a folder into the product's launcher.exe with a new
// icon and version record, Windows reads those back, and the packed launcher, started as a
// user starts it, unpacks exactly that folder and starts its zandro.exe. Applications packed
// with names and texts of their own run side by side.
#include <vector>

#include "tests/e2e/e2e_fixture.h"
#include "tests/packer/packer_test_support.h"
// After windows.h, which it needs.
#include <shellapi.h>

namespace {

constexpr wchar_t kPacked[] = L"packed_app.exe";
constexpr DWORD kKeptBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                            FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_DIRECTORY;

struct SourceFile {
    const wchar_t* name;
    std::string content;
    DWORD attributes;
};

// Times to the second, which is what a zip archive holds: the copied program's and library's
// own times have fractions, the times set below have none.
bool SameSecond(const FILETIME& a, const FILETIME& b) {
    const auto seconds = [](const FILETIME& t) {
        return ((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000000;
    };
    return seconds(a) == seconds(b);
}

void SetTimes(const std::wstring& path, const FILETIME& creation, const FILETIME& access,
              const FILETIME& write) {
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(SetFileTime(file, &creation, &access, &write));
    CloseHandle(file);
}

// A file for a started process's standard output and error, which it inherits.
HANDLE OutputFile(const std::wstring& path) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// What a process wrote to such a file so far.
std::string WrittenSoFar(const std::wstring& path) {
    std::string content;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return content;
    char block[4096];
    DWORD got = 0;
    while (ReadFile(file, block, sizeof block, &got, nullptr) && got > 0)
        content.append(block, got);
    CloseHandle(file);
    return content;
}

class PackedLauncher : public LauncherRun {
  protected:
    void SetUp() override {
        LauncherRun::SetUp();
        source_ = root_ + L"source app";
        output_ = DriverFolder() + kPacked;
        DeleteFileW(output_.c_str());
    }
    void TearDown() override {
        LauncherRun::TearDown();
        SetFileAttributesW(output_.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(output_.c_str());
    }

    // The folder to pack: the demo application and files of every kind, with known times.
    void MakeSource(const std::vector<SourceFile>& extra) {
        MakeFolders(source_ + L"\\data\\levels");
        MakeFolders(source_ + L"\\plugins");
        for (const wchar_t* name : {L"zandro.exe", L"zandrolib.dll"}) {
            ASSERT_TRUE(CopyFileW((DriverFolder() + name).c_str(), (source_ + L"\\" + name).c_str(),
                                  FALSE));
        }
        std::string noise(70000, '\0');
        for (size_t i = 0; i < noise.size(); ++i)
            noise[i] = static_cast<char>((i * 2654435761u) >> 13);
        std::vector<SourceFile> files = {
            {L"readme.txt", std::string(5000, 'r'), FILE_ATTRIBUTE_ARCHIVE},
            {L"data\\levels\\one.bin", noise, FILE_ATTRIBUTE_NORMAL},
            {L"readonly.txt", "read only", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE},
            {L"hidden.txt", "hidden", FILE_ATTRIBUTE_HIDDEN},
            {L"system.dat", "system", FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE},
        };
        files.insert(files.end(), extra.begin(), extra.end());
        WORD second = 1;
        for (const SourceFile& file : files) {
            const std::wstring path = source_ + L"\\" + file.name;
            MakeFile(path, file.content);
            // Odd seconds: the DOS fields alone could not carry them.
            SetTimes(path, UtcFileTime(2019, 3, 4, 5, 6, second),
                     UtcFileTime(2020, 7, 8, 9, 10, second),
                     UtcFileTime(2021, 11, 12, 13, 14, second));
            ASSERT_TRUE(SetFileAttributesW(path.c_str(), file.attributes));
            second += 2;
        }
        expected_ = ListTree(source_);
        // The system keeps the times set here, so the comparison below means something. Wine
        // keeps no creation time (it reports when the Unix file was made), so that one is not
        // compared: the packer's tests show that the archive carries it.
        const TreeEntry& readme = expected_[L"readme.txt"];
        EXPECT_TRUE(SameSecond(readme.accessTime, UtcFileTime(2020, 7, 8, 9, 10, 1)));
        EXPECT_TRUE(SameSecond(readme.writeTime, UtcFileTime(2021, 11, 12, 13, 14, 1)));
    }

    // The packed launcher's tree against the source's as it was listed before packing: the
    // same names, sizes, bytes, attribute bits and times.
    void ExpectUnpackedAsTheSource() {
        std::map<std::wstring, TreeEntry> unpacked = ListTree(folder_);
        std::vector<std::wstring> names;
        std::vector<std::wstring> expectedNames;
        for (const auto& entry : unpacked) names.push_back(entry.first);
        for (const auto& entry : expected_) expectedNames.push_back(entry.first);
        EXPECT_EQ(names, expectedNames);
        for (const auto& entry : expected_) {
            const std::wstring& name = entry.first;
            SCOPED_TRACE(Utf8(name));
            const TreeEntry& want = entry.second;
            const TreeEntry& got = unpacked[name];
            EXPECT_EQ(got.attributes & kKeptBits, want.attributes & kKeptBits);
            if (name.back() == L'\\') continue;  // the launcher gives folders no times
            EXPECT_EQ(got.size, want.size);
            EXPECT_TRUE(SameSecond(got.writeTime, want.writeTime));
            // Starting the application reads its program and library.
            if (name != L"zandro.exe" && name != L"zandrolib.dll") {
                EXPECT_TRUE(SameSecond(got.accessTime, want.accessTime));
            }
            EXPECT_TRUE(ReadFileBytes(folder_ + L"\\" + name) ==
                        ReadFileBytes(source_ + L"\\" + name));
        }
    }

    std::wstring source_;
    std::wstring output_;
    std::map<std::wstring, TreeEntry> expected_;
};

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR list) {
    reinterpret_cast<std::vector<WORD>*>(list)->push_back(
        static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name)));
    return TRUE;
}

std::wstring VersionText(const std::string& block, const wchar_t* key) {
    wchar_t* value = nullptr;
    UINT size = 0;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\080404b0\\") + key;
    if (!VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &size))
        return L"<none>";
    return value;
}

TEST_F(PackedLauncher, UnpacksExactlyThePackedFolderWithTheNewIconAndVersion) {
    MakeSource({});
    const std::wstring icon =
        L"\"" + std::wstring(L"" TEST_DATA_DIR) + L"/packer/icon_two_sizes.ico\"";
    ASSERT_EQ(
        Pack(
            L"--icon " + icon +
            L" --version 4.3.2.1 --product-name \"Acme Viewer\" "
            L"--description \"Views things\" --company \"Acme & Co\" --copyright \"(c) 2024 Acme\" "
            L"\"" +
            DriverFolder() + L"launcher.exe\" \"" + source_ + L"\" \"" + output_ + L"\""),
        0u);

    // The icon and version record as Windows reads them.
    HMODULE module = LoadLibraryExW(output_.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr);
    EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(117), L"zip"), nullptr);
    std::vector<WORD> icons;
    EnumResourceNamesW(module, RT_ICON, CollectName, reinterpret_cast<LONG_PTR>(&icons));
    EXPECT_EQ(icons, (std::vector<WORD>{1, 2}));  // the two images of the .ico, the old two gone
    HICON large =
        static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(1), IMAGE_ICON, 48, 48, 0));
    ASSERT_NE(large, nullptr);
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(large, &info));
    BITMAP bitmap = {};
    GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
    EXPECT_EQ(bitmap.bmWidth, 48);
    HDC screen = GetDC(nullptr);
    BITMAPINFO format = {};
    format.bmiHeader = {sizeof(BITMAPINFOHEADER), 48, 48, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<DWORD> pixels(48 * 48);
    GetDIBits(screen, info.hbmColor, 0, 48, pixels.data(), &format, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(pixels[24 * 48 + 24] & 0xFFFFFF, 0x00A000u);  // the .ico's green 48x48 image
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(large);
    HICON shellIcon = nullptr;
    EXPECT_EQ(ExtractIconExW(output_.c_str(), 0, &shellIcon, nullptr, 1), 1u);
    if (shellIcon != nullptr) DestroyIcon(shellIcon);
    FreeLibrary(module);

    DWORD ignored = 0;
    std::string block(GetFileVersionInfoSizeW(output_.c_str(), &ignored), '\0');
    ASSERT_FALSE(block.empty());
    ASSERT_TRUE(
        GetFileVersionInfoW(output_.c_str(), 0, static_cast<DWORD>(block.size()), &block[0]));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00040003u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00020001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00040003u);
    EXPECT_EQ(VersionText(block, L"ProductName"), L"Acme Viewer");
    EXPECT_EQ(VersionText(block, L"FileDescription"), L"Views things");
    EXPECT_EQ(VersionText(block, L"CompanyName"), L"Acme & Co");
    EXPECT_EQ(VersionText(block, L"LegalCopyright"), L"(c) 2024 Acme");
    EXPECT_EQ(VersionText(block, L"FileVersion"), L"4.3.2.1");
    EXPECT_EQ(VersionText(block, L"InternalName"), L"packed_app");
    EXPECT_EQ(VersionText(block, L"OriginalFilename"), L"packed_app.exe");
    DWORD* translation = nullptr;
    UINT translationSize = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &translationSize));
    EXPECT_EQ(*translation, 0x04B00804u);

    // Started as a user starts it.
    Report report = RunUntilReport(kPacked);
    EXPECT_EQ(report["commandline"], commandLine_);
    ExpectUnpackedAsTheSource();
}

TEST_F(PackedLauncher, NamesInAnyScriptUnpackUnchanged) {
    MakeFolders(source_ + L"\\\u8bf4\u660e");
    MakeSource({{L"caf\u00e9.dll", "latin", FILE_ATTRIBUTE_ARCHIVE},
                {L"\u8bf4\u660e\\\u8bf4\u660e.txt", "chinese", FILE_ATTRIBUTE_ARCHIVE}});
    ASSERT_EQ(
        Pack(L"\"" + DriverFolder() + L"launcher.exe\" \"" + source_ + L"\" \"" + output_ + L"\""),
        0u);
    RunUntilReport(kPacked);
    ExpectUnpackedAsTheSource();
}

// Two applications, each packed with a main program, folder, window and English texts of its
// own: each runs from its own folder, and each launcher finds only its own application's window.
TEST_F(PackedLauncher, ApplicationsWithNamesOfTheirOwnRunSideBySide) {
    struct App {
        const wchar_t* program;
        const wchar_t* folder;
        const wchar_t* windowClass;
        const wchar_t* title;
        const wchar_t* launcher;
    };
    const App apps[] = {
        {L"AppOne.exe", L"App One Files", L"AppOneWindow", L"App One", L"packed_one.exe"},
        {L"AppTwo.exe", L"AppTwo", L"AppTwoWindow", L"App Two", L"packed_two.exe"},
    };
    // The applications and their settings go, however the test ends.
    struct Cleanup {
        const App* apps;
        ~Cleanup() {
            SetEnvironmentVariableW(L"ZANDRO_WINDOW_CLASS", nullptr);
            SetEnvironmentVariableW(L"ZANDRO_WINDOW_TITLE", nullptr);
            for (int i = 0; i < 2; ++i) {
                CloseApplicationWindows(apps[i].windowClass, apps[i].title);
                DeleteFileW((DriverFolder() + apps[i].launcher).c_str());
            }
        }
    } cleanup{apps};
    for (const App& app : apps) {
        const std::wstring source = root_ + L"source " + app.program;
        MakeFolders(source);
        ASSERT_TRUE(CopyFileW((DriverFolder() + L"zandro.exe").c_str(),
                              (source + L"\\" + app.program).c_str(), FALSE));
        ASSERT_TRUE(CopyFileW((DriverFolder() + L"zandrolib.dll").c_str(),
                              (source + L"\\zandrolib.dll").c_str(), FALSE));
        ASSERT_EQ(
            Pack(std::wstring(L"--main-program ") + app.program + L" --folder-name \"" +
                 app.folder + L"\" --window-class " + app.windowClass + L" --window-title \"" +
                 app.title + L"\" --texts en \"" + DriverFolder() + L"launcher.exe\" \"" + source +
                 L"\" \"" + DriverFolder() + app.launcher + L"\""),
            0u);
    }
    // Each started with the window its own program would have.
    for (const App& app : apps) {
        SCOPED_TRACE(Utf8(app.program));
        ASSERT_TRUE(SetEnvironmentVariableW(L"ZANDRO_WINDOW_CLASS", app.windowClass));
        ASSERT_TRUE(SetEnvironmentVariableW(L"ZANDRO_WINDOW_TITLE", app.title));
        report_ = root_ + app.program + L".report.txt";
        ASSERT_TRUE(SetEnvironmentVariableW(L"ZANDRO_REPORT", report_.c_str()));
        Report report = RunUntilReport(app.launcher);
        // Another main program gets no arguments of its own.
        EXPECT_EQ(report["commandline"],
                  L"\"" + tempPath_ + L"\\" + app.folder + L"\\" + app.program + L"\"");
        EXPECT_EQ(report["path"], tempPath_ + L"\\" + app.folder + L";" + path_);
    }
    for (const App& app : apps) {
        EXPECT_NE(FindWindowW(app.windowClass, app.title), nullptr);
        EXPECT_TRUE(PathExists(tempPath_ + app.folder + L"\\" + app.program));
    }
    EXPECT_FALSE(PathExists(folder_)) << "the default folder was made";

    // Started again, each launcher finds its own application open and says so in English.
    for (const App& app : apps) {
        SCOPED_TRACE(Utf8(app.program));
        const BoxContents box =
            RunUntilBox(app.launcher, L"", DriverFolder() + L"box " + app.program + L".bmp");
        EXPECT_EQ(box.text, L"The application is already running.");
        EXPECT_EQ(box.caption, app.title);
        EXPECT_EQ(box.icon, BoxIcon::Exclamation);
    }
}

// --list-windows finds a window that this test shows, with its class, its title (outside ASCII
// too) and the program that owns it, in the form of the options that find it.
TEST_F(PackedLauncher, ListWindowsShowsAWindowWithItsClassTitleAndProgram) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"PackListProbe";
    ASSERT_NE(RegisterClassW(&windowClass), 0);
    HWND window =
        CreateWindowW(L"PackListProbe", L"Probe \u00e9t\u00e9 \u8bf4\u660e", WS_OVERLAPPEDWINDOW,
                      10, 10, 200, 100, nullptr, nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    ShowWindow(window, SW_SHOWNOACTIVATE);
    const std::wstring listing = root_ + L"windows.txt";
    HANDLE output = OutputFile(listing);
    LaunchedProcess run = StartProcess(kPacker, L"--list-windows", workDir_, 0, output);
    CloseHandle(output);
    EXPECT_EQ(WaitForExit(run, kPackTimeoutMs), 0u);
    DestroyWindow(window);
    UnregisterClassW(L"PackListProbe", windowClass.hInstance);
    const std::string text = WrittenSoFar(listing);
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::string expected = Utf8(self) +
                                 "\n  --window-class \"PackListProbe\" --window-title \"Probe "
                                 "\u00e9t\u00e9 \u8bf4\u660e\"\n";
    EXPECT_NE(text.find(expected), std::string::npos) << text;
}

// Ctrl-C while the packer zips, sent as a console sends it: it removes its file beside OUTPUT,
// leaves OUTPUT as it was and ends with the status of Ctrl-C. Wine delivers Ctrl-C this way, but
// neither Ctrl-Break (GenerateConsoleCtrlEvent fails with error 6) nor closing the console.
TEST_F(PackedLauncher, CtrlCLeavesNothingBehind) {
    MakeFolders(source_);
    MakeFile(source_ + L"\\zandro.exe", "MZ main");
    uint32_t seed = 12345;
    for (const wchar_t* name : {L"\\one.bin", L"\\two.bin", L"\\three.bin"}) {
        std::string noise(16 << 20, '\0');  // incompressible: deflated, then stored again
        for (char& c : noise) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 23);
        MakeFile(source_ + name, noise);
    }
    MakeFile(output_, "an earlier output");
    const std::wstring log = root_ + L"packer.txt";
    HANDLE output = OutputFile(log);
    // A console of its own, which this process joins to send the event.
    LaunchedProcess run = StartProcess(
        kPacker,
        L"\"" + DriverFolder() + L"launcher.exe\" \"" + source_ + L"\" \"" + output_ + L"\"",
        workDir_, CREATE_NEW_CONSOLE, output);
    CloseHandle(output);
    for (int i = 0; i < 600 && WrittenSoFar(log).find("Zipping the folder") == std::string::npos;
         ++i) {
        Sleep(50);
    }
    ASSERT_NE(WrittenSoFar(log).find("Zipping the folder"), std::string::npos) << WrittenSoFar(log);
    FreeConsole();
    ASSERT_TRUE(AttachConsole(run.id)) << GetLastError();
    SetConsoleCtrlHandler(nullptr, TRUE);  // this process ignores it
    EXPECT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
    const DWORD status = WaitForExit(run, kPackTimeoutMs);
    FreeConsole();
    SetConsoleCtrlHandler(nullptr, FALSE);
    EXPECT_EQ(status, static_cast<DWORD>(STATUS_CONTROL_C_EXIT)) << WrittenSoFar(log);
    EXPECT_NE(WrittenSoFar(log).find("launcher-pack: stopped"), std::string::npos);
    EXPECT_EQ(ReadFileBytes(output_), "an earlier output");
    EXPECT_FALSE(PathExists(output_ + L".part"));
}

}  // namespace
