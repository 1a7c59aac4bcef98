// Test helpers for graphics: the toolkit brought up once per program, pixel reads, the log.
#pragma once

#include "graphics/pixel_bitmap.h"

#include <array>
#include <functional>
#include <string>
#include <vector>

// Where the debug log of these programs goes (inside the sandbox's private /tmp).
extern const char graphics_test_log_path[];

// The log written since the last call (the whole log on the first call).
std::string new_log_text();

// Runs the toolkit's pending events until done() is true or timeout_ms pass.
bool pump_events_until(const std::function<bool()> &done, int timeout_ms);

using rgba = std::array<unsigned char, 4>;

// Every pixel of a bitmap, row by row.
struct pixel_grid {
    int width = 0, height = 0;
    std::vector<rgba> pixels;
    const rgba &at(int x, int y) const { return pixels[size_t(y) * width + x]; }
    bool operator==(const pixel_grid &o) const {
        return width == o.width && height == o.height && pixels == o.pixels;
    }
    bool operator!=(const pixel_grid &o) const { return !(*this == o); }
};
pixel_grid read_pixels(const qorl_bitmap &bitmap);

// One text row per bitmap row: '#' where the pixel's colour is ink, '.' elsewhere.
std::vector<std::string> ink_map(const qorl_bitmap &bitmap, const pixel_colour &ink);

// A width x height bitmap whose colour and alpha bytes all differ from pixel to pixel
// (alpha is never 255), for checking what an operation wrote and what it kept.
qorl_bitmap patterned_bitmap(int width, int height, int seed);
