// Diffie-Hellman groups built into the program for the SSL context's temporary keys.
#pragma once

#include <cstddef>

// One group: the prime as big-endian bytes of the group's size and the generator.
struct dh_group_parameters {
    int bits;
    const unsigned char *prime;
    size_t prime_length;
    const unsigned char *generator;
    size_t generator_length;
};

constexpr int dh_group_count = 7;

// The groups of 512, 768, 1024, 1536, 2048, 3072 and 4096 bits, in that order.
extern const dh_group_parameters dh_groups[dh_group_count];
