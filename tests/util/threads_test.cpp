// Threads: detached start, the counting blocker, millisecond sleeps.
#include "util/threads.h"

#include "tests/client/child_process.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

namespace {

struct start_probe {
    qorl_thread_blocker done;
    std::atomic<int> detached{-1};
    std::atomic<bool> ran{false};
};

int32_t probe_thread(void *argument) {
    auto *probe = static_cast<start_probe *>(argument);
    pthread_attr_t attributes;
    int state = -1;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
        pthread_attr_getdetachstate(&attributes, &state);
        pthread_attr_destroy(&attributes);
    }
    probe->detached = state == PTHREAD_CREATE_DETACHED;
    probe->ran = true;
    probe->done.unblock();
    return 5;
}

TEST(Threads, StartsADetachedThreadWithItsArgument) {
    start_probe probe;
    ASSERT_EQ(qorl_thread_create("probe", probe_thread, &probe), 1);
    probe.done.block();
    EXPECT_TRUE(probe.ran);
    EXPECT_EQ(probe.detached, 1);
    sleep_milliseconds(50); // let the thread free its start record before leak checks

    scratch_dir dir("threads");
    log_capture log(dir / "log");
    EXPECT_EQ(qorl_thread_create("none", nullptr, nullptr), 0);
    EXPECT_EQ(log.text(), "Error in qorl_thread_create(), thread create failed?\n");
}

TEST(Threads, BlockerCountsUnblocks) {
    // In a child: a lost unblock would hang, and the child is then killed.
    EXPECT_EQ(run_in_child([] {
                  qorl_thread_blocker blocker;
                  blocker.unblock();
                  blocker.unblock();
                  blocker.block();
                  blocker.block();
                  return 0;
              }),
              0);

    qorl_thread_blocker blocker;
    std::atomic<bool> released{false};
    struct context {
        qorl_thread_blocker *blocker;
        std::atomic<bool> *released;
    } c{&blocker, &released};
    ASSERT_EQ(qorl_thread_create(
                  "releaser",
                  [](void *p) -> int32_t {
                      auto *c = static_cast<context *>(p);
                      sleep_milliseconds(100);
                      *c->released = true;
                      c->blocker->unblock();
                      return 0;
                  },
                  &c),
              1);
    blocker.block();
    EXPECT_TRUE(released); // block() waited for the other thread's unblock
    sleep_milliseconds(50);
}

TEST(Threads, UnmatchedUnblockIsReportedOnDestruction) {
    scratch_dir dir("blocker");
    log_capture log(dir / "log");
    {
        qorl_thread_blocker balanced;
        balanced.unblock();
        balanced.block();
    }
    EXPECT_EQ(log.text(), "");
    {
        qorl_thread_blocker blocker;
        blocker.unblock();
    }
    EXPECT_EQ(log.text(),
              "Error in ~qorl_thread_blocker(), unblock counter was nonzero on destruct?\n");
}

TEST(Threads, SleepLastsAtLeastTheGivenTime) {
    auto start = std::chrono::steady_clock::now();
    sleep_milliseconds(1050); // whole seconds and the remainder both count
    auto slept = std::chrono::steady_clock::now() - start;
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(slept).count(), 1050);
    sleep_milliseconds(0);
    sleep_milliseconds(-5);
}

} // namespace
