// The configuration directory: candidates in order, HOME unset, a second set-up. Each case
// runs in a child process because the chosen directory is stored for the whole process.
#include "client/config_dir.h"

#include "tests/client/child_process.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct outcome {
    int status = -1; // the child's exit status: the set-up's result, or -1
    std::string chosen;
    std::string log;
};

// Runs the set-up in a child with the given HOME (null: unset) and working directory,
// with trace reports on so the log shows every candidate checked.
outcome set_up_in_child(const scratch_dir &dir, const char *base, const char *home,
                        const std::string &cwd) {
    const std::string chosen_file = dir / "chosen.txt";
    const std::string log_file = dir / "log.txt";
    unlink(chosen_file.c_str());
    outcome o;
    o.status = run_in_child([&] {
        log_capture log(log_file);
        log_level = 3;
        if (home)
            setenv("HOME", home, 1);
        else
            unsetenv("HOME");
        if (chdir(cwd.c_str()) != 0)
            return 100;
        int result = qorl_client_set_up_config_directory(base);
        const char *chosen = get_config_directory();
        write_file(chosen_file, chosen ? chosen : "(none)");
        return result;
    });
    o.chosen = read_file(chosen_file);
    o.log = read_file(log_file);
    return o;
}

std::string checked(const std::string &path, bool ok) {
    return "Checking config directory: " + path + (ok ? "" : " [FAIL]") + "\n";
}

TEST(ConfigDirectory, CandidatesInOrder) {
    scratch_dir dir("config");
    const std::string home = dir / "home", ro_home = dir / "ro-home";
    const std::string cwd = dir / "cwd", ro_cwd = dir / "ro-cwd";
    for (const std::string &d : {home, ro_home, cwd, ro_cwd})
        ASSERT_EQ(mkdir(d.c_str(), 0755), 0);
    read_only_mount ro1(ro_home), ro2(ro_cwd);
    ASSERT_TRUE(ro1.ok() && ro2.ok());
    // Plain files that block the later candidates of base "Blocked".
    ASSERT_TRUE(write_file(cwd + "/.Blocked", "x"));
    ASSERT_TRUE(write_file("/tmp/Blocked", "x"));
    ASSERT_TRUE(write_file("/tmp/Hopeless", "x"));

    struct row {
        const char *base;
        std::string home, cwd;
        int result;
        std::string chosen;
        std::vector<std::string> tried; // candidates that failed before the chosen one
    };
    const row rows[] = {
        {"InHome", home, ro_cwd, 1, home + "/.InHome", {}},
        {"InCwd", ro_home, cwd, 1, ".InCwd", {ro_home + "/.InCwd"}},
        {"InTmp", ro_home, ro_cwd, 1, "/tmp/InTmp", {ro_home + "/.InTmp", ".InTmp"}},
        {"Blocked",
         ro_home,
         cwd,
         1,
         "Blocked",
         {ro_home + "/.Blocked", ".Blocked", "/tmp/Blocked"}},
        {"Hopeless",
         ro_home,
         ro_cwd,
         0,
         "(none)",
         {ro_home + "/.Hopeless", ".Hopeless", "/tmp/Hopeless", "Hopeless"}},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.base);
        outcome o = set_up_in_child(dir, r.base, r.home.c_str(), r.cwd);
        EXPECT_EQ(o.status, r.result);
        EXPECT_EQ(o.chosen, r.chosen);
        std::string expected;
        for (const std::string &t : r.tried)
            expected += checked(t, false);
        if (r.result == 1)
            expected += checked(r.chosen, true) +
                        "qorl_client_set_up_config_directory() - got final config directory '" +
                        r.chosen + "'\n";
        else
            expected += "qorl_client_set_up_config_directory() - Giving up.  Cannot create "
                        "config directory.\n";
        EXPECT_EQ(o.log, expected);
        if (r.result == 1) {
            std::string full = r.chosen[0] == '/' ? r.chosen : r.cwd + "/" + r.chosen;
            struct stat st;
            ASSERT_EQ(stat(full.c_str(), &st), 0);
            EXPECT_TRUE(S_ISDIR(st.st_mode));
            EXPECT_EQ(st.st_mode & 0777, 0700u);
            EXPECT_FALSE(file_exists(full + "/xx-rw-test.qqq"));
        }
    }
}

TEST(ConfigDirectory, HomeUnsetFailsAtOnce) {
    scratch_dir dir("config-nohome");
    outcome o = set_up_in_child(dir, "NoHome", nullptr, dir.path());
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.chosen, "(none)");
    EXPECT_EQ(o.log, "Error in qorl_client_set_up_config_directory(), unable to fetch home "
                     "directory - please set HOME environment variable and restart.\n");
    EXPECT_FALSE(file_exists("/tmp/NoHome")); // no fallback is tried
    EXPECT_FALSE(file_exists(dir / ".NoHome"));
}

TEST(ConfigDirectory, NullBaseAndSecondSetUp) {
    scratch_dir dir("config-again");
    const std::string chosen_file = dir / "chosen.txt";
    const std::string log_file = dir / "log.txt";
    int status = run_in_child([&] {
        log_capture log(log_file);
        setenv("HOME", dir.path().c_str(), 1);
        if (qorl_client_set_up_config_directory(nullptr) != 0 || get_config_directory())
            return 10;
        if (qorl_client_set_up_config_directory("First") != 1)
            return 11;
        const char *first = get_config_directory();
        if (qorl_client_set_up_config_directory("Second") != 1)
            return 12;
        // The earlier text stays valid for whoever still holds it.
        write_file(chosen_file, std::string(first) + "|" + get_config_directory());
        return 0;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(read_file(chosen_file), dir / ".First" + "|" + dir / ".Second");
    EXPECT_EQ(read_file(log_file), "Error in qorl_client_set_up_config_directory(), attempt to "
                                   "change config directory path after initial configuration.\n");
}

} // namespace
