// Envelope points in streams, device id names, worker threads and the
// library's cursors.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <set>
#include <vector>

#include "framework/Exceptions.h"
#include "framework/Layout.h"
#include "media/playback/MMObj.h"
#include "support/TestSupport.h"

TEST(MMEnvelopePointStream, WritesNineLittleEndianBytesWithoutPadding) {
    TMMMemoryStream stream;
    TMMEnvelopePoint(0x12345678, -2, true).WriteToStream(stream);
    const std::vector<uint8_t> expected = {0x78, 0x56, 0x34, 0x12, 0xFE, 0xFF, 0xFF, 0xFF, 0x01};
    EXPECT_EQ(stream.Bytes(), expected);
    EXPECT_EQ(TMMEnvelopePoint::StreamSize, 9u);
}

TEST(MMEnvelopePointStream, PointsReadBackInTheOrderWritten) {
    TMMMemoryStream stream;
    const TMMEnvelopePoint points[] = {{0, 0, false}, {100, 32767, true}, {INT32_MIN, INT32_MAX, false}};
    for (const auto& point : points) point.WriteToStream(stream);
    ASSERT_EQ(stream.Bytes().size(), 3 * TMMEnvelopePoint::StreamSize);
    stream.SetPosition(0);
    for (const auto& point : points) {
        TMMEnvelopePoint read(7, 7, true);
        read.ReadFromStream(stream);
        EXPECT_EQ(read.Position(), point.Position());
        EXPECT_EQ(read.Value(), point.Value());
        EXPECT_EQ(read.Selected(), point.Selected());
    }
    EXPECT_EQ(stream.Position(), stream.Bytes().size());
}

TEST(MMEnvelopePointStream, AnyNonZeroFlagByteReadsAsSelected) {
    TMMMemoryStream stream({1, 0, 0, 0, 2, 0, 0, 0, 0x80});
    TMMEnvelopePoint point;
    point.ReadFromStream(stream);
    EXPECT_EQ(point.Position(), 1);
    EXPECT_EQ(point.Value(), 2);
    EXPECT_TRUE(point.Selected());
}

TEST(MMEnvelopePointStream, ShortStreamThrowsAndLeavesThePointAsItWas) {
    TMMMemoryStream stream({1, 0, 0, 0, 2, 0, 0, 0});  // the flag byte is missing
    TMMEnvelopePoint point(5, 6, true);
    EXPECT_THROW(point.ReadFromStream(stream), wc::Exception);
    EXPECT_EQ(point.Position(), 5);
    EXPECT_EQ(point.Value(), 6);
    EXPECT_TRUE(point.Selected());
}

TEST(MMMemoryStream, WritingInsideOverwritesAndPastTheEndGrows) {
    TMMMemoryStream stream({1, 2, 3, 4});
    stream.SetPosition(2);
    stream.WriteUInt32(0x0A090807);
    EXPECT_EQ(stream.Bytes(), (std::vector<uint8_t>{1, 2, 7, 8, 9, 10}));
    stream.SetPosition(8);
    stream.WriteUInt8(5);
    EXPECT_EQ(stream.Bytes(), (std::vector<uint8_t>{1, 2, 7, 8, 9, 10, 0, 0, 5}));
    stream.SetPosition(20);
    uint8_t byte = 0;
    EXPECT_THROW(stream.ReadBuffer(&byte, 1), wc::Exception);
}

TEST(MMDeviceIdNames, SpecialIdsHaveNamesOthersAreNumbers) {
    EXPECT_EQ(DeviceIdToString(-1), "MapperId");
    EXPECT_EQ(DeviceIdToString(-2), "InvalidId");
    EXPECT_EQ(DeviceIdToString(0), "0");
    EXPECT_EQ(DeviceIdToString(-3), "-3");
    EXPECT_EQ(DeviceIdToString(12), "12");
    std::string ident = "untouched";
    EXPECT_FALSE(DeviceIdToIdent(3, ident));
    EXPECT_EQ(ident, "untouched");
}

TEST(MMDeviceIdNames, NamesMatchInAnyCaseNumbersParse) {
    TMMDeviceId id = 0;
    EXPECT_TRUE(StringToDeviceId("mapperid", id));
    EXPECT_EQ(id, MapperId);
    EXPECT_TRUE(StringToDeviceId("INVALIDID", id));
    EXPECT_EQ(id, InvalidId);
    EXPECT_TRUE(StringToDeviceId("7", id));
    EXPECT_EQ(id, 7);
    EXPECT_TRUE(StringToDeviceId("-1", id));
    EXPECT_EQ(id, MapperId);
    EXPECT_TRUE(StringToDeviceId("+4", id));
    EXPECT_EQ(id, 4);
}

