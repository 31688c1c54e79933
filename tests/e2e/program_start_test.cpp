// Any application starts as it would from its own folder: launchers packed with each family of
// the start's options around the demo application (which reports its command line, current
// folder and elevation), around a big folder with the progress window, and around Wine's own
// notepad.exe, a program nobody here wrote.
#include <cstdio>
#include <vector>

#include "tests/e2e/e2e_fixture.h"
// After windows.h, which it needs.
#include <shellapi.h>

namespace {

constexpr wchar_t kPacked[] = L"packed_start.exe";
constexpr DWORD kWindowTimeoutMs = 20000;

// The arguments as the program's own parsing reads them (CommandLineToArgvW).
std::vector<std::wstring> Arguments(const std::wstring& commandLine) {
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(commandLine.c_str(), &count);
    std::vector<std::wstring> arguments(words, words + count);
    LocalFree(words);
    return arguments;
}

class ProgramStart : public LauncherRun {
  protected:
    void SetUp() override {
        LauncherRun::SetUp();
        source_ = root_ + L"source app";
        MakeFolders(source_);
        for (const wchar_t* name : {L"zandro.exe", L"zandrolib.dll"}) {
            ASSERT_TRUE(CopyFileW((DriverFolder() + name).c_str(), (source_ + L"\\" + name).c_str(),
                                  FALSE));
        }
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"ZANDRO_WINDOW_TITLE", nullptr);
        LauncherRun::TearDown();
        DeleteFileW((DriverFolder() + kPacked).c_str());
    }

    // Packs the source folder with `options` into kPacked.
    void PackWith(const std::wstring& options) {
        ASSERT_EQ(Pack(options + L" \"" + DriverFolder() + L"launcher.exe\" \"" + source_ +
                       L"\" \"" + DriverFolder() + kPacked + L"\""),
                  0u)
            << Utf8(options);
    }

    std::wstring source_;
};

