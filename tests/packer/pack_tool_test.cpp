// The packing tool as a user runs it: a folder or a zip packed into a stub, unpacked again by
// the launcher's own driver, and every refusal with its reason, its status and no OUTPUT.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <string>
#include <vector>

#include "launcher/launcher.h"
#include "packer/pack_tool.h"
#include "packer/progress.h"
#include "packer/string_table.h"
#include "packer/text.h"
#include "platform/platform.h"
#include "tests/packer/packer_test_support.h"
#include "tests/support/platform_faults.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/zip_builder.h"

namespace {

void Capture(bool toError, const std::u16string& text, void* context) {
    auto* streams = static_cast<std::u16string*>(context);
    streams[toError ? 1 : 0] += text;
}

class PackTool : public ::testing::Test {
  protected:
    std::u16string Path(const std::u16string& relative) const {
        return scratch_.text() + u"/" + relative;
    }

    int Run(std::vector<std::u16string> args, bool terminal = false) {
        out_.clear();
        err_.clear();
        std::u16string streams[2];
        const int status = RunPackTool(args, PackConsole{Capture, streams, terminal});
        out_ = streams[0];
        err_ = streams[1];
        return status;
    }

    // A file with its content, attribute bits and times (written, accessed, created).
    void MakeFile(const std::u16string& relative, const std::string& content,
                  uint32_t attributes = kAttributeNormal, int64_t written = 1623753025) {
        const PlatformHandle file = PlatformCreateFile(Path(relative).c_str(), attributes);
        ASSERT_NE(file, kInvalidPlatformHandle) << Narrow(relative);
        ASSERT_TRUE(PlatformWriteFile(file, content.data(), static_cast<uint32_t>(content.size())));
        const FileTime write = AtUnixSeconds(written);
        const FileTime access = AtUnixSeconds(written + 3600);
        const FileTime creation = AtUnixSeconds(written - 3600);
        ASSERT_TRUE(PlatformSetFileTimes(file, &creation, &access, &write));
        PlatformCloseFile(file);
    }
    // Unpacks the payload through the launcher's driver into the new folder `name`; true when
    // every entry was written whole.
    bool UnpackInto(const std::u16string& name, const ByteBuffer& payload) {
        const PlatformHandle parent = PlatformOpenFolder(scratch_.text().c_str());
        const PlatformHandle held = PlatformCreateFreshFolder(parent, name.c_str());
        UnpackResult unpacked;
        const bool done = held != kInvalidPlatformHandle &&
                          UnpackArchive(held, Path(name), payload.data(),
                                        static_cast<uint32_t>(payload.size()), &unpacked) &&
                          unpacked.complete;
        if (held != kInvalidPlatformHandle) PlatformReleaseFolder(held);
        if (parent != kInvalidPlatformHandle) PlatformReleaseFolder(parent);
        return done;
    }
    void MakeFolder(const std::u16string& relative) {
        ASSERT_TRUE(PlatformCreateDirectory(Path(relative).c_str()));
    }

    void MakeApplication() {
        MakeFolder(u"app");
        MakeFile(u"app/zandro.exe", "the main program");
        MakeFile(u"app/readonly.txt", "read me", kAttributeReadOnly, 1000000001);
        MakeFolder(u"app/sub");
        MakeFolder(u"app/sub/empty");
        MakeFile(u"app/sub/compressible.txt", std::string(20000, 'c'), kAttributeNormal,
                 1300000000);
        MakeFile(u"app/sub/second.txt", "second");
    }

    ByteBuffer Payload(const std::u16string& output) {
        const ReadImage read = MustRead(ToBuffer(ReadFileBytes(fs::path(output))));
        const ResourceLeaf* payload = FindLeaf(read.tree, 0, 117);
        return payload == nullptr ? ByteBuffer{} : payload->data;
    }

