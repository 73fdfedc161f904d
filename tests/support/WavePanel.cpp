#include "WavePanel.h"

#include <algorithm>
#include <array>
#include <fstream>

#include "framework/Handles.h"
#include "TestSupport.h"

namespace testing_support {

HWND Panel(HWND frame) {
    // The format label (1003) and "Play" (1000) side by side.
    const auto isPanel = [](HWND window) { return ::GetDlgItem(window, 1003) && ::GetDlgItem(window, 1000); };
    if (isPanel(frame)) return frame;
    for (HWND child : Descendants(frame))
        if (isPanel(child)) return child;
    return nullptr;
}

HWND PanelControl(HWND frame, int id) {
    HWND panel = Panel(frame);
    return panel ? ::GetDlgItem(panel, id) : nullptr;
}

std::vector<int> Pixels::RowsOf(int x, uint32_t color) const {
    std::vector<int> rows;
    for (int y = 0; y < height; ++y)
        if (At(x, y) == color) rows.push_back(y);
    return rows;
}

bool Pixels::Contains(uint32_t color) const {
    for (uint32_t p : rgb)
        if (p == color) return true;
    return false;
}

static Pixels CaptureFrom(HDC source, int left, int top, int width, int height) {
    Pixels pixels;
    if (width <= 0 || height <= 0) return pixels;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    wc::BitmapHandle bitmap(::CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    wc::MemoryDcHandle memory(::CreateCompatibleDC(source));
    {
        wc::DcSelection selected(memory.get(), bitmap.get());
        ::BitBlt(memory.get(), 0, 0, width, height, source, left, top, SRCCOPY);
        ::GdiFlush();
    }
    pixels.width = width;
    pixels.height = height;
    const auto* raw = static_cast<const uint32_t*>(bits);
    pixels.rgb.assign(raw, raw + size_t(width) * size_t(height));
    for (uint32_t& p : pixels.rgb) p &= 0xFFFFFF;
    return pixels;
}

Pixels CaptureClient(HWND window) {
    RECT client{};
    ::GetClientRect(window, &client);
    wc::WindowDc dc(window);
    return CaptureFrom(dc.get(), 0, 0, client.right, client.bottom);
}

Pixels CaptureWindow(HWND window) {
    RECT bounds{};
    ::GetWindowRect(window, &bounds);
    wc::WindowDc screen(nullptr);
    return CaptureFrom(screen.get(), bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top);
}

namespace {

uint32_t Crc32(const std::vector<uint8_t>& data, size_t from) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = from; i < data.size(); ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

void PutBE32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
}

void Chunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& body) {
    PutBE32(png, uint32_t(body.size()));
    const size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), body.begin(), body.end());
    PutBE32(png, Crc32(png, start));
}

}  // namespace

bool SavePng(const Pixels& pixels, const std::string& path) {
    if (pixels.width <= 0 || pixels.height <= 0) return false;
    std::vector<uint8_t> raw;  // filter byte 0, then RGB per row
    for (int y = 0; y < pixels.height; ++y) {
        raw.push_back(0);
        for (int x = 0; x < pixels.width; ++x) {
            const uint32_t p = pixels.At(x, y);
            raw.push_back(uint8_t(p >> 16));
            raw.push_back(uint8_t(p >> 8));
            raw.push_back(uint8_t(p));
        }
    }
    // zlib stream of stored (uncompressed) deflate blocks.
    std::vector<uint8_t> z{0x78, 0x01};
    for (size_t at = 0; at < raw.size() || at == 0;) {
        const size_t n = std::min<size_t>(65535, raw.size() - at);
        const bool last = at + n >= raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back(uint8_t(n));
        z.push_back(uint8_t(n >> 8));
        z.push_back(uint8_t(~n));
        z.push_back(uint8_t(~n >> 8));
        z.insert(z.end(), raw.begin() + ptrdiff_t(at), raw.begin() + ptrdiff_t(at + n));
        at += n;
        if (last) break;
    }
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    PutBE32(z, (b << 16) | a);

    std::vector<uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    PutBE32(header, uint32_t(pixels.width));
    PutBE32(header, uint32_t(pixels.height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
    Chunk(png, "IHDR", header);
    Chunk(png, "IDAT", z);
    Chunk(png, "IEND", {});
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
    return bool(file);
}

}  // namespace testing_support
