// Debug log: the category filter, lazy opening, a failed open that stays failed, char dumps.
#include "client/debug_log.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

// Puts the log back in its start state: closed, no names, level 1, filter on, no mask.
void reset_log() {
    if (qorl_client_debug_logfile_is_open())
        qorl_client_debug_logfile_close();
    qorl_client_set_debug_logfile_name(nullptr);
    log_level = 1;
    set_message_filter_mask(0);
    enable_message_filter();
}

class DebugLog : public ::testing::Test {
  protected:
    void SetUp() override { reset_log(); }
    void TearDown() override { reset_log(); }
    scratch_dir dir{"debug_log"};
    std::string path(const std::string &leaf) { return dir / leaf; }
};

TEST_F(DebugLog, FilterDecidesByCategoriesMaskAndLevel) {
    struct row {
        int32_t level;
        uint32_t mask;
        bool enabled;
        uint32_t categories;
        bool written;
    };
    const row rows[] = {
        {1, 0, true, msg_runtime, true},
        {1, 0, true, msg_trace, false},
        {1, 0, true, msg_trace | msg_runtime, false}, // the trace rule wins
        {2, 0, true, msg_trace, false},
        {3, 0, true, msg_trace, true},
        {3, 0, true, msg_trace | msg_usage, true},
        {0, 0, true, msg_runtime, false},
        {-5, 0, true, msg_resource, false},
        {1, 0, true, 0, false},
        {1, msg_runtime, true, msg_runtime, false},
        {1, msg_runtime, true, msg_runtime | msg_usage, true},
        {1, msg_trace, true, msg_trace | msg_runtime, true}, // trace masked, runtime remains
        {3, msg_trace, true, msg_trace, false},
        {1, 0xffffffffu, true, 0x1ff, false},
        {1, 0, false, msg_runtime, false},
        {3, 0, false, msg_trace, false},
        {1, 0, true, 0x80000000u, true}, // bits outside the table still count as non-trace
    };
    int n = 0;
    for (const row &r : rows) {
        SCOPED_TRACE("row " + std::to_string(n));
        std::string file = path("filter" + std::to_string(n++) + ".txt");
        qorl_client_set_debug_logfile_name(file.c_str());
        qorl_client_try_open_debug_logfile(); // opened at level 1: no trace line
        ASSERT_TRUE(qorl_client_debug_logfile_is_open());
        log_level = r.level;
        set_message_filter_mask(r.mask);
        if (!r.enabled)
            disable_message_filter();
        report_message("Error in x(), a report.", r.categories, module_runtime);
        reset_log();
        EXPECT_EQ(read_file(file), r.written ? "Error in x(), a report.\n" : "");
    }
}

TEST_F(DebugLog, DisabledFilterStillLetsDirectEntriesThrough) {
    std::string file = path("direct.txt");
    qorl_client_set_debug_logfile_name(file.c_str());
    disable_message_filter();
    report_message("dropped", msg_runtime, module_runtime);
    log_printf("kept %d", 7);
    enable_message_filter();
    report_message("written", msg_runtime, module_runtime);
    // Each entry is flushed at once: readable while the log is still open.
    EXPECT_EQ(read_file(file), "kept 7written\n");
}

TEST_F(DebugLog, OpensLazilyAppendsAndTracesTheOpenAtLevelThree) {
    std::string file = path("lazy.txt");
    ASSERT_TRUE(write_file(file, "earlier run\n"));
    log_level = 3;
    qorl_client_set_debug_logfile_name(file.c_str());
    EXPECT_FALSE(qorl_client_debug_logfile_is_open());
    EXPECT_EQ(read_file(file), "earlier run\n");
    log_printf("entry\n");
    EXPECT_TRUE(qorl_client_debug_logfile_is_open());
    EXPECT_EQ(read_file(file),
              "earlier run\nqorl_client_try_open_debug_logfile() opened logfile '" + file +
                  "'\nentry\n");
}

// The client image is started with exec from this process: the open log must not go with it.
TEST_F(DebugLog, OpenLogIsClosedOnExec) {
    std::string file = path("exec.txt");
    qorl_client_set_debug_logfile_name(file.c_str());
    log_printf("entry\n");
    ASSERT_TRUE(qorl_client_debug_logfile_is_open());
    std::string target = file;
    int log_fd = -1;
    for (int fd = 0; fd < 1024 && log_fd < 0; ++fd) {
        char link[64], resolved[4096];
        snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        ssize_t n = readlink(link, resolved, sizeof resolved - 1);
        if (n > 0 && std::string(resolved, size_t(n)) == target)
            log_fd = fd;
    }
    ASSERT_GE(log_fd, 0);
    EXPECT_TRUE(fcntl(log_fd, F_GETFD) & FD_CLOEXEC);
}

TEST_F(DebugLog, UsageErrorsAreReportedAndChangeNothing) {
    std::string file = path("usage.txt");
    std::string other = path("other.txt");
    qorl_client_set_debug_logfile_name(file.c_str());
    qorl_client_try_open_debug_logfile();
    qorl_client_try_open_debug_logfile();
    qorl_client_set_debug_logfile_name(other.c_str());
    qorl_client_set_autoopen_debug_logfile_name("x.txt");
    EXPECT_STREQ(qorl_client_get_debug_logfile_path(), file.c_str());
    EXPECT_EQ(qorl_client_get_autoopen_debug_logfile_name(), nullptr);
    log_printf("still here\n");
    qorl_client_debug_logfile_close();
    EXPECT_EQ(qorl_client_get_debug_logfile_path(), nullptr);
    EXPECT_FALSE(file_exists(other));
    EXPECT_EQ(read_file(file),
              "Error in qorl_client_try_open_debug_logfile(), logfile already open.\n"
              "Error in qorl_client_set_debug_logfile_name(), logfile already open.\n"
              "Error in qorl_client_set_autoopen_debug_logfile_name(), logfile already open.\n"
              "still here\n");

    // With both names forgotten, writes go nowhere and nothing counts as failed;
    // closing again has nowhere to report to.
    log_printf("lost\n");
    qorl_client_debug_logfile_close();
    EXPECT_FALSE(qorl_client_debug_logfile_is_open());
    EXPECT_EQ(qorl_client_debug_logfile_open_failed(), 0);
}