// One packed launcher per family of options, each started as a user starts it, with arguments
// of its own where they matter.
TEST_F(ProgramStart, EachOptionReachesTheProgramAsMeant) {
    struct Case {
        const char* what;
        const wchar_t* options;
        const wchar_t* launcherArguments;
        std::vector<std::wstring> arguments;  // after the program's path
        bool ownFolder;                       // started in the application's folder
    };
    const Case cases[] = {
        // The user's name has a blank (the fixture's TEMP has one): two arguments, no more.
        {"defaults", L"", L"file.txt", {L""}, false},
        {"arguments",
         L"--arguments \"--open \\\"a b\\\" C:\\x\"",
         L"",
         {L"--open", L"a b", L"C:\\x"},
         false},
        {"forwarded",
         L"--arguments \"\" --forward-arguments",
         L"file.txt \"two words.txt\" \"say \\\"hi\\\"\" C:\\dir\\",
         {L"file.txt", L"two words.txt", L"say \"hi\"", L"C:\\dir\\"},
         false},
        {"forwarded after arguments",
         L"--arguments /open --forward-arguments",
         L"\"a b\"",
         {L"/open", L"a b"},
         false},
        {"working folder", L"--working-folder application", L"", {L""}, true},
        {"as invoker", L"--execution-level asInvoker", L"", {L""}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PackWith(c.options);
        DeleteFileW(report_.c_str());
        Report report = RunUntilReport(kPacked, c.launcherArguments);
        const std::vector<std::wstring> arguments = Arguments(report["commandline"]);
        ASSERT_FALSE(arguments.empty());
        EXPECT_EQ(arguments[0], folderText_ + L"\\zandro.exe");
        EXPECT_EQ(std::vector<std::wstring>(arguments.begin() + 1, arguments.end()), c.arguments);
        EXPECT_EQ(report["directory"], c.ownFolder ? folder_ : workDir_);
        // Wine starts every process elevated (Windows starts an asInvoker launcher of a standard
        // user without): shown, not judged.
        std::printf("%s: elevated=%s\n", c.what, Utf8(report["elevated"]).c_str());
        CloseApplicationWindows();
    }
    // The manifest as Windows reads it.
    HMODULE module = LoadLibraryExW((DriverFolder() + kPacked).c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr);
    HRSRC manifest = FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(manifest, nullptr);
    const std::string text(static_cast<const char*>(LockResource(LoadResource(module, manifest))),
                           SizeofResource(module, manifest));
    EXPECT_NE(text.find("level=\"asInvoker\""), std::string::npos) << text;
    EXPECT_NE(text.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    FreeLibrary(module);
}

// An application whose title changes with its document is found by its class alone, and the
// boxes take the program's name as their caption.
TEST_F(ProgramStart, AWindowWhoseTitleChangedIsFoundByItsClass) {
    PackWith(L"--window-title \"\" --texts en");
    ASSERT_TRUE(SetEnvironmentVariableW(L"ZANDRO_WINDOW_TITLE", L"file.txt - Kelmora"));
    RunUntilReport(kPacked);
    ASSERT_NE(FindWindowW(L"vornix", L"file.txt - Kelmora"), nullptr);
    const BoxContents box = RunUntilBox(kPacked);
    EXPECT_EQ(box.text, L"The application is already running.");
    EXPECT_EQ(box.caption, L"zandro");
    EXPECT_EQ(box.icon, BoxIcon::Exclamation);
    CloseApplicationWindows(L"vornix", L"file.txt - Kelmora");
}

// A folder that takes a while to unpack: the window shows up, is saved for a person to look at,
// and is gone once the program has started.
TEST_F(ProgramStart, ALongUnpackingShowsItsProgress) {
    MakeFolders(source_ + L"\\many");
    for (int i = 0; i < 3000; ++i) {
        MakeFile(source_ + L"\\many\\" + std::to_wstring(i) + L".txt", std::string(1000, 'x'));
    }
    PackWith(L"--progress --level 0 --caption \"Kelmora is starting\"");
    LaunchedProcess run = StartProcess(kPacked, L"", workDir_);
    HWND window = nullptr;
    const DWORD start = GetTickCount();
    while (window == nullptr && GetTickCount() - start < kWindowTimeoutMs &&
           WaitForSingleObject(run.process, 0) == WAIT_TIMEOUT) {
        window = VisibleWindowOf(run.id, nullptr);
        PumpMessages();
        Sleep(20);
    }
    ASSERT_NE(window, nullptr) << "no progress window appeared";
    Sleep(300);  // the bar moves on meanwhile
    const std::wstring image = DriverFolder() + L"progress window.bmp";
    EXPECT_TRUE(SaveWindowImage(window, image));
    std::printf("progress window image: %s\n", Utf8(image).c_str());
    wchar_t title[64] = {};
    GetWindowTextW(window, title, 64);
    EXPECT_EQ(std::wstring(title), L"") << "a window lookup by title could take it";
    EXPECT_EQ(WaitForExit(run, kWindowTimeoutMs), 0u);
    EXPECT_FALSE(IsWindow(window)) << "the window outlived the launcher";
    EXPECT_TRUE(WaitForFile(report_, kWindowTimeoutMs));
    EXPECT_TRUE(PathExists(folder_ + L"\\many\\2999.txt"));
}

// Wine's own notepad.exe, packed as the table has it: it starts without asking about a
// file, and a second start finds it by its class whatever its title.
TEST_F(ProgramStart, NotepadStartsWithoutAskingAboutAFile) {
    wchar_t system[MAX_PATH] = {};
    ASSERT_NE(GetSystemDirectoryW(system, MAX_PATH), 0u);
    const std::wstring notepad = std::wstring(system) + L"\\notepad.exe";
    if (!PathExists(notepad)) GTEST_SKIP() << "no notepad.exe in " << Utf8(system);
    source_ = root_ + L"NoteBox source";
    MakeFolders(source_);
    ASSERT_TRUE(CopyFileW(notepad.c_str(), (source_ + L"\\notepad.exe").c_str(), FALSE));
    CloseApplicationWindows(L"Notepad", nullptr);
    ASSERT_EQ(Pack(L"--main-program notepad.exe --folder-name NoteBox --window-class Notepad "
                   L"--window-title \"\" --arguments \"\" --texts en \"" +
                   DriverFolder() + L"launcher.exe\" \"" + source_ + L"\" \"" + DriverFolder() +
                   kPacked + L"\""),
              0u);
    LaunchedProcess run = StartProcess(kPacked, L"", workDir_);
    EXPECT_EQ(WaitForExit(run, kWindowTimeoutMs), 0u);
    HWND window = nullptr;
    for (DWORD start = GetTickCount(); window == nullptr && GetTickCount() - start < 10000;) {
        window = VisibleWindowOf(0, L"Notepad");
        PumpMessages();
        Sleep(50);
    }
    ASSERT_NE(window, nullptr) << "notepad did not start";
    DWORD notepadId = 0;
    GetWindowThreadProcessId(window, &notepadId);
    Sleep(1500);  // a question about a file would be up by now
    EXPECT_EQ(VisibleWindowOf(notepadId, L"#32770"), nullptr) << "notepad asks something";
    wchar_t title[256] = {};
    GetWindowTextW(window, title, 256);
    std::printf("notepad's title: %s\n", Utf8(title).c_str());
    EXPECT_EQ(std::wstring(title).find(L".txt"), std::wstring::npos);

    const BoxContents box = RunUntilBox(kPacked);
    EXPECT_EQ(box.text, L"The application is already running.");
    EXPECT_EQ(box.caption, L"notepad");
    CloseApplicationWindows(L"Notepad", nullptr);
}

}  // namespace
