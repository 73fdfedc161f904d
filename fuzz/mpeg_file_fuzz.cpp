// The library's file layer (mpegdec/MpegFile.h: frame counts, trimming,
// seeks, reads and the file cache) over any bytes, through the ByteSource
// seam, with a read error where the input asks for one. A file that reads
// without error must decode to its stated length and end where its frame
// count says; a seek, open or closed, by sample or by frame, and an abort
// before a read, must give the samples a decode from the start gives there.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "FuzzInput.h"
#include "mpegdec/MpegFile.h"
#include "mpegdec/MpegStatus.h"

using namespace mpegdec;

namespace {

// Bytes in memory whose reads fail, from the `failAfter`th read on, where
// they cover `failAt`.
class FaultySource final : public ByteSource {
public:
    FaultySource(const std::vector<uint8_t>& bytes, bool fail, uint64_t failAt, uint32_t failAfter)
        : bytes_(bytes), fail_(fail), failAt_(failAt), failAfter_(failAfter) {}
    uint64_t Size() const override { return bytes_.size(); }
    int64_t Read(uint64_t offset, std::span<uint8_t> out) override {
        if (fail_ && reads_++ >= failAfter_ && offset <= failAt_ && failAt_ < offset + out.size()) return -1;
        return MemorySource(bytes_).Read(offset, out);
    }

private:
    const std::vector<uint8_t>& bytes_;
    bool fail_;
    uint64_t failAt_;
    uint32_t failAfter_;
    uint32_t reads_ = 0;
};

// Reads an open file to its end in reads of `chunk` bytes; false on an error.
bool ReadToEnd(MpegFile& file, uint32_t chunk, std::vector<int16_t>& out) {
    std::vector<int16_t> buffer(chunk / 2 + 1);
    // Each read gives at least one sample frame until the end.
    for (;;) {
        const int32_t got = file.Read(buffer.data(), int32_t(chunk), nullptr);
        if (got < 0) return false;
        if (got > int32_t(chunk) || got % (2 * file.OutChannels()) != 0) std::abort();
        out.insert(out.end(), buffer.begin(), buffer.begin() + got / 2);
        if (got == 0) {
            if (!file.Done()) std::abort();
            return true;
        }
    }
}

// The samples of `whole` from sample frame `from` on.
std::vector<int16_t> From(const std::vector<int16_t>& whole, uint64_t from, int channels) {
    const size_t at = size_t(std::min<uint64_t>(from * uint64_t(channels), whole.size()));
    return std::vector<int16_t>(whole.begin() + std::ptrdiff_t(at), whole.end());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    FuzzInput in(data, size);
    const uint8_t flags = in.U8();
    const uint32_t offset = (flags & 8) ? in.U8() : 0;
    const uint32_t trailing = in.U16() % 1024;
    const uint32_t chunk = 4 + in.U16() % 20000;
    const uint16_t seekAt = in.U16();
    const uint32_t failAt = in.U32();
    const uint32_t failAfter = in.U8();
    const std::vector<uint8_t> bytes = in.Rest();
    const bool fail = (flags & 4) != 0 && !bytes.empty();

    MpegFile file;
    const int32_t status = file.Set(std::make_unique<FaultySource>(bytes, fail, failAt % (bytes.size() + 1), failAfter), offset, trailing);
    if (status != MPEG_OK) {
        if (!file.Empty()) std::abort();
        return 0;
    }
    file.SetOutputMode(OutputMode(flags & 3));
    const int channels = file.OutChannels();
    const uint32_t perFrame = uint32_t(file.First().SamplesPerFrame());
    if (file.Frames() < 1 || file.PlayTimeMs() < 0 || file.MsPerFrame() <= 0) std::abort();

    std::vector<int16_t> whole;
    if (file.Open() != MPEG_OK || !ReadToEnd(file, chunk, whole)) {
        if (!fail) std::abort();
        return 0;
    }
    // Read to the end, the file is all indexed: its length and count are exact.
    if (!file.IndexComplete() || whole.size() != file.Length() * uint64_t(channels) || file.Position() != file.Frames()) std::abort();

    // Open, by sample, after an abort that no read was there to take.
    const uint64_t sample = file.Length() * seekAt / 65536;
    std::vector<int16_t> again;
    if (file.SeekSample(sample) != MPEG_OK) std::abort();
    file.Abort();
    if (!ReadToEnd(file, chunk, again)) return 0;  // a read error further on
    if (again != From(whole, sample, channels)) std::abort();

    // Closed, by frame, then opened.
    const int32_t frame = int32_t(uint64_t(file.Frames()) * (65535 - seekAt) / 65536);
    file.Close();
    if (file.SeekFrame(frame) != MPEG_OK || file.SeekFrame(int64_t(file.Frames()) + 1) != MPEG_ERR_POSITION) std::abort();
    again.clear();
    if (file.Open() != MPEG_OK || !ReadToEnd(file, chunk, again)) return 0;
    if (again != From(whole, uint64_t(frame) * perFrame, channels)) std::abort();
    return 0;
}
