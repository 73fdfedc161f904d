// What the open dialog hands the system and reads back: the filter list,
// the split of a multiple selection, cut texts, option flags, properties.
#include <gtest/gtest.h>

#include <string>

#include "dialogs/MMCstDlg.h"
#include "framework/Layout.h"

namespace {

std::vector<std::string> ZeroSeparated(const std::vector<char>& buffer) {
    std::vector<std::string> strings;
    for (size_t at = 0; at < buffer.size() && buffer[at] != '\0';) {
        std::string text(&buffer[at]);
        at += text.size() + 1;
        strings.push_back(text);
    }
    return strings;
}

wc::LayoutValue SetValue(std::vector<std::string> members) {
    wc::LayoutValue value;
    value.kind = wc::LayoutValue::Kind::Set;
    value.items = std::move(members);
    return value;
}

wc::LayoutValue StringValue(std::string text) {
    wc::LayoutValue value;
    value.kind = wc::LayoutValue::Kind::String;
    value.text = std::move(text);
    return value;
}

}  // namespace

TEST(FilterBuffer, HoldsNameAndPatternZeroSeparatedWithADoubleZero) {
    const std::vector<char> buffer = MakeFilterBuffer("Wave Files(*.wav)|*.wav");
    ASSERT_EQ(buffer.size(), kFilterBufferSize);
    const std::string expected("Wave Files(*.wav)\0*.wav\0\0", 26);
    EXPECT_EQ(std::string(buffer.data(), expected.size()), expected);
    EXPECT_EQ(ZeroSeparated(buffer), (std::vector<std::string>{"Wave Files(*.wav)", "*.wav"}));
}

TEST(FilterBuffer, KeepsEveryPairInOrder) {
    EXPECT_EQ(ZeroSeparated(MakeFilterBuffer("Wave|*.wav|All files|*.*")),
              (std::vector<std::string>{"Wave", "*.wav", "All files", "*.*"}));
}

TEST(FilterBuffer, TooLongAFilterKeepsTheWholePairsThatFit) {
    std::string filter;
    for (int i = 0; filter.size() < 3000; ++i)
        filter.append(i ? "|" : "").append("Files of kind ").append(std::to_string(i))
              .append("|*.").append(std::to_string(i));
    const std::vector<char> buffer = MakeFilterBuffer(filter);
    ASSERT_EQ(buffer.size(), kFilterBufferSize);
    const std::vector<std::string> strings = ZeroSeparated(buffer);
    ASSERT_FALSE(strings.empty());
    EXPECT_EQ(strings.size() % 2, 0u) << "a name lost its pattern";
    EXPECT_EQ(strings.back(), std::string("*.").append(std::to_string(strings.size() / 2 - 1)));
    EXPECT_EQ(buffer[kFilterBufferSize - 1], '\0');
    EXPECT_EQ(buffer[kFilterBufferSize - 2], '\0');
    size_t used = 0;
    for (const auto& s : strings) used += s.size() + 1;
    EXPECT_GT(used, kFilterBufferSize - 60) << "pairs that fit were dropped";
}

TEST(FilterBuffer, ASinglePairTooLongIsCutToTheBuffer) {
    const std::string filter = "Name|" + std::string(2000, 'p');
    const std::vector<char> buffer = MakeFilterBuffer(filter);
    ASSERT_EQ(buffer.size(), kFilterBufferSize);
    const std::vector<std::string> strings = ZeroSeparated(buffer);
    ASSERT_EQ(strings.size(), 2u);
    EXPECT_EQ(strings[1], std::string(kFilterBufferSize - 2 - 5, 'p'));
    EXPECT_EQ(buffer[kFilterBufferSize - 1], '\0');
}

TEST(FileBufferSplit, AMultipleSelectionPutsTheFolderBeforeEachName) {
    const char buffer[] = "D:\\x\0a.wav\0b.wav\0";
    EXPECT_EQ(SplitFileBuffer(buffer, sizeof buffer),
              (std::vector<std::string>{"D:\\x\\a.wav", "D:\\x\\b.wav"}));
}

TEST(FileBufferSplit, AFolderEndingInABackslashGetsNoSecondOne) {
    const char buffer[] = "D:\\\0a.wav\0b.wav\0";
    EXPECT_EQ(SplitFileBuffer(buffer, sizeof buffer), (std::vector<std::string>{"D:\\a.wav", "D:\\b.wav"}));
}

TEST(FileBufferSplit, AbsoluteNamesAreTakenUnchanged) {
    const char buffer[] = "D:\\x\0\\\\server\\a.wav\0E:\\y\\b.wav\0C:\\\0c:d.wav\0";
    EXPECT_EQ(SplitFileBuffer(buffer, sizeof buffer),
              (std::vector<std::string>{"\\\\server\\a.wav", "E:\\y\\b.wav", "D:\\x\\C:\\", "D:\\x\\c:d.wav"}));
}