    // Unpacks OUTPUT's payload through the launcher's driver and compares it with the source
    // folder: names, bytes, write times and attribute bits, and nothing more.
    void ExpectUnpacksAsTheSource(const std::u16string& output, const std::u16string& folder,
                                  size_t files, size_t everything) {
        const ByteBuffer payload = Payload(Path(output));
        ASSERT_TRUE(UnpackInto(u"unpacked", payload));
        const fs::path source = fs::path(Path(folder));
        const fs::path unpacked = scratch_.path() / "unpacked";
        size_t compared = 0;
        for (const auto& entry : fs::recursive_directory_iterator(source)) {
            const fs::path relative = fs::relative(entry.path(), source);
            SCOPED_TRACE(relative.u8string());
            const fs::path copy = unpacked / relative;
            ASSERT_TRUE(fs::exists(copy));
            EXPECT_EQ(fs::is_directory(copy), entry.is_directory());
            if (entry.is_directory()) continue;
            ++compared;
            EXPECT_EQ(ReadFileBytes(copy), ReadFileBytes(entry.path()));
            EXPECT_EQ(fs::last_write_time(copy), fs::last_write_time(entry.path()));
            constexpr uint32_t kKept =
                kAttributeReadOnly | kAttributeHidden | kAttributeSystem | kAttributeArchive;
            EXPECT_EQ(PlatformGetFileAttributes(copy.u16string().c_str()) & kKept,
                      PlatformGetFileAttributes(entry.path().u16string().c_str()) & kKept);
        }
        EXPECT_EQ(compared, files);
        size_t count = 0;
        for (auto it = fs::recursive_directory_iterator(unpacked);
             it != fs::recursive_directory_iterator(); ++it) {
            ++count;
        }
        EXPECT_EQ(count, everything);
    }

    ScratchFolder scratch_;
    const std::u16string stub_ = u"" TEST_DATA_DIR "/packer/stub_reloc_after.exe";
    std::u16string out_;
    std::u16string err_;
};

TEST_F(PackTool, PackedFolderUnpacksExactlyThroughTheLaunchersDriver) {
    MakeApplication();
    ASSERT_EQ(Run({stub_, Path(u"app"), Path(u"out.exe")}), kPackDone) << Narrow(err_);
    EXPECT_NE(out_.find(u"Zipping the folder"), std::u16string::npos);
    EXPECT_NE(out_.find(u"4 files, 2 folders"), std::u16string::npos) << Narrow(out_);
    EXPECT_TRUE(err_.empty()) << Narrow(err_);

    ASSERT_NE(PlatformGetFileAttributes(Path(u"app/readonly.txt").c_str()) & kAttributeReadOnly,
              0u);
    ExpectUnpacksAsTheSource(u"out.exe", u"app", 4, 6);
}

TEST_F(PackTool, NamesInAnyScriptUnpackUnchanged) {
    MakeFolder(u"app");
    MakeFile(u"app/zandro.exe", "main");
    MakeFile(u"app/caf\u00e9.dll", "latin");
    MakeFolder(u"app/\u8bf4\u660e");
    MakeFile(u"app/\u8bf4\u660e/\u8bf4\u660e.txt", "chinese");
    ASSERT_EQ(Run({stub_, Path(u"app"), Path(u"out.exe")}), kPackDone) << Narrow(err_);
    ExpectUnpacksAsTheSource(u"out.exe", u"app", 3, 4);
}

TEST_F(PackTool, OutputInsideTheSourceIsNotPackedIntoItself) {
    MakeApplication();
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(Run({stub_, Path(u"app"), Path(u"app/Packed.exe")}), kPackDone) << Narrow(err_);
    }
    EXPECT_NE(out_.find(u"which is OUTPUT itself"), std::u16string::npos) << Narrow(out_);
    const ByteBuffer payload = Payload(Path(u"app/Packed.exe"));
    EXPECT_EQ(
        std::search(payload.begin(), payload.end(), std::begin("Packed"), std::end("Packed") - 1),
        payload.end());
    fs::remove(scratch_.path() / "app" / "Packed.exe");
    ASSERT_TRUE(UnpackInto(u"check", payload));
    EXPECT_FALSE(fs::exists(scratch_.path() / "check" / "Packed.exe.part"));
    EXPECT_TRUE(fs::exists(scratch_.path() / "check" / "zandro.exe"));
}

TEST_F(PackTool, ZipSourceIsEmbeddedAsItIs) {
    TestArchive archive;
    archive.entries = {MakeEntry("zandro.exe", "main", 8), MakeEntry("lib/", ""),
                       MakeEntry("lib/a.dll", "library")};
    archive.entries[1].externalAttributes = 0x10;
    const Bytes zip = BuildZip(archive);
    WriteFileBytes(scratch_.path() / "app.zip", std::string(zip.begin(), zip.end()));
    ASSERT_EQ(Run({u"--level", u"3", stub_, Path(u"app.zip"), Path(u"out.exe")}), kPackDone)
        << Narrow(err_);
    EXPECT_EQ(Payload(Path(u"out.exe")), ByteBuffer(zip.begin(), zip.end()));
    EXPECT_NE(out_.find(u"3 entries"), std::u16string::npos) << Narrow(out_);
    EXPECT_NE(out_.find(u"Checking: 2 of 2 files, 11 bytes of 11 bytes (100%)"),
              std::u16string::npos);
    EXPECT_NE(err_.find(u"--level has no effect"), std::u16string::npos);  // only a warning
}

