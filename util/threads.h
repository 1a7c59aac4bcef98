// Thin wrappers over POSIX threads: detached worker start, millisecond sleep, a counting blocker.
#pragma once

#include <cstdint>
#include <pthread.h>

// Starts function(argument) on a new detached thread; nobody joins it and its result is
// ignored. name: for the reader only (not used). Returns 1 when the thread was started,
// 0 otherwise (reported).
int qorl_thread_create(const char *name, int32_t (*function)(void *), void *argument);

// One nanosleep of the given milliseconds (an interrupted sleep is not resumed);
// 0 or a negative value returns at once.
void sleep_milliseconds(int32_t milliseconds);

// Counting block/unblock: an unblock that comes before its block is not lost.
class qorl_thread_blocker {
  public:
    qorl_thread_blocker();
    // Reports when unblocks were left unconsumed (and then leaves the mutex and the
    // condition variable as they are).
    ~qorl_thread_blocker();
    qorl_thread_blocker(const qorl_thread_blocker &) = delete;
    qorl_thread_blocker &operator=(const qorl_thread_blocker &) = delete;

    // Adds one unblock and wakes a waiting block().
    void unblock();
    // Waits until an unblock is available and consumes it.
    void block();

  private:
    pthread_mutex_t mutex;
    pthread_cond_t condition;
    int32_t counter; // guarded by mutex
};
