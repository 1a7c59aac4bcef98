// VoidPointerHashTable: a chained index of objects it does not own, keyed by what they carry.
#pragma once

#include <cstddef>
#include <cstdint>

// The one-at-a-time text hash with a fixed seed and the text length folded in.
// A null text hashes like the empty text (0x1AAD0981).
uint32_t string_hash(const char *text);

class VoidPointerHashTable {
  public:
    // thing_hash: hash of a stored thing. key_hash: hash of a lookup key; must equal
    // thing_hash of every thing for which key_matches(thing, key) is nonzero.
    typedef uint32_t (*thing_hash_function)(const void *thing);
    typedef uint32_t (*key_hash_function)(const void *key);
    typedef int (*key_matches_function)(const void *thing, const void *key);

    // Starts with 256 empty buckets. If that allocation fails it is reported and the
    // table starts without buckets; add() tries the allocation again.
    VoidPointerHashTable(thing_hash_function thing_hash, key_hash_function key_hash,
                         key_matches_function key_matches);
    ~VoidPointerHashTable();
    VoidPointerHashTable(const VoidPointerHashTable &) = delete;
    VoidPointerHashTable &operator=(const VoidPointerHashTable &) = delete;

    // Stores a thing (not owned). Grows first when more than half the buckets' count is
    // stored. Returns 1 when stored; 0 when it was refused: the same pointer is already
    // stored (reported), or no memory for the buckets or the node (reported).
    int add(void *thing);
    // The most recently added matching thing of the key's chain, or null.
    void *find(const void *key) const;
    // Returns 1 when that exact pointer was stored and has been removed, else 0.
    int remove(const void *thing);
    // Frees every node and the buckets (never the things) and forgets the functions;
    // the table refuses every add afterwards.
    void clear();
    // Doubles the buckets; on a failed allocation it reports and keeps the old ones.
    void expand_hash_table();

    uint32_t get_count() const { return count; }
    uint32_t get_capacity() const { return capacity; }

    // The bucket allocator, replaceable so tests can make it fail (calloc semantics).
    static void *(*allocate_buckets)(size_t count, size_t size);

  private:
    struct node {
        uint32_t hash; // thing_hash, kept for growth
        void *thing;
        node *next;
    };

    bool allocate_initial_buckets();

    node **buckets;
    uint32_t capacity;
    uint32_t mask;
    uint32_t count;
    thing_hash_function thing_hash;
    key_hash_function key_hash;
    key_matches_function key_matches;
};
