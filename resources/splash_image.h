// The launcher's splash picture: a 480 x 300 PNG with an 8-bit palette, compiled in.
#pragma once

// The PNG file's bytes, splash_png_size of them; decode with the toolkit's PNG handler.
extern const unsigned char splash_png[];
extern const unsigned int splash_png_size;
