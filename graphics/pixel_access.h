// Raw 32-bit access to a bitmap's pixels for the drawing loops, held for one operation.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>

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