TEST_F(DebugLog, CloseWithNoFileReportsIntoTheNamedLog) {
    // The report itself is the first write, so it opens the named file.
    std::string file = path("close.txt");
    qorl_client_set_debug_logfile_name(file.c_str());
    qorl_client_debug_logfile_close();
    EXPECT_TRUE(qorl_client_debug_logfile_is_open());
    EXPECT_EQ(read_file(file), "Error in qorl_client_debug_logfile_close(), no logfile open.\n");
}

TEST_F(DebugLog, FailedOpenIsFinalUntilANameIsSetAgain) {
    std::string missing_dir = path("not-yet");
    std::string file = missing_dir + "/log.txt";
    qorl_client_set_debug_logfile_name(file.c_str());
    log_printf("first\n");
    EXPECT_EQ(qorl_client_debug_logfile_open_failed(), 1);
    EXPECT_FALSE(qorl_client_debug_logfile_is_open());

    ASSERT_EQ(mkdir(missing_dir.c_str(), 0700), 0);
    log_printf("second\n");
    report_message("third", msg_runtime, module_runtime);
    auto_open_debug_logfile();
    EXPECT_FALSE(file_exists(file));

    qorl_client_set_debug_logfile_name(file.c_str());
    EXPECT_EQ(qorl_client_debug_logfile_open_failed(), 0);
    log_printf("fourth\n");
    EXPECT_EQ(read_file(file), "fourth\n");
}

TEST_F(DebugLog, AutoOpenNameIsComposedUnderTmp) {
    unlink("/tmp/debug_log_auto.txt");
    qorl_client_set_autoopen_debug_logfile_name("debug_log_auto.txt");
    EXPECT_EQ(qorl_client_get_debug_logfile_path(), nullptr);
    log_printf("hello\n");
    EXPECT_STREQ(qorl_client_get_debug_logfile_path(), "/tmp/debug_log_auto.txt");
    EXPECT_EQ(read_file("/tmp/debug_log_auto.txt"), "hello\n");
    unlink("/tmp/debug_log_auto.txt");

    // A name far beyond the text limit is cut, fails to open, and silences the log.
    reset_log();
    std::string huge(10000, 'n');
    qorl_client_set_autoopen_debug_logfile_name(huge.c_str());
    log_printf("nowhere\n");
    ASSERT_NE(qorl_client_get_debug_logfile_path(), nullptr);
    EXPECT_EQ(std::string(qorl_client_get_debug_logfile_path()), "/tmp/" + huge.substr(0, 5994));
    EXPECT_EQ(qorl_client_debug_logfile_open_failed(), 1);
}

// The child's steps; the exit status names the first that went wrong (0: all right).
int unwritable_tmp_child() {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr))
        return 10;
    if (mount("/tmp", "/tmp", nullptr, MS_BIND, nullptr) != 0 ||
        mount(nullptr, "/tmp", nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
        return 11;
    const char *log = "/tmp/unwritable_test.txt";
    qorl_client_set_autoopen_debug_logfile_name("unwritable_test.txt");
    log_printf("first\n");
    if (qorl_client_debug_logfile_open_failed() != 1 || qorl_client_debug_logfile_is_open())
        return 1;
    if (umount("/tmp") != 0) // writeable again: a retry would now succeed
        return 12;
    log_printf("second\n");
    report_message("third", msg_runtime, module_runtime);
    if (access(log, F_OK) == 0 || qorl_client_debug_logfile_open_failed() != 1)
        return 2;
    return 0;
}

TEST_F(DebugLog, UnwritableTmpFailsSilentlyAndIsNotRetried) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0)
        _exit(unwritable_tmp_child());
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    int step = WEXITSTATUS(status);
    ASSERT_LT(step, 10) << "could not set up a read-only /tmp (step " << step << ")";
    EXPECT_EQ(step, 0) << (step == 1 ? "the first write did not fail" : "a later write retried");
}

TEST_F(DebugLog, CharDumpShowsPrintableBytesAtLevelTwo) {
    struct row {
        int32_t level;
        int32_t count;
        std::string expected;
    };
    const unsigned char bytes[] = {'a', '\n', 0x01, 0x7f, '~', ' ', 0x80, 0xff, '\r', '\t', 0};
    const row rows[] = {
        {2, 11, "a\n..~ ....."}, {1, 11, ""}, {2, 0, ""}, {2, -3, ""}, {2, 2, "a\n"},
    };
    int n = 0;
    for (const row &r : rows) {
        std::string file = path("dump" + std::to_string(n++) + ".txt");
        qorl_client_set_debug_logfile_name(file.c_str());
        log_printf("|");
        log_level = r.level;
        log_char_dump(bytes, r.count);
        log_char_dump(nullptr, 5);
        reset_log();
        EXPECT_EQ(read_file(file), "|" + r.expected)
            << "level " << r.level << ", count " << r.count;
    }
}

} // namespace