// A clock that moves on a second each time it is read.
uint64_t fakeClockMs = 0;
uint64_t SecondPerLook() { return fakeClockMs += 1000; }

// The progress lines of a packing that looks at the clock thousands of times: on a pipe or a
// file a few a minute, each a line of its own, the last at 100%; on a terminal one line drawn
// again. --quiet shows none, but still the warning.
TEST_F(PackTool, ProgressComesAFewLinesAMinuteAndEndsAtAHundredPercent) {
    MakeFolder(u"app");
    MakeFile(u"app/zandro.exe", "main");
    MakeFolder(u"app/many");
    for (int i = 0; i < 2100; ++i)
        MakeFile(u"app/many/" + NumberText(static_cast<uint64_t>(i)) + u".txt", "x");
    const std::u16string signedStub = u"" TEST_DATA_DIR "/packer/stub_signed.exe";
    SystemCallsAgain restore;
    ActivePlatformCalls.PlatformMilliseconds = SecondPerLook;
    for (bool terminal : {false, true}) {
        SCOPED_TRACE(terminal ? "terminal" : "pipe");
        fakeClockMs = 0;
        ASSERT_EQ(Run({signedStub, Path(u"app"), Path(u"out.exe")}, terminal), kPackDone)
            << Narrow(err_);
        const size_t from = out_.find(u"  Zipping: ");
        const size_t to = out_.find(u"\n", out_.find(u"(100%)"));
        ASSERT_NE(to, std::u16string::npos) << Narrow(out_);
        const std::u16string progress = out_.substr(from, to + 1 - from);
        const auto count = [&](char16_t c) {
            return std::count(progress.begin(), progress.end(), c);
        };
        const uint64_t most = fakeClockMs / (terminal ? kTerminalRedrawMs : kPlainLineMs) + 1;
        const auto shown = static_cast<uint64_t>(terminal ? count(u'\r') : count(u'\n'));
        EXPECT_GE(shown, 3u) << fakeClockMs;
        EXPECT_LE(shown, most);
        EXPECT_EQ(count(u'\n'), terminal ? 1 : static_cast<long>(shown));
        const size_t last =
            terminal ? progress.rfind(u'\r') + 1 : progress.rfind(u'\n', progress.size() - 2) + 1;
        EXPECT_EQ(
            progress.find(u"  Zipping: 2101 of 2101 files, 2104 bytes of 2104 bytes (100%)", last),
            last)
            << Narrow(progress);
        EXPECT_NE(err_.find(u"warning: LAUNCHER was signed"), std::u16string::npos);
    }
    ASSERT_EQ(Run({u"--quiet", signedStub, Path(u"app"), Path(u"out.exe")}), kPackDone);
    EXPECT_TRUE(out_.empty()) << Narrow(out_);
    EXPECT_NE(err_.find(u"sign OUTPUT after packing"), std::u16string::npos) << Narrow(err_);
}

struct Refusal {
    const char* what;
    std::vector<std::u16string> args;  // "@" stands for the scratch folder
    std::u16string reason;
};

