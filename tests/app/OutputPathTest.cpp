#include <gtest/gtest.h>

#include "app/Unit1.h"

TEST(ExtractBaseName, TakesTheTextAfterTheLastSeparatorOfEitherKind) {
    EXPECT_EQ(ExtractBaseName("C:\\music\\take.wav"), "take.wav");
    EXPECT_EQ(ExtractBaseName("D:/music/take.wav"), "take.wav");
    EXPECT_EQ(ExtractBaseName("D:/music\\sub/take.wav"), "take.wav");
    EXPECT_EQ(ExtractBaseName("take.wav"), "take.wav");
    EXPECT_EQ(ExtractBaseName("C:\\music\\"), "");
    EXPECT_EQ(ExtractBaseName(""), "");
}
