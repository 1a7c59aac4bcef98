// Raw 32-bit access to a bitmap's pixels for the drawing loops, held for one operation.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "client/debug_log.h"

#include <wx/bitmap.h>
#include <wx/rawbmp.h>

// Acquires the pixel memory on construction and releases it on destruction. Evaluates to
// false when the bitmap has no pixels or the toolkit refuses 32-bit access.
class pixel_access {
  public:
    explicit pixel_access(const wxBitmap &bitmap) {
        // Raw access does not change what the bitmap shows to anyone else, hence the cast.
        wxBitmap &target = const_cast<wxBitmap &>(bitmap);
        if (!target.IsOk())
            return;
        data.emplace(target);
        if (!*data)
            return;
        base = reinterpret_cast<unsigned char *>(data->GetPixels().m_ptr);
        stride = data->GetRowStride();
        width = data->GetWidth();
        height = data->GetHeight();
    }
    pixel_access(const pixel_access &) = delete;
    pixel_access &operator=(const pixel_access &) = delete;

    explicit operator bool() const { return base != nullptr; }
    // Pixel (x, y), which must lie inside the bitmap.
    unsigned char *pixel(int x, int y) const {
        return base + static_cast<ptrdiff_t>(y) * stride + 4 * static_cast<ptrdiff_t>(x);
    }

    int width = 0;
    int height = 0;

  private:
    std::optional<wxAlphaPixelData> data;
    unsigned char *base = nullptr;
    int stride = 0;
};

// The part of a source of source_width x source_height that lands inside a destination of
// dest_width x dest_height when the source's top-left pixel goes to (x, y): source columns
// [first_x, end_x) and rows [first_y, end_y). Returns false when nothing overlaps.
struct copy_window {
    int first_x, end_x, first_y, end_y;
};
inline bool clip_copy(int dest_width, int dest_height, int source_width, int source_height, int x,
                      int y, copy_window &window) {
    int64_t first_x = std::max<int64_t>(0, -int64_t(x));
    int64_t end_x = std::min<int64_t>(source_width, int64_t(dest_width) - x);
    int64_t first_y = std::max<int64_t>(0, -int64_t(y));
    int64_t end_y = std::min<int64_t>(source_height, int64_t(dest_height) - y);
    if (first_x >= end_x || first_y >= end_y)
        return false;
    window = {int(first_x), int(end_x), int(first_y), int(end_y)};
    return true;
}

// Calls blend(d, s) for every source pixel s (R, G, B, A bytes) that lands on a destination
// pixel d when the source's top-left pixel goes to (x, y); rows and columns falling outside
// are skipped. A source that is the destination itself is copied first, so that no pixel is
// read after it was overwritten. When either bitmap's pixels cannot be reached nothing is
// drawn and, at log level > 1, "Error in qorl_bitmap::<operation>(), pixel data dest failed?"
// (or "src") is logged.
template <typename Bitmap, typename Blend>
void blend_bitmap(Bitmap &destination, const Bitmap &source, int x, int y, const char *operation,
                  Blend blend) {
    if (&source == &destination) {
        const Bitmap copy(source);
        blend_bitmap(destination, copy, x, y, operation, blend);
        return;
    }
    pixel_access dest(destination.GetWxBitmap());
    if (!dest) {
        if (log_level > 1)
            log_printf("Error in qorl_bitmap::%s(), pixel data dest failed?\n", operation);
        return;
    }
    pixel_access src(source.GetWxBitmap());
    if (!src) {
        if (log_level > 1)
            log_printf("Error in qorl_bitmap::%s(), pixel data src failed?\n", operation);
        return;
    }
    copy_window w;
    if (!clip_copy(dest.width, dest.height, src.width, src.height, x, y, w))
        return;
    for (int sy = w.first_y; sy < w.end_y; sy++) {
        const unsigned char *s = src.pixel(w.first_x, sy);
        unsigned char *d = dest.pixel(x + w.first_x, y + sy);
        for (int sx = w.first_x; sx < w.end_x; sx++, s += 4, d += 4)
            blend(d, s);
    }
}

// Puts the corners of a rectangle in order (x0 <= x1, y0 <= y1); returns false when it lies
// wholly outside a width x height bitmap.
inline bool order_rectangle(int width, int height, int &x0, int &y0, int &x1, int &y1) {
    if (x1 < x0)
        std::swap(x0, x1);
    if (y1 < y0)
        std::swap(y0, y1);
    return !(x1 < 0 || y1 < 0 || x0 >= width || y0 >= height);
}

// Clips ordered corners of an overlapping rectangle to the bitmap.
inline void clip_rectangle(int width, int height, int &x0, int &y0, int &x1, int &y1) {
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, width - 1);
    y1 = std::min(y1, height - 1);
}
