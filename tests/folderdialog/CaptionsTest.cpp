#include <gtest/gtest.h>

#include <string>

#include "BrowserDriver.h"
#include "dialogs/PBFolderDialog.h"
#include "framework/Exceptions.h"
#include "framework/Layout.h"
#include "framework/StringList.h"

using folderdialog_test::RegistryKeyAbsence;
using folderdialog_test::RegistryOverride;

namespace {

const char kGermanLabel[] = "Ausgew\xE4" "hlter Ordner:";

wc::TStringList ListOf(const char* commaText) {
    wc::TStringList list;
    list.SetCommaText(commaText);
    return list;
}

}  // namespace

TEST(CaptionForLocale, AJapaneseLocaleFallsBackToTheDefaultEntries) {
    TPBFolderDialog dialog(nullptr);
    EXPECT_EQ(CaptionForLocale(dialog.LabelCaptions(), "0411"), "Current folder:");
    EXPECT_EQ(CaptionForLocale(dialog.NewFolderCaptions(), "0411"), "New folder");
}

TEST(CaptionForLocale, PicksTheLocalesEntryWhateverTheCaseOfItsId) {
    TPBFolderDialog dialog(nullptr);
    EXPECT_EQ(CaptionForLocale(dialog.LabelCaptions(), "0407"), kGermanLabel);
    EXPECT_EQ(CaptionForLocale(dialog.NewFolderCaptions(), "040c"), "Nouveau Dossier");
    EXPECT_EQ(CaptionForLocale(dialog.LabelCaptions(), "0C0C"), "Dossier Courant:");
}

TEST(CaptionForLocale, AListWithoutDefaultGivesItsFirstValue) {
    EXPECT_EQ(CaptionForLocale(ListOf("\"0407=Erster\",\"040C=Second\""), "0411"), "Erster");
    EXPECT_EQ(CaptionForLocale(ListOf("\"0407=Erster\",\"040C=Second\""), ""), "Erster");
    EXPECT_EQ(CaptionForLocale(ListOf("\"0407=Erster\",\"040C=Second\""), "040C"), "Second");
}

TEST(CaptionForLocale, AnEmptyListGivesAnEmptyCaption) {
    EXPECT_EQ(CaptionForLocale(wc::TStringList(), "0409"), "");
    TPBFolderDialog dialog(nullptr);
    dialog.LabelCaptions().Clear();
    dialog.NewFolderCaptions().Clear();
    EXPECT_EQ(dialog.LabelCaption(), "");
    EXPECT_EQ(dialog.NewFolderCaption(), "");
}

TEST(FolderDialogCreation, StartsWithThePublishedDefaultsAndTheBuiltInLists) {
    TPBFolderDialog dialog(nullptr);
    EXPECT_EQ(dialog.Folder, "");
    EXPECT_EQ(dialog.Flags, TBrowseInfoFlagSet(ShowPath));
    EXPECT_EQ(dialog.RootFolder, foDesktopExpanded);
    EXPECT_TRUE(dialog.NewFolderVisible);
    EXPECT_TRUE(dialog.NewFolderEnabled);
    EXPECT_EQ(TPBFolderDialog::Version(), "2.00.00.00");
    dialog.SetVersion("9.9");
    EXPECT_EQ(TPBFolderDialog::Version(), "2.00.00.00");

    ASSERT_EQ(dialog.LabelCaptions().Count(), 28u);
    ASSERT_EQ(dialog.NewFolderCaptions().Count(), 28u);
    EXPECT_EQ(dialog.LabelCaptions()[0], "Default=Current folder:");
    EXPECT_EQ(dialog.NewFolderCaptions()[3], "0407=Neuer Ordner");
    EXPECT_EQ(dialog.LabelCaptions()[3], std::string("0407=") + kGermanLabel);
    EXPECT_EQ(dialog.LabelCaptions()[27], "2C09=Current folder:");
    EXPECT_EQ(dialog.NewFolderCaptions()[7], "0413=Nieuwe map");
    // The umlaut is one Windows-1252 byte.
    EXPECT_EQ(std::string(kGermanLabel).size(), 20u);
}

TEST(FolderDialogCreation, ReadsTheLocaleFromTheUsersResourceLocaleKey) {
    auto german = RegistryOverride::Text(HKEY_CURRENT_USER, "Control Panel\\Desktop\\ResourceLocale", nullptr,
                                         "00000407");
    EXPECT_EQ(ReadUserLocaleId(), "0407");
    TPBFolderDialog dialog(nullptr);
    EXPECT_EQ(dialog.LocaleId(), "0407");
    EXPECT_EQ(dialog.LabelCaption(), kGermanLabel);
    EXPECT_EQ(dialog.NewFolderCaption(), "Neuer Ordner");
}

TEST(FolderDialogCreation, FallsBackToTheDefaultUsersInternationalLocale) {
    RegistryKeyAbsence noResourceLocale(HKEY_CURRENT_USER, "Control Panel\\Desktop\\ResourceLocale");
    auto dutch = RegistryOverride::Text(HKEY_USERS, ".DEFAULT\\Control Panel\\International", "Locale", "00000413");
    TPBFolderDialog dialog(nullptr);
    EXPECT_EQ(dialog.LocaleId(), "0413");
    EXPECT_EQ(dialog.LabelCaption(), "Huidige map:");
    EXPECT_EQ(dialog.NewFolderCaption(), "Nieuwe map");
}

