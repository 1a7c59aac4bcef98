// qorl_bitmap shapes: lines, gradient lines, filled polygons, gradient rectangles and discs.
#include "graphics/pixel_bitmap.h"

#include "client/debug_log.h"
#include "graphics/pixel_access.h"

#include <cmath>
#include <cstdlib>

namespace {

constexpr int polygon_edge_capacity = 1000;

// One edge of a polygon being scanned: it takes part from the row after top_y to bottom_y.
struct polygon_edge {
    int top_y;
    int bottom_y;
    int started;
    double inverse_slope;
    double x;
};

inline int step_towards(int from, int to) {
    return to > from ? 1 : (to < from ? -1 : 0);
}

// Bubble sort by current x; equal x keep their order.
void sort_edges(polygon_edge *edges, int count) {
    for (int end = count - 1; end > 0; end--) {
        bool swapped = false;
        for (int i = 0; i < end; i++) {
            if (edges[i].x > edges[i + 1].x) {
                polygon_edge t = edges[i];
                edges[i] = edges[i + 1];
                edges[i + 1] = t;
                swapped = true;
            }
        }
        if (!swapped)
            break;
    }
}

// Fixed-point (8 fraction bits) channel accumulators of a gradient.
struct gradient {
    int64_t r, g, b;
    int64_t step_r, step_g, step_b;

    gradient(const pixel_colour &c0, const pixel_colour &c1, int64_t n)
        : r(int64_t(c0.r) * 256), g(int64_t(c0.g) * 256), b(int64_t(c0.b) * 256),
          step_r((int64_t(c1.r) * 256 - r) / n), step_g((int64_t(c1.g) * 256 - g) / n),
          step_b((int64_t(c1.b) * 256 - b) / n) {}
    void advance() {
        r += step_r;
        g += step_g;
        b += step_b;
    }
};

inline void store_gradient(unsigned char *p, const gradient &c) {
    p[0] = static_cast<unsigned char>(c.r >> 8);
    p[1] = static_cast<unsigned char>(c.g >> 8);
    p[2] = static_cast<unsigned char>(c.b >> 8);
}

// A rectangle whose colour steps once per column (along_x) or once per row; operation names
// the caller in the log line written when the pixels cannot be reached.
void draw_gradient_rectangle(const wxBitmap &bitmap, const char *operation, bool along_x, int x0,
                             int y0, int x1, int y1, const pixel_colour &colour0,
                             const pixel_colour &colour1) {
    pixel_access pixels(bitmap);
    if (!pixels) {
        if (log_level > 1)
            log_printf("Error in qorl_bitmap::%s(), pixel data failed?\n", operation);
        return;
    }
    if (!order_rectangle(pixels.width, pixels.height, x0, y0, x1, y1))
        return;
    gradient c(colour0, colour1, along_x ? int64_t(x1) - x0 + 2 : int64_t(y1) - y0 + 2);
    clip_rectangle(pixels.width, pixels.height, x0, y0, x1, y1);
    const int first = along_x ? x0 : y0, last = along_x ? x1 : y1;
    const int across_first = along_x ? y0 : x0, across_last = along_x ? y1 : x1;
    for (int line = first; line <= last; line++) {
        c.advance();
        for (int across = across_first; across <= across_last; across++)
            store_gradient(along_x ? pixels.pixel(line, across) : pixels.pixel(across, line), c);
    }
}

} // namespace

