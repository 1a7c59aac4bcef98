// Directory trees, the writeable check, the lock between processes, the image boot, the browser.
#include "client/directories.h"

#include "tests/client/child_process.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool is_directory(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(RecursiveMkdir, CreatesDirectoriesBeforeTheLastSeparator) {
    scratch_dir dir("mkdir");
    working_directory cwd(dir.path());
    ASSERT_TRUE(cwd.ok());
    ASSERT_TRUE(write_file(dir / "plain", "x"));
    ASSERT_EQ(mkdir((dir / "existing").c_str(), 0700), 0);

    struct row {
        const char *path;
        int result;
        std::vector<std::string> made;     // directories that must exist afterwards
        std::vector<std::string> not_made; // paths that must not exist afterwards
        const char *error_text;            // what the error text receives
    };
    const std::string abs = dir.path();
    const row rows[] = {
        {"r1/r2/r3", 1, {"r1", "r1/r2"}, {"r1/r2/r3"}, ""},
        {"t1/t2/t3/", 1, {"t1", "t1/t2", "t1/t2/t3"}, {}, ""},
        {"s1//s2\\\\s3\\", 1, {"s1", "s1/s2", "s1/s2/s3"}, {}, ""},
        {"existing/e1/", 1, {"existing/e1"}, {}, ""},
        {"single", 1, {}, {"single"}, ""},
        {"", 1, {}, {}, ""},
        {"plain/p1/", 0, {}, {"plain/p1"}, "plain"},
        {"plain/", 0, {}, {}, "plain"}, // EEXIST from a plain file is no directory
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.path);
        fixed_text error;
        error.assign("E:");
        EXPECT_EQ(qorl_recursive_mkdir(r.path, 0700, &error), r.result);
        EXPECT_EQ(std::string(error.text), std::string("E:") + r.error_text);
        for (const std::string &d : r.made)
            EXPECT_TRUE(is_directory(dir / d)) << d;
        for (const std::string &d : r.not_made)
            EXPECT_FALSE(file_exists(dir / d)) << d;
    }
}