TEST_F(PackTool, RefusalsNameTheReasonExitWithTwoAndLeaveNoOutput) {
    MakeApplication();
    MakeFolder(u"nomain");
    MakeFile(u"nomain/other.exe", "not the main program");
    MakeFolder(u"longname");
    MakeFile(u"longname/zandro.exe", "main");
    MakeFile(u"longname/" + std::u16string(188, u'n'), "long");
    WriteFileBytes(scratch_.path() / "text.txt", "not a program");
    const ByteBuffer stub = Fixture("stub_reloc_after.exe");
    WriteFileBytes(scratch_.path() / "cut.exe", std::string(stub.begin(), stub.begin() + 2000));
    std::string nopayload(stub.begin(), stub.end());
    nopayload.replace(nopayload.find(std::string("Z\0I\0P\0", 6)), 6, std::string("Z\0A\0P\0", 6));
    WriteFileBytes(scratch_.path() / "nopayload.exe", nopayload);

    auto zipOf = [&](const char* name, std::vector<TestEntry> entries) {
        TestArchive archive;
        archive.entries = std::move(entries);
        const Bytes zip = BuildZip(archive);
        WriteFileBytes(scratch_.path() / name, std::string(zip.begin(), zip.end()));
    };
    zipOf("nomain.zip", {MakeEntry("readme.txt", "no main program")});
    zipOf("escape.zip", {MakeEntry("zandro.exe", "main"), MakeEntry("../evil.txt", "out")});
    zipOf("drive.zip", {MakeEntry("zandro.exe", "main"), MakeEntry("C:/evil.txt", "out")});
    zipOf("device.zip", {MakeEntry("zandro.exe", "main"), MakeEntry("sub/aux.txt", "out")});
    zipOf("twice.zip", {MakeEntry("zandro.exe", "main"), MakeEntry("Zandro.EXE", "other")});
    TestEntry badCrc = MakeEntry("zandro.exe", "main", 8);
    badCrc.crc = 0x12345678;
    zipOf("crc.zip", {badCrc});
    WriteFileBytes(scratch_.path() / "garbage.zip", "PK but not a zip archive at all");

    const std::u16string s = scratch_.text() + u"/";
    const std::u16string out = s + u"out.exe";
    const std::u16string app = s + u"app";
    const Refusal cases[] = {
        {"no arguments", {}, u"expected LAUNCHER, SOURCE and OUTPUT"},
        {"unknown option", {u"--colour", u"red", stub_, app, out}, u"unknown option --colour"},
        {"option twice", {u"--level=1", u"--level=2", stub_, app, out}, u"--level is given twice"},
        {"bad level", {u"--level", u"10", stub_, app, out}, u"--level needs a number from 0 to 9"},
        {"bad version", {u"--version", u"1.2.3", stub_, app, out}, u"four numbers from 0 to 65535"},
        {"launcher is text", {s + u"text.txt", app, out}, u"not a Windows program"},
        {"launcher missing", {s + u"missing.exe", app, out}, u"cannot read LAUNCHER"},
        {"launcher truncated", {s + u"cut.exe", app, out}, u"truncated"},
        {"no payload", {s + u"nopayload.exe", app, out}, u"no payload resource"},
        {"source missing", {stub_, s + u"missing", out}, u"does not exist"},
        {"folder without main program",
         {stub_, s + u"nomain", out},
         u"no zandro.exe at its top level"},
        {"folder with a long name", {stub_, s + u"longname", out}, u"is too long: 188 units"},
        {"zip without main program",
         {stub_, s + u"nomain.zip", out},
         u"no zandro.exe at its top level"},
        {"zip escaping", {stub_, s + u"escape.zip", out}, u"goes up out of the folder"},
        {"zip with a drive", {stub_, s + u"drive.zip", out}, u"a drive letter"},
        {"zip with a device", {stub_, s + u"device.zip", out}, u"names a device"},
        {"zip with a name twice", {stub_, s + u"twice.zip", out}, u"would unpack to the same file"},
        {"zip with a wrong CRC", {stub_, s + u"crc.zip", out}, u"is damaged"},
        {"not a zip",
         {stub_, s + u"garbage.zip", out},
         u"not a zip archive that the launcher can read"},
        {"icon is text", {u"--icon", s + u"text.txt", stub_, app, out}, u"not an icon file"},
        {"icon missing", {u"--icon", s + u"missing.ico", stub_, app, out}, u"cannot read the icon"},
        {"output is a folder", {stub_, app, s + u"app/sub"}, u"is a folder"},
        {"output is the launcher",
         {s + u"./launcher.exe", app, s + u"launcher.exe"},
         u"is LAUNCHER itself"},
        {"output is the zip",
         {stub_, s + u"escape.zip", s + u"sub/../escape.zip"},
         u"is SOURCE itself"},
    };
    WriteFileBytes(scratch_.path() / "launcher.exe", std::string(stub.begin(), stub.end()));
    fs::create_directories(scratch_.path() / "sub");
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Run(c.args), kPackRefused);
        EXPECT_NE(err_.find(c.reason), std::u16string::npos) << Narrow(err_);
        EXPECT_EQ(err_.find(u"launcher-pack: error: "), 0u);
        EXPECT_TRUE(PackLeftovers(scratch_.path()).empty());
    }
    EXPECT_EQ(ReadFileBytes(scratch_.path() / "launcher.exe"),
              std::string(stub.begin(), stub.end()));
    EXPECT_FALSE(ReadFileBytes(scratch_.path() / "escape.zip").empty());
}