TEST(FolderDialogCreation, KeepsOnlyTheLastFourCharactersInUpperCase) {
    auto locale = RegistryOverride::Text(HKEY_CURRENT_USER, "Control Panel\\Desktop\\ResourceLocale", nullptr,
                                         "00000c0c");
    EXPECT_EQ(ReadUserLocaleId(), "0C0C");
    TPBFolderDialog dialog(nullptr);
    EXPECT_EQ(dialog.LabelCaption(), "Dossier Courant:");
}

TEST(FolderDialogCaptions, AreResolvedAgainOnEveryChangeOfTheirList) {
    auto german = RegistryOverride::Text(HKEY_CURRENT_USER, "Control Panel\\Desktop\\ResourceLocale", nullptr,
                                         "00000407");
    TPBFolderDialog dialog(nullptr);
    dialog.LabelCaptions().SetCommaText("\"Default=Pick a folder:\"");
    EXPECT_EQ(dialog.LabelCaption(), "Pick a folder:");
    dialog.LabelCaptions().Put(0, "Default=Another:");
    EXPECT_EQ(dialog.LabelCaption(), "Another:");
    dialog.SetNewFolderCaptions(ListOf("\"Default=Make folder\""));
    EXPECT_EQ(dialog.NewFolderCaption(), "Make folder");
    // The locale's own entry wins over Default once it is there.
    dialog.NewFolderCaptions().Add("0407=Ordner anlegen");
    EXPECT_EQ(dialog.NewFolderCaption(), "Ordner anlegen");
}

TEST(FolderDialogCaptions, AreResolvedAfterLoadingFromALayout) {
    TPBFolderDialog dialog(nullptr);
    wc::LayoutValue labels;
    labels.kind = wc::LayoutValue::Kind::StringList;
    labels.items = {"Default=Loaded label"};
    wc::LayoutValue root;
    root.kind = wc::LayoutValue::Kind::Identifier;
    root.text = "foMyComputer";
    wc::LayoutValue flags;
    flags.kind = wc::LayoutValue::Kind::Set;
    flags.items = {"OnlyAncestors", "ShowPath"};
    EXPECT_TRUE(dialog.SetProperty("LabelCaptions.Strings", labels));
    EXPECT_TRUE(dialog.SetProperty("RootFolder", root));
    EXPECT_TRUE(dialog.SetProperty("Flags", flags));
    dialog.Loaded();
    EXPECT_EQ(dialog.LabelCaption(), "Loaded label");
    EXPECT_EQ(dialog.RootFolder, foMyComputer);
    EXPECT_EQ(dialog.Flags, TBrowseInfoFlagSet(OnlyAncestors | ShowPath));
    flags.items = {"NoSuchFlag"};
    EXPECT_THROW(dialog.SetProperty("Flags", flags), wc::Exception);
}

TEST(StringListCommaText, SplitsAtCommasAndBlanksButNotInsideQuotes) {
    wc::TStringList list;
    list.SetCommaText("one, two three,\"with space\",\"say \"\"hi\"\"\",,last");
    ASSERT_EQ(list.Count(), 7u);
    EXPECT_EQ(list[0], "one");
    EXPECT_EQ(list[1], "two");
    EXPECT_EQ(list[2], "three");
    EXPECT_EQ(list[3], "with space");
    EXPECT_EQ(list[4], "say \"hi\"");
    EXPECT_EQ(list[5], "");
    EXPECT_EQ(list[6], "last");
}

TEST(StringListCommaText, QuotesExactlyTheItemsThatNeedItAndReadsBackTheSame) {
    wc::TStringList list;
    list.Assign({"plain", "with space", "a,b", "q\"uote", ""});
    EXPECT_EQ(list.CommaText(), "plain,\"with space\",\"a,b\",\"q\"\"uote\",\"\"");
    wc::TStringList again;
    again.SetCommaText(list.CommaText());
    EXPECT_EQ(again, list);
    EXPECT_EQ(list.Text(), "plain\r\nwith space\r\na,b\r\nq\"uote\r\n\r\n");
}

TEST(StringListNames, LookUpValuesByNameWithoutRegardToCase) {
    const wc::TStringList list = ListOf("\"Default=Current folder:\",\"040c=Dossier=Courant\",NoValue");
    EXPECT_EQ(list.IndexOfName("DEFAULT"), 0);
    EXPECT_EQ(list.Value("040C"), "Dossier=Courant");
    EXPECT_EQ(list.Name(2), "NoValue");
    EXPECT_EQ(list.ValueFromIndex(2), "");
    EXPECT_EQ(list.IndexOfName("0411"), -1);
    EXPECT_EQ(list.Value("0411"), "");
}

TEST(StringListChange, NotifiesOnEveryChangeButNotOnCopyingTheNotification) {
    wc::TStringList list;
    int changes = 0;
    list.OnChange = [&] { ++changes; };
    list.Add("a");
    list.Put(0, "b");
    list.SetCommaText("x,y");
    list.Delete(1);
    list.Clear();
    list.Clear();  // already empty: no change
    EXPECT_EQ(changes, 5);
    wc::TStringList copy(list);
    copy.Add("c");
    EXPECT_EQ(changes, 5);
}