void qorl_bitmap::DrawLine(int x0, int y0, int x1, int y1, const pixel_colour &colour) {
    if (x0 == x1 && y0 == y1) {
        SetPixel(x0, y0, colour);
        return;
    }
    int64_t adx = std::llabs(int64_t(x0) - x1);
    int64_t ady = std::llabs(int64_t(y0) - y1);
    if (adx > ady) {
        if (x1 < x0) {
            std::swap(x0, x1);
            std::swap(y0, y1);
        }
        int64_t err = adx / 2;
        int y = y0;
        int dy = step_towards(y0, y1);
        for (int64_t x = x0; x <= x1; x++) {
            SetPixel(int(x), y, colour);
            err -= ady;
            if (err < 0) {
                err += adx;
                y += dy;
            }
        }
    } else {
        if (y1 < y0) {
            std::swap(x0, x1);
            std::swap(y0, y1);
        }
        int64_t err = ady / 2;
        int x = x0;
        int dx = step_towards(x0, x1);
        for (int64_t y = y0; y <= y1; y++) {
            SetPixel(x, int(y), colour);
            err -= adx;
            if (err < 0) {
                err += ady;
                x += dx;
            }
        }
    }
}

int qorl_bitmap::DrawGradientLine(int x0, int y0, int x1, int y1, const pixel_colour &colour0,
                                  const pixel_colour &colour1) {
    int64_t adx = std::llabs(int64_t(x1) - x0);
    int64_t ady = std::llabs(int64_t(y1) - y0);
    bool x_major = adx > ady;
    int64_t major = x_major ? adx : ady;
    int64_t minor_length = x_major ? ady : adx;
    gradient c(colour0, colour1, major + 1);

    int major_pos = x_major ? x0 : y0;
    int major_step = x_major ? step_towards(x0, x1) : step_towards(y0, y1);
    int minor_pos = x_major ? y0 : x0;
    int minor_step = x_major ? step_towards(y0, y1) : step_towards(x0, x1);
    int64_t err = -(major / 2);
    for (int64_t i = 0; i <= major; i++) {
        int x = x_major ? major_pos : minor_pos;
        int y = x_major ? minor_pos : major_pos;
        SetPixelRGB(x, y, int(c.r >> 8), int(c.g >> 8), int(c.b >> 8));
        c.advance();
        err += minor_length;
        if (err >= 0) {
            err -= major;
            minor_pos += minor_step;
        }
        major_pos += major_step;
    }
    return minor_pos;
}

void qorl_bitmap::DrawPolygon(int count, const polygon_point *points, int x_offset, int y_offset,
                              const pixel_colour &outline, const pixel_colour &fill) {
    if (count < 3) {
        if (log_level > 0)
            log_printf("Error in qorl_bitmap::DrawPolygon(), only got %d points, need a minimum "
                       "of 3.\n",
                       count);
        return;
    }
    if (count > polygon_edge_capacity - 1) {
        if (log_level > 0)
            log_printf("Error in qorl_bitmap::DrawPolygon(), got %d points, max is %d.\n", count,
                       polygon_edge_capacity);
        return;
    }
    if (points == nullptr)
        return;

    polygon_edge edges[polygon_edge_capacity];
    int edge_count = 0;
    int min_y = points[0].y + y_offset;
    int max_y = min_y;
    polygon_point previous = {points[count - 1].x + x_offset, points[count - 1].y + y_offset};
    for (int i = 0; i < count; i++) {
        polygon_point current = {points[i].x + x_offset, points[i].y + y_offset};
        min_y = std::min(min_y, int(current.y));
        max_y = std::max(max_y, int(current.y));
        if (previous.y != current.y) {
            const polygon_point &top = previous.y < current.y ? previous : current;
            const polygon_point &bottom = previous.y < current.y ? current : previous;
            polygon_edge &e = edges[edge_count++];
            e.top_y = top.y;
            e.bottom_y = bottom.y;
            e.started = 0;
            e.x = top.x;
            e.inverse_slope = (double(bottom.x) - top.x) / (double(bottom.y) - top.y);
        }
        previous = current;
    }

    int width = GetWidth();
    int height = GetHeight();
    sort_edges(edges, edge_count);
    for (int64_t row = min_y; row <= max_y; row++) {
        int y = int(row);
        int i = 0;
        // The next edge from i on that has started by this row, or -1; an edge met on its
        // own top row is flagged as started and passed over.
        const auto next_started_edge = [&]() {
            for (; i < edge_count; i++) {
                polygon_edge &e = edges[i];
                if (e.top_y > y)
                    continue;
                if (!e.started) {
                    e.started = 1;
                    continue;
                }
                return i++;
            }
            return -1;
        };
        while (i < edge_count) {
            // One edge opens a span and the next one closes it.
            const int open = next_started_edge();
            if (open < 0)
                break;
            const int close = next_started_edge();
            if (close < 0) {
                if (log_level > 1)
                    log_printf("Error in DrawPolygon(), unclosed poly for draw line?\n");
                break;
            }
            // A span wholly outside the bitmap paints nothing; a long one is cut to the
            // bitmap first so that the line loop stays short (same pixels).
            if (y < 0 || y >= height)
                continue;
            double left = std::trunc(edges[open].x);
            double right = std::trunc(edges[close].x);
            if (right < 0 || left >= width)
                continue;
            int x_left = left < 0 ? 0 : int(left);
            int x_right = right >= width ? width - 1 : int(right);
            DrawLine(x_left, y, x_right, y, fill);
        }
        // Advance: finished edges leave, reached ones move down a row.
        int kept = 0;
        for (int j = 0; j < edge_count; j++) {
            polygon_edge e = edges[j];
            if (e.bottom_y <= y)
                continue;
            if (e.top_y <= y) {
                e.x += e.inverse_slope;
                e.top_y = y + 1;
            }
            edges[kept++] = e;
        }
        edge_count = kept;
        sort_edges(edges, edge_count);
    }

    for (int i = 0; i < count; i++) {
        const polygon_point &a = points[i];
        const polygon_point &b = points[i == 0 ? count - 1 : i - 1];
        DrawLine(a.x + x_offset, a.y + y_offset, b.x + x_offset, b.y + y_offset, outline);
    }
}

