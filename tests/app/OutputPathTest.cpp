#include <gtest/gtest.h>

#include "app/CleanJob.h"

TEST(ExtractBaseName, TakesTheTextAfterTheLastSeparatorOfEitherKind) {
    EXPECT_EQ(ExtractBaseName("C:\\music\\take.wav"), "take.wav");
    EXPECT_EQ(ExtractBaseName("D:/music/take.wav"), "take.wav");
    EXPECT_EQ(ExtractBaseName("D:/music\\sub/take.wav"), "take.wav");
    EXPECT_EQ(ExtractBaseName("take.wav"), "take.wav");
    EXPECT_EQ(ExtractBaseName("C:\\music\\"), "");
    EXPECT_EQ(ExtractBaseName(""), "");
}

struct JobCase {
    const char* source;
    const char* folder;
    const char* outputPath;
};

class OutputPath : public ::testing::TestWithParam<JobCase> {};

TEST_P(OutputPath, IsComposedWithoutNormalisation) {
    const JobCase& c = GetParam();
    EXPECT_EQ(BuildOutputPath(c.folder, c.source), c.outputPath);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OutputPath,
    ::testing::Values(JobCase{"C:\\music\\take.wav", "D:\\out", "D:\\out\\Clean_take.wav"},
                      // Forward slashes count as separators for the name, and stay in the source path.
                      JobCase{"D:/music/take.wav", "E:\\cleaned", "E:\\cleaned\\Clean_take.wav"},
                      // A drive root keeps its backslash: the output path doubles it.
                      JobCase{"C:\\music\\take.wav", "E:\\", "E:\\\\Clean_take.wav"},
                      // The extension is whatever the source has, or none.
                      JobCase{"C:\\music\\take", "D:\\out", "D:\\out\\Clean_take"},
                      JobCase{"C:\\music\\take.aiff", "D:\\out", "D:\\out\\Clean_take.aiff"},
                      JobCase{"take.wav", "D:\\out", "D:\\out\\Clean_take.wav"},
                      // A folder choice without a file-system path leaves the folder empty.
                      JobCase{"C:\\music\\take.wav", "", "\\Clean_take.wav"},
                      JobCase{"C:\\my music\\take 1.wav", "D:\\my out", "D:\\my out\\Clean_take 1.wav"}));
