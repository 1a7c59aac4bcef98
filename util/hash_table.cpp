// VoidPointerHashTable: chains with new nodes at the head, doubling past half load.
#include "util/hash_table.h"

#include "client/debug_log.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {
constexpr uint32_t initial_capacity = 256;
constexpr int long_chain = 50;
} // namespace

uint32_t string_hash(const char *text) {
    uint32_t h = 0x5D3B915D;
    auto mix = [&h](uint8_t b) {
        h += b;
        h += h << 10;
        h ^= h >> 6;
    };
    uint32_t length = 0;
    if (text != nullptr)
        for (const char *p = text; *p != '\0'; ++p, ++length)
            mix(uint8_t(*p));
    for (int i = 0; i < 4; ++i)
        mix(uint8_t(length >> (8 * i)));
    h += h << 3;
    h ^= h >> 11;
    h += h << 15;
    return h;
}

void *(*VoidPointerHashTable::allocate_buckets)(size_t, size_t) = calloc;

VoidPointerHashTable::VoidPointerHashTable(thing_hash_function thing_hash_,
                                           key_hash_function key_hash_,
                                           key_matches_function key_matches_)
    : buckets(nullptr), capacity(0), mask(0), count(0), thing_hash(thing_hash_),
      key_hash(key_hash_), key_matches(key_matches_) {
    if (!allocate_initial_buckets())
        report_message("Error in VoidPointerHashTable(), initial table alloc failed.", msg_resource,
                       module_runtime);
}

VoidPointerHashTable::~VoidPointerHashTable() {
    clear();
}

bool VoidPointerHashTable::allocate_initial_buckets() {
    buckets = static_cast<node **>(allocate_buckets(initial_capacity, sizeof(node *)));
    if (buckets == nullptr)
        return false;
    capacity = initial_capacity;
    mask = capacity - 1;
    return true;
}

int VoidPointerHashTable::add(void *thing) {
    if (thing_hash == nullptr) {
        report_message("Error in VoidPointerHashTable::add(), table was cleared.", msg_usage,
                       module_runtime);
        return 0;
    }
    // A table whose first allocation failed gets another chance before refusing.
    if (buckets == nullptr && !allocate_initial_buckets()) {
        report_message("Error in VoidPointerHashTable::add(), no table - thing not added.",
                       msg_resource, module_runtime);
        return 0;
    }
    if (count > capacity / 2)
        expand_hash_table();
    uint32_t hash = thing_hash(thing);
    uint32_t index = hash & mask;
    int chain_length = 0;
    for (node *n = buckets[index]; n != nullptr; n = n->next) {
        if (n->thing == thing) {
            report_message("Error in VoidPointerHashTable::add(), attempt to add duplicate thing.",
                           msg_usage, module_runtime);
            return 0;
        }
        ++chain_length;
    }
    if (chain_length > long_chain) {
        char message[1000];
        snprintf(message, sizeof message,
                 "Error in VoidPointerHashTable::add(), found %d things in bucket %d.",
                 chain_length, int(index));
        report_message(message, msg_statistics, module_runtime);
    }
    node *fresh = new (std::nothrow) node{hash, thing, buckets[index]};
    if (fresh == nullptr) {
        report_message("Error in VoidPointerHashTable::add(), node alloc failed - thing not added.",
                       msg_resource, module_runtime);
        return 0;
    }
    buckets[index] = fresh;
    ++count;
    return 1;
}

void VoidPointerHashTable::expand_hash_table() {
    if (buckets == nullptr || capacity > UINT32_MAX / 2)
        return;
    uint32_t new_capacity = capacity * 2;
    uint32_t new_mask = new_capacity - 1;
    node **fresh = static_cast<node **>(allocate_buckets(new_capacity, sizeof(node *)));
    if (fresh == nullptr) {
        char message[1000];
        snprintf(message, sizeof message,
                 "Error in VoidPointerHashTable::expand_hash_table(), unable to allocate table of "
                 "size %d.  Using old table.",
                 int(new_capacity));
        report_message(message, msg_runtime, module_runtime);
        return;
    }
    for (uint32_t i = 0; i < capacity; ++i) {
        node *n = buckets[i];
        while (n != nullptr) {
            node *next = n->next;
            uint32_t index = n->hash & new_mask;
            n->next = fresh[index];
            fresh[index] = n;
            n = next;
        }
    }
    free(buckets);
    buckets = fresh;
    capacity = new_capacity;
    mask = new_mask;
}

void *VoidPointerHashTable::find(const void *key) const {
    if (buckets == nullptr)
        return nullptr;
    for (node *n = buckets[key_hash(key) & mask]; n != nullptr; n = n->next)
        if (key_matches(n->thing, key))
            return n->thing;
    return nullptr;
}

int VoidPointerHashTable::remove(const void *thing) {
    if (buckets == nullptr)
        return 0;
    node **link = &buckets[thing_hash(thing) & mask];
    for (; *link != nullptr; link = &(*link)->next) {
        node *n = *link;
        if (n->thing == thing) {
            *link = n->next;
            delete n;
            --count;
            return 1;
        }
    }
    return 0;
}

void VoidPointerHashTable::clear() {
    thing_hash = nullptr;
    key_hash = nullptr;
    key_matches = nullptr;
    if (buckets != nullptr) {
        for (uint32_t i = 0; i < capacity; ++i) {
            node *n = buckets[i];
            while (n != nullptr) {
                node *next = n->next;
                delete n;
                n = next;
            }
        }
        free(buckets);
    }
    buckets = nullptr;
    capacity = 0;
    mask = 0;
    count = 0;
}