void qorl_bitmap::DrawXGradientRectangle(int x0, int y0, int x1, int y1,
                                         const pixel_colour &colour0, const pixel_colour &colour1) {
    draw_gradient_rectangle(GetWxBitmap(), "DrawXGradientRectangle", true, x0, y0, x1, y1, colour0,
                            colour1);
}

void qorl_bitmap::DrawYGradientRectangle(int x0, int y0, int x1, int y1,
                                         const pixel_colour &colour0, const pixel_colour &colour1) {
    draw_gradient_rectangle(GetWxBitmap(), "DrawYGradientRectangle", false, x0, y0, x1, y1, colour0,
                            colour1);
}

void qorl_bitmap::DrawFilledCircle(int centre_x, int centre_y, int radius,
                                   const pixel_colour &colour) {
    pixel_access pixels(*this);
    if (!pixels) {
        if (log_level > 1)
            log_printf("Error in qorl_bitmap::DrawFilledCircle(), pixel data failed?\n");
        return;
    }
    int64_t r = radius < 0 ? 0 : radius;
    if (centre_y - r >= pixels.height || centre_y + r < 0)
        return;
    int64_t first = std::max<int64_t>(centre_y - r, 0);
    int64_t last = std::min<int64_t>(centre_y + r, pixels.height - 1);
    int64_t reach = r * (r + 1);
    for (int64_t y = first; y <= last; y++) {
        int64_t dy = y - centre_y;
        int64_t d = std::max<int64_t>(reach - dy * dy, 0);
        int64_t half = int64_t(std::sqrt(double(d)));
        int64_t xs = centre_x - half;
        int64_t xe = centre_x + half;
        if (xs >= pixels.width || xe < 0)
            continue;
        xs = std::max<int64_t>(xs, 0);
        xe = std::min<int64_t>(xe, pixels.width - 1);
        unsigned char *p = pixels.pixel(int(xs), int(y));
        for (int64_t x = xs; x <= xe; x++, p += 4) {
            p[0] = static_cast<unsigned char>(colour.r);
            p[1] = static_cast<unsigned char>(colour.g);
            p[2] = static_cast<unsigned char>(colour.b);
        }
    }
}