// Each refusal names what is wrong and what to do instead, on one line: a main program given with
// its folder, or found below the top of SOURCE, a folder or an archive that holds everything in
// one folder, programs at the top under other names, OUTPUT's missing folder, a wrong option.
TEST_F(PackTool, RefusalsSayWhatToDo) {
    MakeFolder(u"below");
    MakeFolder(u"below/bin");
    MakeFile(u"below/bin/zandro.exe", "main");
    MakeFile(u"below/readme.txt", "beside");
    MakeFolder(u"wrapped");
    MakeFolder(u"wrapped/np1");
    MakeFile(u"wrapped/np1/notepad.exe", "main");
    MakeFolder(u"others");
    MakeFile(u"others/Setup.exe", "a program");
    MakeFile(u"others/Tool.EXE", "another");
    MakeFile(u"others/lib.dll", "a library");
    TestArchive archive;
    archive.entries = {MakeEntry("np1/", ""), MakeEntry("np1/zandro.exe", "main"),
                       MakeEntry("np1/lib/a.dll", "library")};
    const Bytes zip = BuildZip(archive);
    WriteFileBytes(scratch_.path() / "np1.zip", std::string(zip.begin(), zip.end()));
    const std::u16string s = scratch_.text() + u"/";
    const std::u16string out = s + u"out.exe";
    const Refusal cases[] = {
        {"main program with its folder",
         {u"--main-program", u"bin/notepad.exe", stub_, s + u"wrapped", out},
         u"To start notepad.exe from \"bin\", pack that folder as SOURCE, with --main-program "
         u"notepad.exe"},
        {"main program below the top",
         {stub_, s + u"below", out},
         u"it is at \"bin/zandro.exe\". Pack the folder that holds zandro.exe instead: \"" + s +
             u"below" + kNativeSeparator + u"bin\""},
        {"a folder that holds one folder",
         {u"--main-program", u"NotePad.exe", stub_, s + u"wrapped", out},
         u"it is at \"np1/notepad.exe\", and all that SOURCE holds sit in the folder \"np1/\"."},
        {"an archive of the folder rather than of what it holds",
         {stub_, s + u"np1.zip", out},
         u"all entries of the archive sit in the folder \"np1/\". Make the archive from inside "
         u"that folder, so that what it holds is at the top (cd \"np1\" && zip -r ../np1.zip .), "
         u"or pack the folder \"np1\" itself"},
        {"programs of other names",
         {stub_, s + u"others", out},
         u"The programs at its top level: Setup.exe, Tool.EXE; name the main program with "
         u"--main-program"},
        {"OUTPUT's folder missing",
         {stub_, s + u"below", s + u"no/such/out.exe"},
         u"the folder of OUTPUT, \"" + s + u"no/such\", does not exist: make it first"},
        {"an option refused", {u"--main-program", u"con.exe", stub_, s + u"below", out}, u"device"},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Run(c.args), kPackRefused);
        EXPECT_NE(err_.find(c.reason), std::u16string::npos) << Narrow(err_);
        EXPECT_EQ(std::count(err_.begin(), err_.end(), u'\n'), 1) << Narrow(err_);
        EXPECT_TRUE(PackLeftovers(scratch_.path()).empty());
    }
    // A wrong option points to the help; a bare command shows it.
    EXPECT_NE(err_.find(u"; see launcher-pack --help\n"), std::u16string::npos) << Narrow(err_);
    EXPECT_EQ(Run({}), kPackRefused);
    EXPECT_NE(err_.find(u"usage: launcher-pack"), std::u16string::npos);
}