TEST(FileBufferSplit, ASingleStringIsTheOneFile) {
    const char buffer[] = "D:\\x\\a.wav\0\0";
    EXPECT_EQ(SplitFileBuffer(buffer, sizeof buffer), (std::vector<std::string>{"D:\\x\\a.wav"}));
    const char empty[] = "\0";
    EXPECT_TRUE(SplitFileBuffer(empty, sizeof empty).empty());
}

TEST(FileBufferSplit, StopsAtTheBufferEndWithoutATerminator) {
    const char buffer[] = {'D', ':', '\\', 'x', '\0', 'a', 'b'};
    EXPECT_EQ(SplitFileBuffer(buffer, sizeof buffer), (std::vector<std::string>{"D:\\x\\ab"}));
}

TEST(FitText, CutsAtTheLimitAndKeepsShorterTexts) {
    EXPECT_EQ(FitText("abcdef", 4), 4u);
    EXPECT_EQ(FitText("abc", 79), 3u);
    EXPECT_EQ(FitText("", 0), 0u);
    EXPECT_EQ(FitText(std::string(100, 't'), kShortTextLimit), 79u);
}

TEST(InitialDirWriter, DropsOneTrailingBackslashButKeepsADriveRoot) {
    TMMCustomOpenDialog dialog(nullptr);
    dialog.SetInitialDir("C:\\Sounds\\");
    EXPECT_EQ(dialog.InitialDir(), "C:\\Sounds");
    dialog.SetInitialDir("C:\\");
    EXPECT_EQ(dialog.InitialDir(), "C:\\");
    dialog.SetInitialDir("\\");
    EXPECT_EQ(dialog.InitialDir(), "\\");
    dialog.SetInitialDir("C:\\Sounds");
    EXPECT_EQ(dialog.InitialDir(), "C:\\Sounds");
    dialog.SetInitialDir("C:\\Sounds\\\\");
    EXPECT_EQ(dialog.InitialDir(), "C:\\Sounds\\");
}

TEST(OpenOptionFlags, EachOptionAddsItsSystemFlag) {
    const std::pair<TOpenOption, DWORD> table[] = {
        {ofReadOnly, 0x1},           {ofOverwritePrompt, 0x2},        {ofHideReadOnly, 0x4},
        {ofNoChangeDir, 0x8},        {ofShowHelp, 0x10},              {ofNoValidate, 0x100},
        {ofAllowMultiSelect, 0x200}, {ofExtensionDifferent, 0x400},   {ofPathMustExist, 0x800},
        {ofFileMustExist, 0x1000},   {ofCreatePrompt, 0x2000},        {ofShareAware, 0x4000},
        {ofNoReadOnlyReturn, 0x8000}, {ofNoTestFileCreate, 0x10000},  {ofNoNetworkButton, 0x20000},
        {ofNoLongNames, 0x40000},    {ofOldStyleDialog, 0x80000},     {ofNoDereferenceLinks, 0x100000},
        {ofEnableIncludeNotify, 0x400000}, {ofEnableSizing, 0x800000}, {ofDontAddToRecent, 0x2000000},
        {ofForceShowHidden, 0x10000000},
    };
    for (const auto& [option, flag] : table) EXPECT_EQ(OpenOptionFlags(option), flag) << option;
    EXPECT_EQ(OpenOptionFlags(ofHideReadOnly | ofNoNetworkButton), 0x20004u);
    EXPECT_EQ(OpenOptionFlags(0), 0u);
}

TEST(WaveOpenDialogLayout, ReadsTheMainWindowsSettings) {
    TMMWaveOpenDialog dialog(nullptr);
    EXPECT_EQ(dialog.Filter, "Wave Files(*.wav)|*.wav");
    EXPECT_EQ(dialog.FilterIndex, 1);
    EXPECT_EQ(dialog.DefaultExt, "wav");
    EXPECT_EQ(dialog.OptionsEx, unsigned(ofExNoPlacesBar));
    EXPECT_TRUE(dialog.SetProperty("Options", SetValue({"ofHideReadOnly", "ofNoNetworkButton"})));
    EXPECT_EQ(dialog.Options, unsigned(ofHideReadOnly | ofNoNetworkButton));
    EXPECT_TRUE(dialog.SetProperty("InitialDir", StringValue("C:\\Sounds\\")));
    EXPECT_EQ(dialog.InitialDir(), "C:\\Sounds");
    EXPECT_TRUE(dialog.SetProperty("Title", StringValue("Open Wave File")));
    EXPECT_EQ(dialog.Title, "Open Wave File");
    EXPECT_THROW(dialog.SetProperty("Options", SetValue({"ofNoSuchThing"})), std::exception);
    EXPECT_FALSE(dialog.SetProperty("NoSuchProperty", StringValue("x")));
}
