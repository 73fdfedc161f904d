#include "media/wave/MMBufferedFile.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "framework/Strings.h"

namespace {

// One system transfer moves at most this much: ReadFile and WriteFile count
// in 32 bits.
constexpr int64_t kLargestTransfer = 1 << 30;

}  // namespace

BufferedFile& BufferedFile::operator=(BufferedFile&& other) noexcept {
    if (this != &other) {
        reset();
        file_ = std::move(other.file_);
        bufferSize_ = other.bufferSize_;
        buffer_ = std::move(other.buffer_);
        bufferStart_ = other.bufferStart_;
        bufferFill_ = std::exchange(other.bufferFill_, 0);
        collecting_ = std::exchange(other.collecting_, false);
        position_ = other.position_;
        pointer_ = other.pointer_;
    }
    return *this;
}

bool BufferedFile::Open(std::string_view path, Access access) {
    reset();
    const std::wstring name = wc::PathToWide(path);
    const DWORD rights = access == Access::Read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    const DWORD creation = access == Access::Create ? CREATE_ALWAYS : OPEN_EXISTING;
    // Others may read and write as with the system's multimedia file I/O,
    // and replace or delete the file while it is open.
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    file_.reset(::CreateFileW(name.c_str(), rights, share, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr));
    bufferStart_ = 0;
    bufferFill_ = 0;
    collecting_ = false;
    position_ = 0;
    pointer_ = 0;
    return file_.valid();
}

void BufferedFile::reset() noexcept {
    if (file_) Flush();
    file_.reset();
    bufferFill_ = 0;
    collecting_ = false;
    position_ = 0;
}

bool BufferedFile::Seek(int64_t offset) noexcept {
    if (!file_ || offset < 0) return false;
    position_ = offset;
    return true;
}

int64_t BufferedFile::Size() noexcept {
    if (!file_ || !Flush()) return -1;
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file_.get(), &size)) return -1;
    return size.QuadPart;
}

bool BufferedFile::PlacePointer(int64_t offset) noexcept {
    if (pointer_ == offset) return true;
    LARGE_INTEGER at;
    at.QuadPart = offset;
    pointer_ = ::SetFilePointerEx(file_.get(), at, nullptr, FILE_BEGIN) ? offset : -1;
    return pointer_ == offset;
}

bool BufferedFile::ReadAt(int64_t offset, void* buffer, DWORD count, DWORD& got) noexcept {
    got = 0;
    if (!PlacePointer(offset)) return false;
    if (!::ReadFile(file_.get(), buffer, count, &got, nullptr)) {
        pointer_ = -1;
        return false;
    }
    pointer_ += got;
    return true;
}

bool BufferedFile::WriteAt(int64_t offset, const void* buffer, int64_t count) noexcept {
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    if (count > 0 && !PlacePointer(offset)) return false;
    while (count > 0) {
        const DWORD part = DWORD(std::min(count, kLargestTransfer));
        DWORD written = 0;
        const bool done = ::WriteFile(file_.get(), bytes, part, &written, nullptr);
        pointer_ = done ? pointer_ + written : -1;
        if (!done || written != part) return false;
        bytes += part;
        count -= part;
    }
    return true;
}

int64_t BufferedFile::Read(void* buffer, int64_t count) noexcept {
    if (!file_ || !buffer || count < 0) return -1;
    if (!Flush()) return -1;
    auto* out = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        // From what the buffer holds of the file.
        if (position_ >= bufferStart_ && position_ < bufferStart_ + int64_t(bufferFill_)) {
            const size_t from = size_t(position_ - bufferStart_);
            const size_t take = size_t(std::min<int64_t>(count - done, int64_t(bufferFill_ - from)));
            std::memcpy(out + done, buffer_.data() + from, take);
            done += int64_t(take);
            position_ += int64_t(take);
            continue;
        }
        const int64_t wanted = count - done;
        DWORD got = 0;
        if (wanted >= bufferSize_) {
            // Straight into the caller's memory.
            if (!ReadAt(position_, out + done, DWORD(std::min(wanted, kLargestTransfer)), got))
                return done ? done : -1;
            done += got;
            position_ += got;
            if (got == 0) break;
            continue;
        }
        try {
            buffer_.resize(size_t(bufferSize_));
        } catch (const std::bad_alloc&) {
            return done ? done : -1;
        }
        bufferStart_ = position_;
        bufferFill_ = 0;
        if (!ReadAt(position_, buffer_.data(), DWORD(bufferSize_), got)) return done ? done : -1;
        bufferFill_ = got;
        if (got == 0) break;
    }
    return done;
}

bool BufferedFile::Write(const void* buffer, int64_t count) noexcept {
    if (!file_ || !buffer || count < 0) return false;
    if (count == 0) return true;
    // Bytes continue the collected ones only where those end.
    if (!collecting_ || position_ != bufferStart_ + int64_t(bufferFill_)) {
        if (!Flush()) return false;
        bufferFill_ = 0;
        bufferStart_ = position_;
    }
    if (int64_t(bufferFill_) + count > bufferSize_) {
        if (!Flush()) return false;
        if (count >= bufferSize_) {
            if (!WriteAt(position_, buffer, count)) return false;
            position_ += count;
            return true;
        }
        bufferStart_ = position_;
    }
    try {
        buffer_.resize(size_t(bufferSize_));
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::memcpy(buffer_.data() + bufferFill_, buffer, size_t(count));
    bufferFill_ += size_t(count);
    collecting_ = true;
    position_ += count;
    return true;
}

bool BufferedFile::Flush() noexcept {
    if (!collecting_) return true;
    const bool written = WriteAt(bufferStart_, buffer_.data(), int64_t(bufferFill_));
    // Written or not, the bytes are no read-ahead of the file.
    collecting_ = false;
    bufferFill_ = 0;
    return written;
}

bool BufferedFile::SetBufferSize(int32_t size) noexcept {
    if (!file_ || size < 0 || !Flush()) return false;
    bufferSize_ = size;
    bufferFill_ = 0;
    std::vector<uint8_t>().swap(buffer_);
    return true;
}

bool BufferedFile::Truncate(int64_t size) noexcept {
    if (!file_ || size < 0 || !Flush()) return false;
    bufferFill_ = 0;
    return PlacePointer(size) && ::SetEndOfFile(file_.get());
}
