#pragma once
// The design's fonts as Windows fonts, in the weight the design names.

#include "app/win32/window_handles.h"
#include "application/layout.h"

namespace ssr::win32 {

// The design's font at `dpi` dots per inch. A bold that smoothing would draw
// hardly heavier than the regular weight is drawn unsmoothed instead.
[[nodiscard]] UniqueHfont MakeFont(const FontDesign& design, int dpi);

// How dark `text` comes out in `font`, black on white: the sum over its
// pixels of how far each is from white. 0 when nothing could be drawn.
[[nodiscard]] long long InkOf(const LOGFONTW& font, const wchar_t* text);

}  // namespace ssr::win32