// A .part file that a killed packing left is replaced, whatever its content; one that another
// packing is writing stops this one with a reason, and stays.
TEST_F(PackTool, AFileLeftBesideOutputIsReplacedAndOneInUseIsLeftAlone) {
    MakeFolder(u"app");
    MakeFile(u"app/zandro.exe", "main");
    WriteFileBytes(scratch_.path() / "out.exe.part", "left by a killed packing");
    WriteFileBytes(scratch_.path() / "out.exe.part1", "left by an older packer");
    ASSERT_EQ(Run({stub_, Path(u"app"), Path(u"out.exe")}), kPackDone) << Narrow(err_);
    EXPECT_NE(out_.find(u"1 file, 0 folders, 4 bytes"), std::u16string::npos) << Narrow(out_);
    EXPECT_EQ(PackLeftovers(scratch_.path()),
              (std::vector<std::string>{"out.exe", "out.exe.part1"}));

    std::u16string held;
    bool inUse = false;
    const PlatformHandle writing =
        PlatformCreateFileBeside(Path(u"out.exe").c_str(), &held, &inUse);
    ASSERT_NE(writing, kInvalidPlatformHandle);
    EXPECT_EQ(Run({stub_, Path(u"app"), Path(u"out.exe")}), kPackWriteFailed);
    EXPECT_NE(err_.find(u"another launcher-pack is writing the same OUTPUT"), std::u16string::npos)
        << Narrow(err_);
    EXPECT_TRUE(fs::exists(fs::path(held)));
    PlatformCloseFile(writing);
    PlatformDeleteFile(held.c_str());
}

// --dry-run checks everything and shows what the launcher would use, and writes nothing.
TEST_F(PackTool, ADryRunShowsWhatTheLauncherWouldUseAndWritesNothing) {
    MakeApplication();
    ASSERT_EQ(
        Run({u"--dry-run", u"--main-program", u"Zandro.exe", u"--folder-name", u"My App",
             u"--texts", u"en", u"--product-name", u"Mine", stub_, Path(u"app"), Path(u"out.exe")}),
        kPackDone)
        << Narrow(err_);
    for (const char16_t* shown :
         {u"--main-program         \"Zandro.exe\"", u"--folder-name          \"My App\"",
          u"--text-running         \"The application is already running.\"",
          u"It would unpack 4 files and 2 folders, 20.0 kB, into %TEMP%\\My App and start "
          u"%TEMP%\\My App\\Zandro.exe",
          u"ProductName            \"Mine\"", u"OriginalFilename       \"out.exe\""}) {
        EXPECT_NE(out_.find(shown), std::u16string::npos) << Narrow(shown) << "\n" << Narrow(out_);
    }
    EXPECT_TRUE(PackLeftovers(scratch_.path()).empty());
    // A refusal is the same as without it.
    EXPECT_EQ(Run({u"--dry-run", stub_, Path(u"app/sub"), Path(u"out.exe")}), kPackRefused);
    EXPECT_NE(err_.find(u"no zandro.exe at its top level"), std::u16string::npos);
#ifndef _WIN32
    EXPECT_EQ(Run({u"--list-windows"}), kPackRefused);
    EXPECT_NE(err_.find(u"run launcher-pack.exe --list-windows on Windows"), std::u16string::npos);
#endif
}

