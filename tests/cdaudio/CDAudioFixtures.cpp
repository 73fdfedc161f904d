#include "CDAudioFixtures.h"

#include <algorithm>

#include "framework/Components.h"

namespace cdaudio_tests {

// Every command completes a moment later on the drive's own thread, as a
// real drive's do: the readers must wait for their requests.
const char* const kDisc =
    "device 0 0 0 vendor=\"PLEXTOR\" product=\"PX-TEST\"\n"
    "pending 1\n"
    "track 1 0 0\n"
    "track 2 0 1000\n"
    "track 3 0 1100\n"
    "leadout 2000\n"
    "cdtext 0 0x80 \"Disc Title\" \"First Song\" \"Second Song\"\n"
    "cdtext 0 0x81 \"Disc Artist\" \"Singer One\" \"Singer Two\"\n";

std::vector<std::string> Commands(const std::vector<VirtualDriveLogRecord>& records) {
    std::vector<std::string> texts;
    for (const auto& record : records) texts.push_back(CdbText(record));
    return texts;
}

std::vector<std::string> CommandsOf(const std::vector<VirtualDriveLogRecord>& records, uint8_t opcode) {
    std::vector<std::string> texts;
    for (const auto& record : records)
        if (record.cdb[0] == opcode) texts.push_back(CdbText(record));
    return texts;
}

void CDAudioTest::SetUp() {
    // The virtual drive is the ASPI manager only when Wine was told to load
    // it instead of its own (WINEDLLOVERRIDES in the CTest test).
    ASSERT_TRUE(drive_.loaded()) << "WNASPI32.DLL here is not the virtual drive; run through CTest";
    const char root[] = {kDriveLetter, ':', '\\', 0};
    ASSERT_EQ(::GetDriveTypeA(root), UINT(DRIVE_CDROM))
        << "X: is not a CD-ROM drive in this Wine prefix; scripts/env.sh maps it before the server starts";
    ASSERT_TRUE(drive_.Describe(kDisc));
    Mark();
}

void CDAudioTest::TearDown() {}

std::vector<VirtualDriveLogRecord> CDAudioTest::Since() const {
    std::vector<VirtualDriveLogRecord> all = drive_.Log();
    return std::vector<VirtualDriveLogRecord>(all.begin() + std::ptrdiff_t(std::min(mark_, all.size())), all.end());
}

TMMCDReader& CDAudioTest::NewReader() {
    TMMCDReader& reader = wc::MakeComponent<TMMCDReader>(root_);
    EXPECT_EQ(reader.Devices().size(), 1u);
    if (!reader.Devices().empty()) {
        reader.SetDeviceID(0);
        EXPECT_TRUE(reader.ReadTOC());
    }
    return reader;
}

testing_support::TestSink& CDAudioTest::StartReading(TMMCDReader& reader) {
    testing_support::TestSink& sink = wc::MakeComponent<testing_support::TestSink>(root_);
    sink.SetInput(&reader);
    reader.Opened();
    reader.Started();
    return sink;
}

std::vector<uint8_t> CDAudioTest::ReadAll(TMMCDReader& reader, uint32_t bufferSize) {
    testing_support::TestSink& sink = StartReading(reader);
    std::vector<uint8_t> data = sink.PullAll(bufferSize, 100000);
    reader.Stopped();
    reader.Closed();
    sink.SetInput(nullptr);
    return data;
}

}  // namespace cdaudio_tests
