// VoidPointerHashTable: growth point, duplicates, equal keys, removal, failed allocations.
#include "util/hash_table.h"

#include "tests/client/child_process.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A thing carries its key.
struct thing {
    std::string key;
};

uint32_t thing_hash(const void *t) {
    return string_hash(static_cast<const thing *>(t)->key.c_str());
}
uint32_t key_hash(const void *k) {
    return string_hash(static_cast<const char *>(k));
}
int key_matches(const void *t, const void *k) {
    return static_cast<const thing *>(t)->key == static_cast<const char *>(k);
}
uint32_t same_hash(const void *) {
    return 7;
}

std::vector<thing> numbered_things(int n) {
    std::vector<thing> things(n);
    for (int i = 0; i < n; ++i)
        things[i].key = "file-" + std::to_string(i);
    return things;
}

// Refuses bucket allocations while refusals remain (negative: refuse forever).
struct bucket_allocation_failure {
    static int refusals;
    static void *allocate(size_t count, size_t size) {
        if (refusals != 0) {
            if (refusals > 0)
                --refusals;
            return nullptr;
        }
        return calloc(count, size);
    }
    explicit bucket_allocation_failure(int n) {
        refusals = n;
        VoidPointerHashTable::allocate_buckets = allocate;
    }
    ~bucket_allocation_failure() { VoidPointerHashTable::allocate_buckets = calloc; }
};
int bucket_allocation_failure::refusals = 0;

TEST(StringHash, KnownValues) {
    EXPECT_EQ(string_hash(""), 0x1AAD0981u);
    EXPECT_EQ(string_hash("abc"), 0x4AF578A2u);
    EXPECT_EQ(string_hash(nullptr), 0x1AAD0981u);
    // The length is folded in: a text and the same text with a NUL-free tail differ.
    EXPECT_NE(string_hash("abc"), string_hash("abcd"));
}

TEST(HashTable, GrowsOnThe130thAddAndKeepsEverything) {
    VoidPointerHashTable table(thing_hash, key_hash, key_matches);
    std::vector<thing> things = numbered_things(1000);
    for (int i = 0; i < 129; ++i)
        ASSERT_EQ(table.add(&things[i]), 1);
    EXPECT_EQ(table.get_capacity(), 256u);
    ASSERT_EQ(table.add(&things[129]), 1);
    EXPECT_EQ(table.get_capacity(), 512u);
    for (int i = 130; i < 1000; ++i)
        table.add(&things[i]);
    EXPECT_EQ(table.get_count(), 1000u);
    EXPECT_EQ(table.get_capacity(), 2048u);
    for (thing &t : things)
        EXPECT_EQ(table.find(t.key.c_str()), &t) << t.key;
    EXPECT_EQ(table.find("file-1000"), nullptr);
}

TEST(HashTable, DuplicatesEqualKeysAndRemoval) {
    scratch_dir dir("hash");
    log_capture log(dir / "log");
    VoidPointerHashTable table(thing_hash, key_hash, key_matches);
    std::vector<thing> things = numbered_things(129);
    for (thing &t : things)
        table.add(&t);

    // Even a refused duplicate grows the table: the load check comes first.
    EXPECT_EQ(table.add(&things[5]), 0);
    EXPECT_EQ(table.get_count(), 129u);
    EXPECT_EQ(table.get_capacity(), 512u);
    EXPECT_EQ(log.text(),
              "Error in VoidPointerHashTable::add(), attempt to add duplicate thing.\n");

    thing twin{"file-7"};
    EXPECT_EQ(table.add(&twin), 1);
    EXPECT_EQ(table.find("file-7"), &twin); // the later of two equal keys
    EXPECT_EQ(table.remove(&twin), 1);
    EXPECT_EQ(table.find("file-7"), &things[7]);
    EXPECT_EQ(table.remove(&twin), 0);

    thing stranger{"file-3"}; // same key as a stored thing, never added
    EXPECT_EQ(table.remove(&stranger), 0);
    EXPECT_EQ(table.get_count(), 129u);
    EXPECT_EQ(table.find("file-3"), &things[3]);

    table.clear();
    EXPECT_EQ(table.get_count(), 0u);
    EXPECT_EQ(table.find("file-3"), nullptr);
    EXPECT_EQ(table.remove(&things[3]), 0);
    EXPECT_EQ(table.add(&things[3]), 0);
}

TEST(HashTable, LongChainsAreReportedButStored) {
    scratch_dir dir("hash-chain");
    log_capture log(dir / "log");
    VoidPointerHashTable table(same_hash, same_hash, key_matches);
    std::vector<thing> things = numbered_things(52);
    for (int i = 0; i < 51; ++i)
        table.add(&things[i]);
    EXPECT_EQ(log.text(), "");
    EXPECT_EQ(table.add(&things[51]), 1);
    EXPECT_EQ(log.text(), "Error in VoidPointerHashTable::add(), found 51 things in bucket 7.\n");
    EXPECT_EQ(table.find("file-0"), &things[0]);
}

TEST(HashTable, FailedAllocations) {
    scratch_dir dir("hash-alloc");
    std::vector<thing> things = numbered_things(200);
    {
        // First allocation failed: reported, lookups find nothing, add retries it.
        log_capture log(dir / "log1");
        bucket_allocation_failure failure(1);
        VoidPointerHashTable table(thing_hash, key_hash, key_matches);
        EXPECT_EQ(log.text(), "Error in VoidPointerHashTable(), initial table alloc failed.\n");
        EXPECT_EQ(table.get_capacity(), 0u);
        EXPECT_EQ(table.find("file-0"), nullptr);
        EXPECT_EQ(table.remove(&things[0]), 0);
        table.expand_hash_table();
        EXPECT_EQ(table.add(&things[0]), 1);
        EXPECT_EQ(table.get_capacity(), 256u);
        EXPECT_EQ(table.find("file-0"), &things[0]);
    }
    {
        // No memory at all: every add is refused, nothing crashes.
        log_capture log(dir / "log2");
        bucket_allocation_failure failure(-1);
        VoidPointerHashTable table(thing_hash, key_hash, key_matches);
        EXPECT_EQ(table.add(&things[0]), 0);
        EXPECT_EQ(table.get_count(), 0u);
        EXPECT_EQ(table.find("file-0"), nullptr);
        EXPECT_EQ(log.text(),
                  "Error in VoidPointerHashTable(), initial table alloc failed.\n"
                  "Error in VoidPointerHashTable::add(), no table - thing not added.\n");
    }
    {
        // Failed growth keeps the old buckets and every thing.
        log_capture log(dir / "log3");
        VoidPointerHashTable table(thing_hash, key_hash, key_matches);
        for (int i = 0; i < 129; ++i)
            table.add(&things[i]);
        bucket_allocation_failure failure(1);
        EXPECT_EQ(table.add(&things[129]), 1);
        EXPECT_EQ(table.get_capacity(), 256u);
        EXPECT_EQ(log.text(), "Error in VoidPointerHashTable::expand_hash_table(), unable to "
                              "allocate table of size 512.  Using old table.\n");
        for (int i = 130; i < 200; ++i)
            table.add(&things[i]);
        EXPECT_EQ(table.get_capacity(), 512u); // the next add grew it after all
        for (int i = 0; i < 200; ++i)
            EXPECT_EQ(table.find(things[i].key.c_str()), &things[i]);
    }
}

} // namespace
