#include <gtest/gtest.h>

#include <string>

#include "dialogs/PBFolderDialog.h"

TEST(ShortenPath, KeepsPathsThatFitWhole) {
    EXPECT_EQ(ShortenPath("C:\\Data\\Projects", 50), "C:\\Data\\Projects");
    const std::string exactly50 = "C:\\" + std::string(20, 'a') + "\\" + std::string(26, 'b');
    ASSERT_EQ(exactly50.size(), 50u);
    EXPECT_EQ(ShortenPath(exactly50, 50), exactly50);
    EXPECT_EQ(ShortenPath("", 50), "");
}

TEST(ShortenPath, ShowsTheDriveThenAsManyTrailingFoldersAsFit) {
    const std::string path = "C:\\Users\\someone\\Documents\\Recordings\\Sessions\\Final\\Masters";
    ASSERT_EQ(path.size(), 60u);
    EXPECT_EQ(ShortenPath(path, 50), "C:\\...\\Documents\\Recordings\\Sessions\\Final\\Masters");
    // One character less and the next folder has to go too.
    EXPECT_EQ(ShortenPath(path, 49), "C:\\...\\Recordings\\Sessions\\Final\\Masters");
}

TEST(ShortenPath, KeepsBothLeadingBackslashesOfANetworkPath) {
    const std::string path = "\\\\fileserver\\audio\\archive\\2019\\sessions\\mixdown\\stems\\final";
    ASSERT_EQ(path.size(), 60u);
    EXPECT_EQ(ShortenPath(path, 50), "\\\\fileserver\\...\\2019\\sessions\\mixdown\\stems\\final");
}

TEST(ShortenPath, CutsALastFolderThatDoesNotFitAndMarksTheCut) {
    const std::string path = "C:\\a\\" + std::string(60, 'x');
    const std::string shortened = ShortenPath(path, 50);
    EXPECT_EQ(shortened, "C:\\...\\" + std::string(40, 'x') + "...");
    EXPECT_EQ(shortened.size(), 50u);
}

TEST(ShortenPath, TakesTheFirstCharactersWhenThereAreFewerThanTwoSeparators) {
    const std::string oneSeparator = "C:\\" + std::string(60, 'n');
    EXPECT_EQ(ShortenPath(oneSeparator, 50), oneSeparator.substr(0, 50));
    const std::string none(60, 'n');
    EXPECT_EQ(ShortenPath(none, 50), none.substr(0, 50));
    // The two leading backslashes of a network name do not count.
    const std::string server = "\\\\" + std::string(60, 's');
    EXPECT_EQ(ShortenPath(server, 50), server.substr(0, 50));
}

TEST(ShortenPath, TakesTheFirstCharactersWhenTheMaximumIsBelowSix) {
    const std::string path = "C:\\Users\\someone\\Documents";
    EXPECT_EQ(ShortenPath(path, 5), "C:\\Us");
    EXPECT_EQ(ShortenPath(path, 0), "");
    EXPECT_EQ(ShortenPath(path, -3), "");
    EXPECT_EQ(ShortenPath(path, 6), "C:\\...");
}
