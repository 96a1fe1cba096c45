// The design's fonts made for the screen: size in pixels, and a bold that shows.
#include "app/win32/fonts.h"

#include <cmath>
#include <cstdint>
#include <cwchar>
#include <string>

namespace ssr::win32 {

namespace {

// A bold counts as showing when it puts at least this much more ink on the
// screen than the regular weight; a real bold puts on 60 to 90 per cent more.
constexpr double kBoldInkRatio = 1.3;
constexpr wchar_t kInkSample[] = L"Programs and Features Entries";

LOGFONTW FontOf(const FontDesign& design, int dpi) {
    LOGFONTW font{};
    font.lfHeight = -static_cast<LONG>(std::lround(design.points * dpi / 72.0));
    font.lfWeight = design.bold ? FW_BOLD : FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = CLEARTYPE_QUALITY;
    const std::wstring face(design.face.begin(), design.face.end());
    face.copy(font.lfFaceName, LF_FACESIZE - 1);
    return font;
}

}  // namespace

long long InkOf(const LOGFONTW& font, const wchar_t* text) {
    const UniqueHfont handle(::CreateFontIndirectW(&font));
    const UniqueHdc dc(::CreateCompatibleDC(nullptr));
    if (!handle || !dc) return 0;
    const HGDIOBJ old_font = ::SelectObject(dc.get(), handle.get());
    const int length = static_cast<int>(std::wcslen(text));
    SIZE extent{};
    ::GetTextExtentPoint32W(dc.get(), text, length, &extent);
    const int width = extent.cx + 4;
    const int height = extent.cy + 4;

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    const UniqueHbitmap bitmap(::CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    long long ink = 0;
    if (bitmap && bits && extent.cx > 0) {
        const HGDIOBJ old_bitmap = ::SelectObject(dc.get(), bitmap.get());
        RECT all{0, 0, width, height};
        ::FillRect(dc.get(), &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
        ::SetTextColor(dc.get(), RGB(0, 0, 0));
        ::SetBkMode(dc.get(), TRANSPARENT);
        ::TextOutW(dc.get(), 2, 2, text, length);
        ::GdiFlush();
        const auto* pixels = static_cast<const std::uint8_t*>(bits);
        for (int i = 0; i < width * height; ++i)
            for (int channel = 0; channel < 3; ++channel) ink += 255 - pixels[i * 4 + channel];
        ::SelectObject(dc.get(), old_bitmap);
    }
    ::SelectObject(dc.get(), old_font);
    return ink;
}

UniqueHfont MakeFont(const FontDesign& design, int dpi) {
    LOGFONTW font = FontOf(design, dpi);
    if (design.bold) {
        // Where Arial is missing, Wine stands Liberation Sans in for it, and
        // smoothed at 9 pt that bold has its stems hinted down to the regular
        // weight's one pixel: the rows would read as regular. Unsmoothed, the
        // same hints keep the bold stems two pixels wide.
        LOGFONTW regular = font;
        regular.lfWeight = FW_NORMAL;
        const long long regular_ink = InkOf(regular, kInkSample);
        if (regular_ink > 0 && InkOf(font, kInkSample) < kBoldInkRatio * static_cast<double>(regular_ink))
            font.lfQuality = NONANTIALIASED_QUALITY;
    }
    return UniqueHfont(::CreateFontIndirectW(&font));
}

}  // namespace ssr::win32
