// pointer_list and string_heap: inline storage, growth points, failed growth, pop order.
#include "client/pointer_list.h"
#include "client/string_heap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Counts container allocations and can refuse them.
struct allocation_spy {
    static int calls;
    static size_t last_bytes;
    static bool refuse;
    static void *allocate(size_t bytes) {
        ++calls;
        last_bytes = bytes;
        return refuse ? nullptr : malloc(bytes);
    }
    allocation_spy() {
        calls = 0;
        refuse = false;
        container_allocate = allocate;
    }
    ~allocation_spy() { container_allocate = malloc; }
};
int allocation_spy::calls = 0;
size_t allocation_spy::last_bytes = 0;
bool allocation_spy::refuse = false;

int descending(const char *a, const char *b) {
    return strcmp(b, a);
}

TEST(PointerList, InlineUntil64ThenDoubling) {
    allocation_spy spy;
    pointer_list list;
    list.init();
    std::vector<int> values(300);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(list.push(&values[i]), 1);
    EXPECT_EQ(spy.calls, 0);
    EXPECT_EQ(list.items, list.inline_slots);
    EXPECT_EQ(list.capacity, 64);

    ASSERT_EQ(list.push(&values[64]), 1);
    EXPECT_EQ(spy.calls, 1);
    EXPECT_EQ(spy.last_bytes, 128 * sizeof(void *));
    EXPECT_NE(list.items, list.inline_slots);
    EXPECT_EQ(list.capacity, 128);

    ASSERT_EQ(list.push(nullptr), 1); // null is an item like any other
    for (int i = 66; i < 300; ++i)
        ASSERT_EQ(list.push(&values[i]), 1);
    EXPECT_EQ(spy.calls, 3); // 128 -> 256 -> 512
    EXPECT_EQ(list.capacity, 512);
    ASSERT_EQ(list.count, 300);
    for (int i = 0; i < 300; ++i)
        EXPECT_EQ(list.items[i], i == 65 ? nullptr : &values[i]) << i;
    list.release();
    EXPECT_EQ(list.items, nullptr);
}

TEST(PointerList, FailedGrowthKeepsEveryItem) {
    allocation_spy spy;
    pointer_list list;
    list.init();
    std::vector<int> values(65);
    for (int i = 0; i < 64; ++i)
        list.push(&values[i]);
    spy.refuse = true;
    EXPECT_EQ(list.push(&values[64]), 0);
    EXPECT_EQ(list.count, 64);
    EXPECT_EQ(list.items, list.inline_slots);
    EXPECT_EQ(list.items[63], &values[63]);
    spy.refuse = false;
    EXPECT_EQ(list.push(&values[64]), 1);
    EXPECT_EQ(list.count, 65);
    for (int i = 0; i < 65; ++i)
        EXPECT_EQ(list.items[i], &values[i]);
    list.release();
}

std::vector<std::string> numbered_texts(int n) {
    std::vector<std::string> texts;
    for (int i = 0; i < n; ++i)
        texts.push_back("image-" + std::to_string(1000 + (i * 7919) % n)); // shuffled order
    return texts;
}

TEST(StringHeap, PopsInComparisonOrderAndGrowsAt254) {
    allocation_spy spy;
    string_heap heap;
    ASSERT_EQ(heap.init(descending), 1);
    EXPECT_EQ(spy.calls, 1);
    EXPECT_EQ(spy.last_bytes, 256 * sizeof(char *));
    std::vector<std::string> texts = numbered_texts(300);
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(heap.push(texts[i].c_str()), 1);
        EXPECT_EQ(heap.capacity, i + 1 < 254 ? 254 : 510) << "after push " << i + 1;
    }
    EXPECT_EQ(spy.calls, 2);
    EXPECT_EQ(spy.last_bytes, 512 * sizeof(char *));
    EXPECT_EQ(heap.count, 300);

    std::vector<std::string> sorted = texts;
    std::sort(sorted.rbegin(), sorted.rend());
    for (const std::string &expected : sorted) {
        const char *popped = heap.pop();
        ASSERT_NE(popped, nullptr);
        EXPECT_EQ(expected, popped);
    }
    EXPECT_EQ(heap.pop(), nullptr);
    EXPECT_EQ(heap.count, 0);
    EXPECT_EQ(heap.pop(), nullptr);
    EXPECT_EQ(heap.count, 0);
    heap.release();
}

TEST(StringHeap, DuplicatesAndNulls) {
    string_heap heap;
    heap.init(descending);
    const char *texts[] = {"b", "a", "c", "b", nullptr, "a"};
    for (const char *t : texts)
        heap.push(t);
    EXPECT_EQ(heap.count, 5);
    std::string order;
    while (const char *t = heap.pop())
        order += t;
    EXPECT_EQ(order, "cbbaa");
    heap.release();
}

TEST(StringHeap, FailedAllocationsLoseNothing) {
    allocation_spy spy;
    std::vector<std::string> texts = numbered_texts(260);
    string_heap heap;
    spy.refuse = true;
    EXPECT_EQ(heap.init(descending), 0);
    EXPECT_EQ(heap.pop(), nullptr);
    spy.refuse = false;
    for (int i = 0; i < 253; ++i)
        ASSERT_EQ(heap.push(texts[i].c_str()), 1); // the first push allocates after all
    spy.refuse = true;
    EXPECT_EQ(heap.push(texts[253].c_str()), 0);
    EXPECT_EQ(heap.count, 253);
    spy.refuse = false;
    for (int i = 253; i < 260; ++i)
        ASSERT_EQ(heap.push(texts[i].c_str()), 1);

    std::vector<std::string> sorted = texts;
    std::sort(sorted.rbegin(), sorted.rend());
    for (const std::string &expected : sorted) {
        const char *popped = heap.pop();
        ASSERT_NE(popped, nullptr);
        EXPECT_EQ(expected, popped);
    }
    EXPECT_EQ(heap.pop(), nullptr);
    heap.release();
}

} // namespace
