// The launcher's names and texts from a stand-in string table: each usable value is taken, each
// missing or unusable one falls back to its own default alone.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "launcher/launcher.h"
#include "platform/platform.h"
#include "tests/support/platform_faults.h"

namespace {

std::map<uint16_t, std::u16string> table;

bool TableString(uint16_t id, std::u16string* text) {
    const auto found = table.find(id);
    if (found == table.end()) return false;
    *text = found->second;
    return true;
}

// Every value of another launcher, each one that its rules accept.
const std::map<uint16_t, std::u16string> kOwnValues = {
    {LAUNCHER_STRING_MAIN_PROGRAM, u"Main App.EXE"},
    {LAUNCHER_STRING_FOLDER_NAME, u"应用 data"},
    {LAUNCHER_STRING_WINDOW_CLASS, u"MainAppWindow"},
    {LAUNCHER_STRING_WINDOW_TITLE, u"Main App"},
    {LAUNCHER_STRING_CAPTION, u"Main App 启动器"},
    {LAUNCHER_STRING_ERROR_CAPTION, u"Main App: error"},
    {LAUNCHER_STRING_TEXT_RUNNING, u"Main App is open.\r\nSee its window."},
    {LAUNCHER_STRING_TEXT_UNPACK_FAILED, u"Could not unpack:\n\tis it in use?"},
    {LAUNCHER_STRING_TEXT_START_FAILED, u"Main App did not start (error %d)."},
    {LAUNCHER_STRING_ARGUMENTS, u"--open \"a b\""},
    {LAUNCHER_STRING_FORWARD_ARGUMENTS, u"on"},
    {LAUNCHER_STRING_WORKING_FOLDER, u"application"},
    {LAUNCHER_STRING_PROGRESS, u"on"},
};

// The defaults with the window's class and title given.
LauncherSettings With(const std::u16string& windowClass, const std::u16string& windowTitle) {
    LauncherSettings settings = DefaultSettings();
    settings.windowClass = windowClass;
    settings.windowTitle = windowTitle;
    return settings;
}

class SettingsTable : public testing::Test {
  protected:
    SystemCallsAgain restore;

    LauncherSettings Load() {
        ActivePlatformCalls.PlatformLoadString = TableString;
        return LoadLauncherSettings();
    }
};

}  // namespace

TEST_F(SettingsTable, WithoutAStringTableEveryValueIsItsDefault) {
    const LauncherSettings defaults = DefaultSettings();
    EXPECT_EQ(defaults.folderName, u"VORNIX");
    EXPECT_EQ(defaults.textStartFailed, u"启动主程序失败，错误码:(%d)。");
    // How a launcher built before these settings started its program.
    EXPECT_EQ(defaults.arguments, u"\"\"");
    EXPECT_EQ(defaults.forwardArguments, u"off");
    EXPECT_EQ(defaults.workingFolder, u"launcher");
    EXPECT_EQ(defaults.progress, u"off");
    table.clear();
    const LauncherSettings loaded = Load();
    for (const SettingField& field : kSettingFields) {
        EXPECT_EQ(loaded.*field.member, defaults.*field.member) << field.id;
    }
#ifndef _WIN32
    // POSIX has no string table; a test program has none either.
    ActivePlatformCalls = kSystemCalls;
    const LauncherSettings system = LoadLauncherSettings();
    EXPECT_EQ(system.mainProgram, defaults.mainProgram);
#endif
}

TEST_F(SettingsTable, EveryValueOfTheTableIsUsed) {
    table = kOwnValues;
    const LauncherSettings loaded = Load();
    for (const SettingField& field : kSettingFields) {
        EXPECT_EQ(loaded.*field.member, kOwnValues.at(field.id)) << field.id;
    }
}

TEST_F(SettingsTable, AMissingOrUnusableValueFallsBackAloneToItsDefault) {
    table = kOwnValues;
    table.erase(LAUNCHER_STRING_TEXT_RUNNING);
    // The name of a folder moved aside: another launcher's "应用" would remove it.
    table[LAUNCHER_STRING_FOLDER_NAME] = u"应用.OLD-3";
    table[LAUNCHER_STRING_MAIN_PROGRAM] = u"main.dll";
    // The resource's text is counted, not terminated: a zero inside it would cut the name short.
    table[LAUNCHER_STRING_WINDOW_CLASS] = std::u16string(u"Main\0App", 8);
    table[LAUNCHER_STRING_WINDOW_TITLE] = u"";
    // Formatted with the error code: any directive but one %d would read what is not there.
    table[LAUNCHER_STRING_TEXT_START_FAILED] = u"failed: %s (%d)";
    table[LAUNCHER_STRING_ERROR_CAPTION] = u"two\nlines";
    const LauncherSettings loaded = Load();
    const LauncherSettings defaults = DefaultSettings();
    for (const SettingField& field : kSettingFields) {
        const bool replaced =
            table.count(field.id) == 0 || table.at(field.id) != kOwnValues.at(field.id);
        EXPECT_EQ(loaded.*field.member, replaced ? defaults.*field.member : kOwnValues.at(field.id))
            << field.id;
    }
    EXPECT_EQ(loaded.caption, u"Main App 启动器");
    EXPECT_EQ(loaded.mainProgram, u"zandro.exe");
    EXPECT_EQ(loaded.folderName, u"VORNIX");
}

// An empty value is stored as one zero unit, since the table cannot hold an empty string; only a
// setting that may be empty takes it, and the window keeps its class or its title.
TEST_F(SettingsTable, AnEmptyValueIsOneZeroUnitWhereItsRuleAllowsIt) {
    const std::u16string empty(1, u'\0');
    EXPECT_EQ(StoredSetting(u""), empty);
    EXPECT_EQ(StoredSetting(u"x"), u"x");
    EXPECT_EQ(SettingOfStored(empty), u"");
    table = kOwnValues;
    table[LAUNCHER_STRING_WINDOW_TITLE] = empty;
    table[LAUNCHER_STRING_ARGUMENTS] = empty;
    table[LAUNCHER_STRING_CAPTION] = empty;
    table[LAUNCHER_STRING_PROGRESS] = u"ON";
    LauncherSettings loaded = Load();
    EXPECT_EQ(loaded.windowTitle, u"");
    EXPECT_EQ(loaded.windowClass, u"MainAppWindow");
    EXPECT_EQ(loaded.arguments, u"");
    EXPECT_EQ(loaded.caption, u"Kelmora");
    EXPECT_EQ(loaded.progress, u"off");
    EXPECT_EQ(loaded.workingFolder, u"application");

    // Neither would take any window for the running copy: both go back to their defaults.
    table[LAUNCHER_STRING_WINDOW_CLASS] = empty;
    loaded = Load();
    EXPECT_EQ(loaded.windowClass, u"vornix");
    EXPECT_EQ(loaded.windowTitle, u"Kelmora");
    std::u16string reason;
    EXPECT_FALSE(CheckSettingsTogether(With(u"", u""), &reason));
    EXPECT_NE(reason.find(u"both empty"), std::u16string::npos);
    EXPECT_TRUE(CheckSettingsTogether(With(u"", u"App"), &reason));
}