#ifndef _WIN32
// Each rule on the launcher's names and texts refuses with its reason: the option's own
// value, the main program it names, and the name budget that the folder's name takes from.
TEST_F(PackTool, RefusesNamesAndTextsTheLauncherCouldNotUse) {
    MakeApplication();
    MakeFolder(u"english");
    MakeFile(u"english/MyApp.exe", "main");
    MakeFile(u"english/" + std::u16string(140, u'n'), "long");
    const std::u16string s = scratch_.text() + u"/";
    const std::u16string out = s + u"out.exe";
    const std::u16string app = s + u"app";
    const std::u16string english = s + u"english";
    const Refusal cases[] = {
        {"folder with a separator", {u"--folder-name", u"My\\App", stub_, app, out}, u"/ \\ :"},
        {"folder with a colon", {u"--folder-name", u"C:App", stub_, app, out}, u"/ \\ :"},
        {"folder named as a device", {u"--folder-name", u"aux.app", stub_, app, out}, u"device"},
        {"folder with a trailing dot", {u"--folder-name", u"MyApp.", stub_, app, out}, u"dot"},
        {"folder name too long",
         {u"--folder-name", std::u16string(169, u'f'), stub_, app, out},
         u"longer than 168 units"},
        {"main program not a program",
         {u"--main-program", u"MyApp.bat", stub_, english, out},
         u"must end with .exe"},
        {"main program in a sub-folder",
         {u"--main-program", u"bin/MyApp.exe", stub_, english, out},
         u"pack that folder as SOURCE, with --main-program MyApp.exe"},
        {"main program missing",
         {u"--main-program", u"Other.exe", stub_, english, out},
         u"no Other.exe at its top level"},
        {"the default main program missing", {stub_, english, out}, u"--main-program"},
        {"names that no longer fit below a longer folder",
         {u"--main-program", u"MyApp.exe", u"--folder-name", std::u16string(60, u'f'), stub_,
          english, out},
         u"may have at most 133"},
        {"window class too long",
         {u"--window-class", std::u16string(257, u'c'), stub_, app, out},
         u"longer than 256 units"},
        {"no window to find",
         {u"--window-class", u"", u"--window-title=", stub_, app, out},
         u"the window class and the window title are both empty"},
        {"an empty caption", {u"--caption", u"", stub_, app, out}, u"empty"},
        {"an unknown working folder",
         {u"--working-folder", u"here", stub_, app, out},
         u"it must be launcher or application"},
        {"a switch with another word", {u"--progress=yes", stub_, app, out}, u"off or on"},
        {"a switch with its value apart",
         {u"--forward-arguments", u"on", stub_, app, out},
         u"expected LAUNCHER, SOURCE and OUTPUT, got 4"},
        {"an unknown execution level",
         {u"--execution-level", u"admin", stub_, app, out},
         u"requireAdministrator, highestAvailable or asInvoker"},
        {"title on two lines", {u"--window-title", u"My\nApp", stub_, app, out}, u"line break"},
        {"text without the code",
         {u"--text-start-failed", u"It failed.", stub_, app, out},
         u"exactly one %d"},
        {"text with two codes",
         {u"--text-start-failed", u"%d and %d", stub_, app, out},
         u"exactly one %d"},
        {"text with another format",
         {u"--text-start-failed", u"%s failed (%d)", stub_, app, out},
         u"no other %"},
        {"text too long",
         {u"--text-running", std::u16string(1001, u't'), stub_, app, out},
         u"longer than 1000 units"},
        {"unpaired surrogate", {u"--caption", u"bad\xD800", stub_, app, out}, u"surrogate"},
        {"unknown text set", {u"--texts", u"fr", stub_, app, out}, u"--texts needs en or zh"},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Run(c.args), kPackRefused);
        EXPECT_NE(err_.find(c.reason), std::u16string::npos) << Narrow(err_);
        EXPECT_EQ(err_.find(u"launcher-pack: error: "), 0u);
        EXPECT_TRUE(PackLeftovers(scratch_.path()).empty());
    }
    // The same folder with names that fit.
    EXPECT_EQ(Run({u"--main-program", u"myapp.EXE", u"--folder-name", u"MyApp Files", stub_,
                   english, out}),
              kPackDone)
        << Narrow(err_);
}

TEST_F(PackTool, RefusesFilesItCannotReadAndLinksToFolders) {
    MakeApplication();
    ASSERT_EQ(mkfifo((scratch_.path() / "app" / "pipe").c_str(), 0600), 0);
    EXPECT_EQ(Run({stub_, Path(u"app"), Path(u"out.exe")}), kPackRefused);
    EXPECT_NE(err_.find(u"cannot read the file"), std::u16string::npos) << Narrow(err_);
    ASSERT_EQ(unlink((scratch_.path() / "app" / "pipe").c_str()), 0);

    ASSERT_EQ(symlink("/tmp", (scratch_.path() / "app" / "elsewhere").c_str()), 0);
    EXPECT_EQ(Run({stub_, Path(u"app"), Path(u"out.exe")}), kPackRefused);
    EXPECT_NE(err_.find(u"is a link to a folder"), std::u16string::npos) << Narrow(err_);
    EXPECT_TRUE(PackLeftovers(scratch_.path()).empty());
}
#endif

