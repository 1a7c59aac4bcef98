// qorl_bitmap construction, single pixels, clearing, filled rectangles and bitmap copies.
#include "graphics/pixel_bitmap.h"

#include "client/debug_log.h"
#include "graphics/pixel_access.h"

namespace {

void log_failure(const char *message) {
    if (log_level > 1)
        log_printf("%s", message);
}

inline void store_rgb(unsigned char *p, int32_t r, int32_t g, int32_t b) {
    p[0] = static_cast<unsigned char>(r);
    p[1] = static_cast<unsigned char>(g);
    p[2] = static_cast<unsigned char>(b);
}

// The toolkit turns an image without alpha into a 24-bit bitmap that refuses 32-bit access;
// an opaque alpha channel keeps the picture drawable.
wxBitmap bitmap_from_image(const wxImage &image) {
    if (!image.IsOk())
        return wxBitmap();
    if (image.HasAlpha())
        return wxBitmap(image);
    wxImage opaque = image.Copy();
    opaque.InitAlpha();
    return wxBitmap(opaque);
}

wxBitmap deep_copy(const qorl_bitmap &other) {
    if (!other.IsOk())
        return wxBitmap();
    return other.GetWxBitmap().GetSubBitmap(wxRect(0, 0, other.GetWidth(), other.GetHeight()));
}

} // namespace

qorl_bitmap::qorl_bitmap() : qorl_bitmap(16, 16) {}

qorl_bitmap::qorl_bitmap(int width, int height) {
    if (width < 1 || height < 1)
        return;
    Create(width, height, 32);
    ClearAlpha();
}

qorl_bitmap::qorl_bitmap(const wxImage &image) : wxBitmap(bitmap_from_image(image)) {}

qorl_bitmap::qorl_bitmap(const qorl_bitmap &other) : wxBitmap(deep_copy(other)) {}

qorl_bitmap &qorl_bitmap::operator=(const qorl_bitmap &other) {
    if (this != &other)
        wxBitmap::operator=(deep_copy(other));
    return *this;
}

qorl_bitmap::~qorl_bitmap() = default;

int qorl_bitmap::GetWidth() const {
    return IsOk() ? wxBitmap::GetWidth() : 0;
}

int qorl_bitmap::GetHeight() const {
    return IsOk() ? wxBitmap::GetHeight() : 0;
}

int qorl_bitmap::GetPixelRGBA(int x, int y, unsigned char rgba[4]) const {
    if (x < 0 || y < 0)
        return 0;
    pixel_access pixels(*this);
    if (!pixels || x >= pixels.width || y >= pixels.height)
        return 0;
    const unsigned char *p = pixels.pixel(x, y);
    for (int i = 0; i < 4; i++)
        rgba[i] = p[i];
    return 1;
}

void qorl_bitmap::SetPixel(int x, int y, const pixel_colour &colour) {
    SetPixelRGB(x, y, colour.r, colour.g, colour.b);
}

void qorl_bitmap::SetPixelRGB(int x, int y, int r, int g, int b) {
    if (x < 0 || y < 0)
        return;
    pixel_access pixels(*this);
    if (!pixels || x >= pixels.width || y >= pixels.height)
        return;
    store_rgb(pixels.pixel(x, y), r, g, b);
}

void qorl_bitmap::Clear(const pixel_colour &colour) {
    pixel_access pixels(*this);
    if (!pixels) {
        log_failure("Error in qorl_bitmap::Clear(), pixel data failed?\n");
        return;
    }
    for (int y = 0; y < pixels.height; y++) {
        unsigned char *p = pixels.pixel(0, y);
        for (int x = 0; x < pixels.width; x++, p += 4) {
            store_rgb(p, colour.r, colour.g, colour.b);
            p[3] = 255;
        }
    }
}

void qorl_bitmap::ClearAlpha() {
    pixel_access pixels(*this);
    if (!pixels) {
        log_failure("Error in qorl_bitmap::ClearAlpha(), pixel data failed?\n");
        return;
    }
    for (int y = 0; y < pixels.height; y++) {
        unsigned char *p = pixels.pixel(0, y);
        for (int x = 0; x < pixels.width; x++, p += 4)
            p[3] = 255;
    }
}

void qorl_bitmap::DrawFilledRectangle(int x0, int y0, int x1, int y1, const pixel_colour &colour) {
    pixel_access pixels(*this);
    if (!pixels) {
        log_failure("Error in qorl_bitmap::DrawFilledRectangle(), pixel data failed?\n");
        return;
    }
    if (!order_rectangle(pixels.width, pixels.height, x0, y0, x1, y1))
        return;
    clip_rectangle(pixels.width, pixels.height, x0, y0, x1, y1);
    for (int y = y0; y <= y1; y++) {
        unsigned char *p = pixels.pixel(x0, y);
        for (int x = x0; x <= x1; x++, p += 4)
            store_rgb(p, colour.r, colour.g, colour.b);
    }
}

void qorl_bitmap::DrawBitmap(const qorl_bitmap &source, int x, int y) {
    blend_bitmap(*this, source, x, y, "DrawBitmap",
                 [](unsigned char *d, const unsigned char *s) { store_rgb(d, s[0], s[1], s[2]); });
}

void qorl_bitmap::DrawBitmapNukeAlpha(const qorl_bitmap &source, int x, int y) {
    blend_bitmap(*this, source, x, y, "DrawBitmapNukeAlpha",
                 [](unsigned char *d, const unsigned char *s) {
                     store_rgb(d, (s[0] * s[3]) >> 8, (s[1] * s[3]) >> 8, (s[2] * s[3]) >> 8);
                 });
}