TEST(RecursiveMkdir, AbsolutePathsAndModes) {
    scratch_dir dir("mkdir-abs");
    // A leading back-slash is the root like "/": mkdir sees forward slashes throughout.
    std::string back = "\\" + dir.path().substr(1) + "\\b1\\b2\\";
    for (char &c : back)
        if (c == '/')
            c = '\\';
    EXPECT_EQ(qorl_recursive_mkdir(back.c_str(), 0700, nullptr), 1);
    EXPECT_TRUE(is_directory(dir / "b1/b2"));

    mode_t old_mask = umask(0);
    EXPECT_EQ(qorl_recursive_mkdir((dir / "m/n/").c_str(), 0750, nullptr), 1);
    umask(old_mask);
    struct stat st;
    ASSERT_EQ(stat((dir / "m/n").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0750u);

    log_capture log(dir / "log");
    EXPECT_EQ(qorl_recursive_mkdir(nullptr, 0700, nullptr), 0);
    EXPECT_EQ(log.text(), "Error in qorl_recursive_mkdir(), NULL path.\n");
}

TEST(WriteableDirectory, CreatesAndProvesAndCleansUp) {
    scratch_dir dir("writeable");
    ASSERT_TRUE(write_file(dir / "plain", "x"));
    ASSERT_EQ(mkdir((dir / "ro").c_str(), 0700), 0);
    read_only_mount ro(dir / "ro");
    ASSERT_TRUE(ro.ok()) << "read-only bind mount failed: " << strerror(errno);

    struct row {
        std::string path;
        int result;
        std::string error_text;
    };
    const row rows[] = {
        {dir / "new/deeper", 1, ""},
        {dir / "new/deeper", 1, ""}, // again, now existing
        {dir / "plain", 0, dir / "plain"},
        {dir / "plain/below", 0, dir / "plain"},
        {dir / "ro", 0, dir / "ro/xx-rw-test.qqq"},
        {dir / "ro/sub", 0, dir / "ro/sub"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.path);
        fixed_text error;
        error.clear();
        EXPECT_EQ(qorl_create_and_check_writeable_directory(r.path.c_str(), 0755, &error),
                  r.result);
        EXPECT_EQ(std::string(error.text), r.error_text);
    }
    struct stat st;
    ASSERT_EQ(stat((dir / "new/deeper").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u); // 0700 whatever the caller passed
    EXPECT_FALSE(file_exists(dir / "new/deeper/xx-rw-test.qqq"));

    {
        // The empty path tests the working directory.
        working_directory cwd(dir / "ro");
        ASSERT_TRUE(cwd.ok());
        fixed_text error;
        error.clear();
        EXPECT_EQ(qorl_create_and_check_writeable_directory("", 0700, &error), 0);
        EXPECT_STREQ(error.text, "xx-rw-test.qqq");
    }
    {
        working_directory cwd(dir / "new");
        EXPECT_EQ(qorl_create_and_check_writeable_directory("", 0700, nullptr), 1);
        EXPECT_FALSE(file_exists(dir / "new/xx-rw-test.qqq"));
    }
    log_capture log(dir / "log");
    EXPECT_EQ(qorl_create_and_check_writeable_directory(nullptr, 0700, nullptr), 0);
    EXPECT_EQ(log.text(), "Error in qorl_create_and_check_writeable_directory(), NULL path.\n");
}

// A second process that tries the lock on command: each byte read from `ask` makes it
// try once and write back 'y' (got it, then released) or 'n'; 'h' makes it take and hold
// the lock, answering 'y' or 'n'; end of input ends it.
class lock_prober {
  public:
    explicit lock_prober(const std::string &path) {
        int ask[2], answer[2];
        if (pipe(ask) != 0 || pipe(answer) != 0)
            return;
        fflush(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            close(ask[1]);
            close(answer[0]);
            char c;
            while (read(ask[0], &c, 1) == 1) {
                int fd = lock_file_acquire(path.c_str());
                char reply = fd >= 0 ? 'y' : 'n';
                if (fd >= 0 && c != 'h')
                    lock_file_release(fd);
                if (write(answer[1], &reply, 1) != 1)
                    _exit(1);
            }
            _exit(0);
        }
        close(ask[0]);
        close(answer[1]);
        ask_ = ask[1];
        answer_ = answer[0];
    }
    ~lock_prober() {
        close(ask_);
        close(answer_);
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    // 'y', 'n', or '?' when no answer came within two seconds (the lock call blocked).
    char request(char what) {
        if (write(ask_, &what, 1) != 1)
            return '?';
        pollfd p{answer_, POLLIN, 0};
        char reply = '?';
        if (poll(&p, 1, 2000) == 1 && read(answer_, &reply, 1) != 1)
            reply = '?';
        return reply;
    }
    // Ends the process without releasing anything; true when it ended.
    bool end() {
        close(ask_);
        ask_ = -1;
        int status;
        bool ended = wait_until([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, 5000);
        if (ended)
            pid_ = -1;
        return ended;
    }

  private:
    pid_t pid_ = -1;
    int ask_ = -1, answer_ = -1;
};

TEST(LockFile, OneProcessAtATime) {
    scratch_dir dir("lock");
    const std::string path = dir / "lock.tmp";

    int fd = lock_file_acquire(path.c_str());
    ASSERT_GE(fd, 0);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, 0);
    {
        lock_prober other(path);
        EXPECT_EQ(other.request('t'), 'n'); // at once, not after a wait
        EXPECT_EQ(lock_file_release(fd), 1);
        EXPECT_EQ(other.request('t'), 'y');

        // The other way round: the lock held by a process goes with its exit.
        EXPECT_EQ(other.request('h'), 'y');
        EXPECT_EQ(lock_file_acquire(path.c_str()), -1);
        ASSERT_TRUE(other.end());
    }
    fd = lock_file_acquire(path.c_str());
    EXPECT_GE(fd, 0);
    EXPECT_EQ(lock_file_release(fd), 1);
    EXPECT_TRUE(file_exists(path)); // never deleted

    EXPECT_EQ(lock_file_release(-1), 0);
    EXPECT_EQ(lock_file_acquire((dir / "missing/lock.tmp").c_str()), -1);
}

TEST(LockFile, DescriptorIsNotLeftOpen) {
    scratch_dir dir("lock-fds");
    int before = count_open_descriptors();
    int fd = lock_file_acquire((dir / "lock.tmp").c_str());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(count_open_descriptors(), before + 1);
    EXPECT_EQ(lock_file_release(fd), 1);
    EXPECT_EQ(count_open_descriptors(), before);
}

TEST(BootExec, ReplacesTheProcessWithTheImage) {
    scratch_dir dir("boot");
    const std::string image = dir / "client image";
    ASSERT_TRUE(write_file(image, read_file(RECORD_ARGS_PROGRAM)));
    ASSERT_EQ(chmod(image.c_str(), 0600), 0); // not executable until the boot makes it so
    const std::string out = dir / "args.txt";

    int status = run_in_child([&] {
        setenv("RECORD_ARGS_OUT", out.c_str(), 1);
        setenv("BOOT_MARK", "inherited", 1);
        char a0[] = "client image", a1[] = "-l", a2[] = "1.095-gtk-rc4";
        char *argv[] = {a0, a1, a2, nullptr};
        qorl_boot_exec(image.c_str(), argv);
        return 99; // only reached when the boot failed
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(read_file(out), "client image\n-l\n1.095-gtk-rc4\nmark=inherited\n");
    struct stat st;
    ASSERT_EQ(stat(image.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(BootExec, FailuresAreReportedAndReturned) {
    scratch_dir dir("boot-fail");
    ASSERT_TRUE(write_file(dir / "not-an-image", "plain text, no interpreter line\n"));
    struct row {
        std::string path;
        std::string message;
    };
    const row rows[] = {
        {dir / "missing", "Error in qorl_boot_exec(), chmod failed.  Return code -1, error code " +
                              std::to_string(ENOENT) + ". Filename: " + dir / "missing" + "\n"},
        {dir / "not-an-image",
         "qorl_boot_exec() - trying to boot image '" + dir / "not-an-image" + "'\n" +
             "Error in qorl_boot_exec(), exec failed.  Return code -1, error code " +
             std::to_string(ENOEXEC) + ". Filename: " + dir / "not-an-image" + "\n"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.path);
        log_capture log(dir / "log");
        int32_t old_level = log_level;
        log_level = 3; // show the trace line before the exec
        char a0[] = "x";
        char *argv[] = {a0, nullptr};
        qorl_boot_exec(r.path.c_str(), argv);
        log_level = old_level;
        EXPECT_EQ(log.text(), r.message);
    }
}

TEST(BootFile, BadWhenMissingOrUnder100Bytes) {
    scratch_dir dir("bootfile");
    ASSERT_TRUE(write_file(dir / "99", std::string(99, 'x')));
    ASSERT_TRUE(write_file(dir / "100", std::string(100, 'x')));
    log_capture log(dir / "log");
    EXPECT_EQ(qorl_is_boot_file_bad((dir / "99").c_str()), 1);
    EXPECT_EQ(qorl_is_boot_file_bad((dir / "100").c_str()), 0);
    EXPECT_EQ(qorl_is_boot_file_bad((dir / "missing").c_str()), 1);
    EXPECT_EQ(log.text(),
              "qorl_is_boot_file_bad() - image '" + dir / "99" + "' is too small to be valid.\n");
}

// A fake "firefox" first on PATH that records its arguments and exits with a set status.
class fake_browser {
  public:
    fake_browser(const scratch_dir &dir, int exit_status) : record_(dir / "browser-args") {
        mkdir((dir / "bin").c_str(), 0700);
        write_file(dir / "bin/firefox", "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; "
                                        "done > '" +
                                            record_ + "'\nexit " + std::to_string(exit_status) +
                                            "\n");
        chmod((dir / "bin/firefox").c_str(), 0700);
        const char *old = getenv("PATH");
        old_path_ = old ? old : "";
        setenv("PATH", (dir / "bin:" + old_path_).c_str(), 1);
    }
    ~fake_browser() { setenv("PATH", old_path_.c_str(), 1); }
    std::string arguments() const { return read_file(record_); }

  private:
    std::string record_;
    std::string old_path_;
};

TEST(LaunchBrowser, UrlReachesTheBrowserAsOneArgumentWithoutAShell) {
    scratch_dir dir("browser");
    const std::string hit = dir / "injected";
    const std::string url = "http://example.invalid/a?b=\"$(touch " + hit + ")\"&c=`touch " + hit +
                            "2`;touch " + hit + "3 'x' \\";
    {
        fake_browser browser(dir, 0);
        EXPECT_EQ(launch_browser(url.c_str()), 1);
        EXPECT_EQ(browser.arguments(), url + "\n");
    }
    EXPECT_FALSE(file_exists(hit));
    EXPECT_FALSE(file_exists(hit + "2"));
    EXPECT_FALSE(file_exists(hit + "3"));
    {
        fake_browser browser(dir, 3);
        EXPECT_EQ(launch_browser("http://example.invalid/"), 0);
        EXPECT_EQ(browser.arguments(), "http://example.invalid/\n");
    }
    const char *old = getenv("PATH");
    std::string old_path = old ? old : "";
    setenv("PATH", (dir / "nowhere").c_str(), 1);
    EXPECT_EQ(launch_browser("http://example.invalid/"), 0);
    setenv("PATH", old_path.c_str(), 1);
    EXPECT_EQ(launch_browser(nullptr), 0);
}

} // namespace
