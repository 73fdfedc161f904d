#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/Exceptions.h"
#include "media/wave/MMAudReg.h"
#include "media/wave/MMWave.h"
#include "support/TestSupport.h"

namespace {

using namespace testing_support;

// A reader class that reads nothing, registered under any name.
class NullReader : public TMMCustomFile {
public:
    using TMMCustomFile::TMMCustomFile;
    int32_t GetBlockSize() const override { return 0; }
    bool IsEmpty() const override { return true; }
    int32_t Time() const override { return 0; }
    std::string FileName() const override { return {}; }
    void SetFileName(const std::string&) override {}
    int64_t Position() const override { return 0; }
    void SetPosition(int64_t) override {}
    int32_t PositionMs() const override { return 0; }
    void SetPositionMs(int32_t) override {}
};

TMMCustomFileClass Named(const std::string& name) {
    return {name, [](wc::TComponent* owner) { return std::unique_ptr<TMMCustomFile>(std::make_unique<NullReader>(owner)); }};
}

std::vector<std::string> Order() {
    std::vector<std::string> names;
    for (const TRegisterRec& entry : RegisteredFileTypes()) names.push_back(entry.FileClass.ClassName);
    return names;
}

class RegistryTest : public ::testing::Test {
protected:
    void TearDown() override {
        // Back to the start-up registrations.
        FreeFileTypes();
    }
};

TEST_F(RegistryTest, TheMpegCdTrackAndWaveReadersAreRegisteredAtStartUpByPriority) {
    ASSERT_EQ(Order(), (std::vector<std::string>{"TMMMPEGFile", "TMMCDAFile", "TMMWaveFile"}));
    EXPECT_EQ(RegisteredFileTypes()[0].Priority, 1);
    EXPECT_EQ(RegisteredFileTypes()[1].Priority, 4);
    EXPECT_EQ(RegisteredFileTypes()[2].Priority, 5);
    ASSERT_NE(FindFileType("TMMWaveFile"), nullptr);
    EXPECT_EQ(FindFileType("TMMNoSuchFile"), nullptr);
}

TEST_F(RegistryTest, EntriesAreOrderedByPriorityAndRegisteredOnce) {
    RegisterFileType(Named("TMMMPEGFile"), 1);  // registered at start-up: ignored
    RegisterFileType(Named("TMMCDAFile"), 2);  // registered at start-up: ignored
    EXPECT_EQ(Order(), (std::vector<std::string>{"TMMMPEGFile", "TMMCDAFile", "TMMWaveFile"}));
    EXPECT_EQ(FindFileType("TMMCDAFile")->Priority, 4);
    RegisterFileType(Named("Three"), 3);
    EXPECT_EQ(Order(), (std::vector<std::string>{"TMMMPEGFile", "Three", "TMMCDAFile", "TMMWaveFile"}));
    RegisterFileType(Named("Five"), 5);
    EXPECT_EQ(Order().back(), "Five");
    RegisterFileType<TMMWaveFile>(0);  // twice: ignored
    RegisterFileType(Named("Three"), 0);
    EXPECT_EQ(Order(), (std::vector<std::string>{"TMMMPEGFile", "Three", "TMMCDAFile", "TMMWaveFile", "Five"}));
    EXPECT_EQ(FindFileType("TMMWaveFile")->Priority, 5);
    EXPECT_TRUE(UnregisterFileType("Three"));
    EXPECT_FALSE(UnregisterFileType("Three"));
}

TEST_F(RegistryTest, NegativePrioritiesNeverStopTheWalk) {
    RegisterFileType(Named("Minus"), -1);
    EXPECT_EQ(Order(), (std::vector<std::string>{"Minus", "TMMMPEGFile", "TMMCDAFile", "TMMWaveFile"}));
    RegisterFileType(Named("Zero"), 0);
    EXPECT_EQ(Order(), (std::vector<std::string>{"Minus", "Zero", "TMMMPEGFile", "TMMCDAFile", "TMMWaveFile"}));
    // -5 walks past the -1 entry and stops at the first non-negative one above it.
    RegisterFileType(Named("MinusFive"), -5);
    EXPECT_EQ(Order(), (std::vector<std::string>{"Minus", "MinusFive", "Zero", "TMMMPEGFile", "TMMCDAFile", "TMMWaveFile"}));
    RegisterFileType(Named("Five"), 5);
    EXPECT_EQ(Order().back(), "Five");
}

TEST_F(RegistryTest, FreedListsStartOverWithTheStartUpEntries) {
    RegisterFileType(Named("Three"), 3);
    FreeFileTypes();
    EXPECT_EQ(Order(), (std::vector<std::string>{"TMMMPEGFile", "TMMCDAFile", "TMMWaveFile"}));
}

class WaveReaderTest : public ::testing::Test {
protected:
    TempDir dir{"reader"};
    wc::TComponent root{nullptr};
    TMMWaveFile& reader = wc::MakeComponent<TMMWaveFile>(root);
};

TEST_F(WaveReaderTest, CanReadJudgesTheExtensionBeforeOpening) {
    const auto wave = MakePcmWave(1, 8000, 8, std::vector<uint8_t>(80, 128));
    WriteFileBytes(dir / "a.wav", wave);
    WriteFileBytes(dir / "b.WAV", wave);
    WriteFileBytes(dir / "wave.mp3", wave);  // a wave under another name
    WriteFileBytes(dir / "noext", wave);
    WriteFileBytes(dir / "text", {'a', 'b', 'c'});
    WriteFileBytes(dir / "text.wav", {'a', 'b', 'c'});
    EXPECT_TRUE(reader.CanRead(dir / "a.wav"));
    EXPECT_TRUE(reader.CanRead(dir / "b.WAV"));
    EXPECT_FALSE(reader.CanRead(dir / "wave.mp3"));
    EXPECT_TRUE(reader.CanRead(dir / "noext"));
    EXPECT_FALSE(reader.CanRead(dir / "text"));
    EXPECT_FALSE(reader.CanRead(dir / "text.wav"));
    EXPECT_FALSE(reader.CanRead(dir / "missing.wav"));

    auto found = CreateFileReader(dir / "a.wav", &root);
    ASSERT_NE(found, nullptr);
    EXPECT_NE(dynamic_cast<TMMWaveFile*>(found.get()), nullptr);
    EXPECT_EQ(CreateFileReader(dir / "wave.mp3", &root), nullptr);
}

TEST_F(WaveReaderTest, FileInfoNamesKindLengthAndTitle) {
    WriteFileBytes(dir / "song.wav", MakePcmWave(2, 8000, 16, MakeTestSamples16(2, 12000)));
    TMMFileInfo info;
    info.Info[2] = 7;
    ASSERT_TRUE(reader.GetFileInfo(dir / "song.wav", info));
    EXPECT_EQ(info.Kind, 1u);
    EXPECT_EQ(info.LengthMs, 1500u);
    EXPECT_EQ(info.Info[2], 0u);
    EXPECT_EQ(info.Tag.Title, "song.wav");
    EXPECT_FALSE(reader.GetFileInfo(dir / "none.wav", info));
    EXPECT_EQ(reader.FileKind(), 1u);
    EXPECT_EQ(reader.GetFilterText(), "Wave Files(*.wav)|*.wav");
    EXPECT_EQ(reader.GetFileMask(), "*.wav");
    EXPECT_TRUE(reader.Enabled());
    EXPECT_THROW(reader.TrailingHeader(), wc::Exception);
}

TEST_F(WaveReaderTest, ReaderNumbersFollowTheWave) {
    WriteFileBytes(dir / "n.wav", MakePcmWave(2, 8000, 16, MakeTestSamples16(2, 4000)));
    EXPECT_EQ(reader.GetBlockSize(), 0);
    EXPECT_EQ(reader.SampleRate(), 0);
    reader.SetFileName(dir / "n.wav");
    EXPECT_EQ(reader.FileName(), dir / "n.wav");
    EXPECT_EQ(reader.GetBlockSize(), 4);
    EXPECT_EQ(reader.SampleRate(), 8000);
    EXPECT_EQ(reader.Channels(), 2);
    EXPECT_EQ(reader.Time(), 500);
    reader.Wave().SetTimeFormat(tfByte);
    EXPECT_EQ(reader.Time(), 500);
    reader.Wave().OpenFile();
    reader.SetPositionMs(250);
    EXPECT_EQ(reader.Position(), 2000 * 4);
    EXPECT_EQ(reader.PositionMs(), 250);
}

TEST(StreamableTest, TheEnvelopePointStoresAndLoadsThroughItsRecord) {
    const TStreamableRec* rec = FindStreamable("TMMEnvelopePoint");
    ASSERT_NE(rec, nullptr);
    TMMEnvelopePoint point(12, -7, true);
    TMMMemoryStream stream;
    rec->Store(stream, &point);
    EXPECT_EQ(stream.Bytes().size(), TMMEnvelopePoint::StreamSize);
    stream.SetPosition(0);
    TMMEnvelopePoint back;
    rec->Load(stream, &back);
    EXPECT_EQ(back.Position(), 12);
    EXPECT_EQ(back.Value(), -7);
    EXPECT_TRUE(back.Selected());
}

TEST(StreamableTest, NamesAreSortedAndRegisteredOnce) {
    int stores = 0;
    RegisterStreamable({"TMMAardvark", nullptr, [&](TMMStream&, const void*) { ++stores; }});
    RegisterStreamable({"TMMAardvark", nullptr, nullptr});  // ignored
    RegisterStreamable({"TMMZebra", nullptr, nullptr});
    EXPECT_EQ(StreamableClassNames(), (std::vector<std::string>{"TMMAardvark", "TMMEnvelopePoint", "TMMZebra"}));
    TMMMemoryStream stream;
    FindStreamable("TMMAardvark")->Store(stream, nullptr);
    EXPECT_EQ(stores, 1);
    FreeStreamables();
    EXPECT_EQ(StreamableClassNames(), (std::vector<std::string>{"TMMEnvelopePoint"}));
    EXPECT_EQ(FindStreamable("TMMZebra"), nullptr);
}

}  // namespace