// The settings of how the program starts, what the options imply, and what a second packing
// keeps: read back as the launcher reads its string table, and the manifest as it is.
TEST_F(PackTool, SettingsAreSetImpliedAndKeptWhenPackedAgain) {
    MakeFolder(u"english");
    MakeFile(u"english/MyApp.exe", "main");
    const auto packed = [&](const std::u16string& output) {
        return MustRead(ToBuffer(ReadFileBytes(fs::path(Path(output)))));
    };
    const auto level = [](const ReadImage& image) {
        const ResourceLeaf* manifest = FindLeaf(image.tree, 24, 1);
        const std::string text(manifest->data.begin(), manifest->data.end());
        const size_t at = text.find("level=\"") + 7;
        return text.substr(at, text.find('"', at) - at);
    };
    ASSERT_EQ(
        Run({u"--main-program", u"MyApp.exe", u"--window-class", u"MyAppWindow", u"--window-title",
             u"", u"--forward-arguments", u"--working-folder", u"application", u"--progress",
             u"--execution-level", u"asInvoker", stub_, Path(u"english"), Path(u"one.exe")}),
        kPackDone)
        << Narrow(err_);
    EXPECT_NE(out_.find(u"MyApp.exe is started without arguments: the launcher gave zandro.exe "
                        u"\"\" (--arguments gives MyApp.exe some)"),
              std::u16string::npos)
        << Narrow(out_);
    const ReadImage one = packed(u"one.exe");
    const LauncherSettings first = SettingsOfTree(one.tree, 0);
    EXPECT_EQ(first.mainProgram, u"MyApp.exe");
    EXPECT_EQ(first.arguments, u"");
    EXPECT_EQ(first.windowTitle, u"");
    EXPECT_EQ(first.caption, u"MyApp");  // the program's name, the title being empty
    EXPECT_EQ(first.forwardArguments, u"on");
    EXPECT_EQ(first.workingFolder, u"application");
    EXPECT_EQ(first.progress, u"on");
    EXPECT_EQ(level(one), "asInvoker");
    const std::string manifest(FindLeaf(one.tree, 24, 1)->data.begin(),
                               FindLeaf(one.tree, 24, 1)->data.end());
    EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos);

    // Packed again: the option given changes, everything else stays, the manifest too.
    ASSERT_EQ(Run({u"--progress=off", Path(u"one.exe"), Path(u"english"), Path(u"two.exe")}),
              kPackDone)
        << Narrow(err_);
    const ReadImage two = packed(u"two.exe");
    LauncherSettings expected = first;
    expected.progress = u"off";
    for (const SettingField& field : kSettingFields) {
        EXPECT_EQ(SettingsOfTree(two.tree, 0).*field.member, expected.*field.member) << field.id;
    }
    EXPECT_EQ(level(two), "asInvoker");

    // The same program again keeps its arguments; given ones are taken as they are.
    ASSERT_EQ(Run({u"--main-program", u"myapp.exe", u"--arguments", u"--open \"a b\"",
                   Path(u"two.exe"), Path(u"english"), Path(u"three.exe")}),
              kPackDone);
    EXPECT_EQ(out_.find(u"without arguments"), std::u16string::npos);
    EXPECT_EQ(SettingsOfTree(packed(u"three.exe").tree, 0).arguments, u"--open \"a b\"");
    ASSERT_EQ(Run({u"--main-program", u"myapp.exe", Path(u"three.exe"), Path(u"english"),
                   Path(u"four.exe")}),
              kPackDone);
    EXPECT_EQ(out_.find(u"without arguments"), std::u16string::npos);
    EXPECT_EQ(SettingsOfTree(packed(u"four.exe").tree, 0).arguments, u"--open \"a b\"");
    // A launcher packed without options asks for what it asked for before.
    MakeFile(u"english/zandro.exe", "the default program");
    ASSERT_EQ(Run({stub_, Path(u"english"), Path(u"five.exe")}), kPackDone);
    EXPECT_EQ(level(packed(u"five.exe")), "requireAdministrator");
    EXPECT_EQ(SettingsOfTree(packed(u"five.exe").tree, 0).arguments, u"\"\"");
}

TEST_F(PackTool, AFailedWriteLeavesTheEarlierOutputAlone) {
    MakeApplication();
    WriteFileBytes(scratch_.path() / "out.exe", "an earlier output");
    int status = 0;
    {
        SystemCallsAgain restore;
        MakeFaultPoint<&PlatformCalls::PlatformWriteFile, false>("WriteFile").failNth(2);
        status = Run({stub_, Path(u"app"), Path(u"out.exe")});
    }
    EXPECT_EQ(status, kPackWriteFailed);
    EXPECT_NE(err_.find(u"cannot write"), std::u16string::npos) << Narrow(err_);
    EXPECT_EQ(ReadFileBytes(scratch_.path() / "out.exe"), "an earlier output");
    EXPECT_EQ(PackLeftovers(scratch_.path()), std::vector<std::string>{"out.exe"});
}

}  // namespace
