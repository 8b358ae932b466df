// Screenshots of the pages: a window's pixels read back from the screen and written as an
// uncompressed PNG, so that no image library is needed in the Windows test programs.
#pragma once

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace vemox::testing {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb; // rows top to bottom

    // How many different colours the image holds: a blank capture has one.
    std::size_t Colours() const {
        std::set<std::uint32_t> seen;
        for (std::size_t i = 0; i + 2 < rgb.size(); i += 3) {
            seen.insert(std::uint32_t{rgb[i]} << 16 | std::uint32_t{rgb[i + 1]} << 8 | rgb[i + 2]);
        }
        return seen.size();
    }
};

// The window's area as it is on the screen, children included.
inline Image Capture(HWND window) {
    RECT r{};
    ::GetWindowRect(window, &r);
    Image image;
    image.width = r.right - r.left;
    image.height = r.bottom - r.top;
    HDC screen = ::GetDC(window);
    HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = image.width;
    info.bmiHeader.biHeight = -image.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, image.width, image.height, screen, 0, 0, SRCCOPY);
    ::GdiFlush();
    const auto* bgra = static_cast<const std::uint8_t*>(bits);
    image.rgb.reserve(static_cast<std::size_t>(image.width * image.height * 3));
    for (int i = 0; i < image.width * image.height; ++i) {
        image.rgb.push_back(bgra[4 * i + 2]);
        image.rgb.push_back(bgra[4 * i + 1]);
        image.rgb.push_back(bgra[4 * i]);
    }
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(window, screen);
    return image;
}

namespace png {

inline std::uint32_t Crc(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) {
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    }
    return ~crc;
}

inline void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(v >> shift));
    }
}

inline void Chunk(std::vector<std::uint8_t>& out, const char* type,
                  const std::vector<std::uint8_t>& data) {
    Put32(out, static_cast<std::uint32_t>(data.size()));
    std::vector<std::uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    Put32(out, Crc(body.data(), body.size()));
}

} // namespace png

// Writes the image as an 8-bit RGB PNG whose pixel data sits in stored (uncompressed) blocks.
inline bool WritePng(const Image& image, const std::string& path) {
    std::vector<std::uint8_t> raw;
    const std::size_t row = static_cast<std::size_t>(image.width) * 3;
    for (int y = 0; y < image.height; ++y) {
        raw.push_back(0); // no filter
        raw.insert(raw.end(), image.rgb.begin() + static_cast<std::ptrdiff_t>(y * row),
                   image.rgb.begin() + static_cast<std::ptrdiff_t>((y + 1) * row));
    }
    std::vector<std::uint8_t> z{0x78, 0x01};
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (std::uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    for (std::size_t at = 0; at < raw.size() || at == 0; at += 65535) {
        const std::size_t n = std::min<std::size_t>(65535, raw.size() - at);
        z.push_back(at + n >= raw.size() ? 1 : 0);
        z.push_back(static_cast<std::uint8_t>(n));
        z.push_back(static_cast<std::uint8_t>(n >> 8));
        z.push_back(static_cast<std::uint8_t>(~n));
        z.push_back(static_cast<std::uint8_t>(~n >> 8));
        z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                 raw.begin() + static_cast<std::ptrdiff_t>(at + n));
        if (raw.empty()) {
            break;
        }
    }
    png::Put32(z, b << 16 | a);

    std::vector<std::uint8_t> file{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> header;
    png::Put32(header, static_cast<std::uint32_t>(image.width));
    png::Put32(header, static_cast<std::uint32_t>(image.height));
    header.insert(header.end(), {8, 2, 0, 0, 0});
    png::Chunk(file, "IHDR", header);
    png::Chunk(file, "IDAT", z);
    png::Chunk(file, "IEND", {});
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()),
              static_cast<std::streamsize>(file.size()));
    return static_cast<bool>(out);
}

} // namespace vemox::testing