TEST(MMDeviceIdNames, OtherTextsAreRefusedAndLeaveTheId) {
    TMMDeviceId id = 42;
    for (const char* text : {"", "Mapper", "MapperIds", "1x", "+", "99999999999", " 1"}) {
        EXPECT_FALSE(StringToDeviceId(text, id)) << text;
        EXPECT_EQ(id, 42) << text;
    }
}

TEST(MMDeviceIdNames, LayoutsStoreIdsByNameOrNumber) {
    const wc::LayoutObject layout = wc::ParseLayout(
        "object Out: TMMWaveOut\n"
        "  A = MapperId\n  B = invalidid\n  C = 3\n  D = -2\n"
        "  E = Mapper\n  F = 4294967296\n  G = 'MapperId'\n"
        "end\n");
    ASSERT_EQ(layout.properties.size(), 7u);
    EXPECT_EQ(LayoutDeviceId(layout.properties[0].second), MapperId);
    EXPECT_EQ(LayoutDeviceId(layout.properties[1].second), InvalidId);
    EXPECT_EQ(LayoutDeviceId(layout.properties[2].second), 3);
    EXPECT_EQ(LayoutDeviceId(layout.properties[3].second), InvalidId);
    for (size_t i = 4; i < 7; ++i)
        EXPECT_THROW(LayoutDeviceId(layout.properties[i].second), wc::Exception) << layout.properties[i].first;
}

namespace {

// Counts until told to stop, then returns its count.
class CountingThread : public TMMThreadEx {
public:
    ~CountingThread() override {
        Terminate();
        WaitFor();
    }
    std::atomic<int> count{0};
    std::atomic<bool> started{false};

protected:
    void Execute() override {
        started = true;
        while (!Terminated()) {
            ++count;
            Sleep(1);
        }
        SetReturnValue(uint32_t(count.load()) | 0x80000000u);
    }
};

}  // namespace

TEST(MMThreadEx, RunsItsBodyOnAnotherThreadUntilTerminated) {
    CountingThread thread;
    EXPECT_FALSE(thread.Finished());
    ASSERT_TRUE(thread.Start());
    EXPECT_FALSE(thread.Start()) << "a thread runs its body once";
    ASSERT_TRUE(testing_support::WaitUntil([&] { return thread.count >= 3; })) << "it counted " << thread.count;
    thread.Terminate();
    const uint32_t result = thread.WaitFor();
    EXPECT_TRUE(thread.Finished());
    EXPECT_EQ(result, uint32_t(thread.count.load()) | 0x80000000u);
    EXPECT_FALSE(thread.Start());
}

TEST(MMThreadEx, AThreadNeverStartedEndsCleanly) {
    CountingThread thread;
    EXPECT_EQ(thread.WaitFor(), 0u);
    EXPECT_FALSE(thread.started);
}

TEST(MMCursors, AllThirtyOneLoadAsDistinctCursorsWithTheTipAsHotSpot) {
    std::set<HCURSOR> seen;
    for (int id = MMCursorFirst; id < MMCursorFirst + MMCursorCount; ++id) {
        const HCURSOR cursor = MMCursor(id);
        ASSERT_NE(cursor, nullptr) << id;
        seen.insert(cursor);
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(cursor, &info)) << id;
        EXPECT_FALSE(info.fIcon) << id;
        EXPECT_EQ(info.xHotspot, 0u) << id;
        EXPECT_EQ(info.yHotspot, 0u) << id;
        if (info.hbmMask) DeleteObject(info.hbmMask);
        if (info.hbmColor) DeleteObject(info.hbmColor);
    }
    EXPECT_EQ(seen.size(), size_t(MMCursorCount));
    EXPECT_EQ(MMCursor(MMCursorFirst), MMCursor(MMCursorFirst)) << "loaded once";
}

// The images themselves: no two of the set look alike.
TEST(MMCursors, EachCursorHasItsOwnImage) {
    std::set<std::vector<uint8_t>> images;
    for (int id = MMCursorFirst; id < MMCursorFirst + MMCursorCount; ++id) {
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(MMCursor(id), &info)) << id;
        BITMAP bitmap{};
        ASSERT_NE(GetObjectA(info.hbmMask, sizeof bitmap, &bitmap), 0) << id;
        std::vector<uint8_t> bits(size_t(bitmap.bmWidthBytes) * size_t(bitmap.bmHeight));
        EXPECT_EQ(GetBitmapBits(info.hbmMask, LONG(bits.size()), bits.data()), LONG(bits.size())) << id;
        images.insert(bits);
        DeleteObject(info.hbmMask);
        if (info.hbmColor) DeleteObject(info.hbmColor);
    }
    EXPECT_EQ(images.size(), size_t(MMCursorCount));
}

TEST(MMCursors, NumbersOutsideTheSetGiveNone) {
    EXPECT_EQ(MMCursor(MMCursorFirst - 1), nullptr);
    EXPECT_EQ(MMCursor(MMCursorFirst + MMCursorCount), nullptr);
}
