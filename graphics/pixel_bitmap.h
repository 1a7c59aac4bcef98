// qorl_bitmap: a 32-bit software canvas drawn with the library's own pixel loops.
#pragma once

#include <cstdint>

#include <wx/bitmap.h>
#include <wx/image.h>

// A colour as three full ints; drawing stores the low 8 bits of each.
struct pixel_colour {
    int32_t r;
    int32_t g;
    int32_t b;
};

// One corner of a polygon outline.
struct polygon_point {
    int32_t x;
    int32_t y;
};

struct glyph_font;

// Pixels are rows of 4 bytes, R G B A, alpha not premultiplied (255 = opaque); (0, 0) is the
// top-left pixel. Every write is clipped to the bitmap. Only Clear, ClearAlpha and the
// constructors that call ClearAlpha write alpha bytes; every other operation writes R, G, B and
// keeps the alpha that was there. The wxBitmap base is not part of the public interface: code
// that hands the pixels to the toolkit (a window's paint) uses GetWxBitmap().
//
// When the pixel memory cannot be reached, an operation draws nothing and, at log level > 1,
// writes "Error in qorl_bitmap::<operation>(), pixel data failed?" to the debug log.
struct qorl_bitmap : private wxBitmap {
  public:
    // 16 x 16, depth 32, every alpha 255.
    qorl_bitmap();
    // width x height, depth 32, every alpha 255; the colour bytes start as the toolkit leaves
    // them (zero). A width or height below 1 gives an empty bitmap that draws nothing.
    qorl_bitmap(int width, int height);
    // Converts an image. An image without an alpha channel becomes fully opaque (the toolkit
    // would otherwise make a 24-bit bitmap whose pixels cannot be drawn with); an image with
    // alpha keeps it. An image that failed to load gives an empty bitmap.
    explicit qorl_bitmap(const wxImage &image);
    // Deep copies: the two bitmaps share no pixels afterwards.
    qorl_bitmap(const qorl_bitmap &other);
    qorl_bitmap &operator=(const qorl_bitmap &other);
    ~qorl_bitmap() override;

    // Size in pixels; 0 for an empty bitmap.
    int GetWidth() const override;
    int GetHeight() const override;

    // True when the bitmap holds pixels.
    bool IsOk() const override { return wxBitmap::IsOk(); }
    // The toolkit bitmap, for blitting to a device context.
    const wxBitmap &GetWxBitmap() const { return *this; }

    // Reads pixel (x, y) into rgba[0..3] (R, G, B, A). Returns 1, or 0 when (x, y) is outside
    // the bitmap or the pixels cannot be reached (rgba is then left alone).
    int GetPixelRGBA(int x, int y, unsigned char rgba[4]) const;

    // ---- Core operations ----

    // One pixel's R, G, B; outside the bitmap nothing happens (and nothing is logged).
    void SetPixel(int x, int y, const pixel_colour &colour);
    void SetPixelRGB(int x, int y, int r, int g, int b);
    // Every pixel becomes (r, g, b, 255).
    void Clear(const pixel_colour &colour);
    // Every alpha byte becomes 255; colours are kept.
    void ClearAlpha();
    // Filled rectangle with both corners inclusive, given in any order; clipped.
    void DrawFilledRectangle(int x0, int y0, int x1, int y1, const pixel_colour &colour);
    // Copies the source's R, G, B with its top-left pixel at (x, y); source rows and columns
    // falling outside are skipped. The source's alpha is ignored, this bitmap's alpha kept.
    void DrawBitmap(const qorl_bitmap &source, int x, int y);
    // Same clipping; each channel becomes (source channel * source alpha) >> 8, i.e. the
    // source composed over black.
    void DrawBitmapNukeAlpha(const qorl_bitmap &source, int x, int y);

    // ---- Shapes ----

    // Bresenham line, both end points drawn.
    void DrawLine(int x0, int y0, int x1, int y1, const pixel_colour &colour);
    // Line whose colour runs from colour0 (first pixel, exact) towards colour1 (the last pixel
    // is one step short). Returns the minor coordinate (y of an x-major line, x otherwise)
    // after the error step that follows the last pixel.
    int DrawGradientLine(int x0, int y0, int x1, int y1, const pixel_colour &colour0,
                         const pixel_colour &colour1);
    // Even-odd filled polygon of count points (3 to 999), each shifted by the offsets, with
    // the outline drawn over the fill. Fewer or more points: logged at level > 0, nothing drawn.
    void DrawPolygon(int count, const polygon_point *points, int x_offset, int y_offset,
                     const pixel_colour &outline, const pixel_colour &fill);
    // Rectangles with a left-to-right (X) or top-to-bottom (Y) gradient. With n = the
    // rectangle's length + 1, line k (from 1) gets colour0 + k * (colour1 - colour0) / n in
    // 8-bit fixed point, so neither end colour is reached; clipping keeps the gradient's start
    // at the first line drawn.
    void DrawXGradientRectangle(int x0, int y0, int x1, int y1, const pixel_colour &colour0,
                                const pixel_colour &colour1);
    void DrawYGradientRectangle(int x0, int y0, int x1, int y1, const pixel_colour &colour0,
                                const pixel_colour &colour1);
    // Filled disc; the reach is sqrt(r * (r + 1)) for a rounder small circle. A negative
    // radius counts as 0 (the centre pixel).
    void DrawFilledCircle(int centre_x, int centre_y, int radius, const pixel_colour &colour);

    // ---- Glyph text (the glyph's green byte is its coverage, 0..255) ----

    // One glyph cell at (x, y): coverage 0 gives bg, otherwise each channel becomes
    // (bg * (255 - k) + fg * k) / 256.
    void DrawTextGlyph(const qorl_bitmap &glyph, int x, int y, const pixel_colour &fg,
                       const pixel_colour &bg);
    // One glyph over what is there: coverage 0 keeps the pixel, otherwise each channel becomes
    // (fg * k + old * (255 - k)) / 256.
    void DrawTextGlyphTransparent(const qorl_bitmap &glyph, int x, int y, const pixel_colour &fg);
    // A NUL-terminated text, glyph after glyph from (x, y); a byte selects the glyph of its
    // low seven bits, bytes without a glyph are skipped without moving. A null text, or a
    // start right of or below the bitmap, draws nothing.
    void DrawGlyphText(const glyph_font &font, const char *text, int x, int y,
                       const pixel_colour &fg, const pixel_colour &bg);
    void DrawGlyphTextTransparent(const glyph_font &font, const char *text, int x, int y,
                                  const pixel_colour &fg);
    // Size of a text: the sum of its glyphs' widths and the height of the last glyph found
    // (0 and 0 when none is found). A null text leaves both outputs alone; a null output
    // pointer is not written.
    void MeasureText(const glyph_font &font, const char *text, int *width, int *height) const;
};
