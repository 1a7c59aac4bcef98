// launcher.cfg: its exact bytes, and how the real launcher loads, repairs and rewrites it.
#include "client/config_dir.h"
#include "launcher/config_file.h"

#include "tests/support/files.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <string>
#include <vector>

namespace {

const char launcher_log[] = "/tmp/duskmere_korvix_launcher.txt";

std::string expected_file(int beta) {
    return std::string("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
                       "<launcher_config>\n"
                       "  <launcher_version>1.095-gtk-rc4</launcher_version>\n"
                       "  <beta_test_enable>") +
           std::to_string(beta) +
           "</beta_test_enable>\n"
           "</launcher_config>\n"
           "\n";
}

const std::string declaration = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n";

// The file's elements without the declaration line.
std::string body_with(const std::string &version, const std::string &beta) {
    return "<launcher_config>\n  <launcher_version>" + version +
           "</launcher_version>\n  <beta_test_enable>" + beta +
           "</beta_test_enable>\n</launcher_config>\n";
}

std::string config_with(const std::string &version, const std::string &beta) {
    return declaration + body_with(version, beta);
}

// In this process: the configuration directory lives under a scratch HOME.
class ConfigFileInProcess : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        home = new scratch_dir("config-in-process");
        setenv("HOME", home->path().c_str(), 1);
        ASSERT_EQ(qorl_client_set_up_config_directory("Duskmere"), 1);
    }
    static void TearDownTestSuite() {
        delete home;
        home = nullptr;
    }
    static std::string cfg() { return std::string(get_config_directory()) + "/launcher.cfg"; }

    static scratch_dir *home;
};
scratch_dir *ConfigFileInProcess::home = nullptr;

TEST_F(ConfigFileInProcess, ExactBytesAndSavingOnlyOnChange) {
    set_beta_mode(1);
    EXPECT_EQ(read_file(cfg()), expected_file(1));
    set_beta_mode(0);
    EXPECT_EQ(read_file(cfg()), expected_file(0));

    // Setting the current value again writes nothing.
    ASSERT_EQ(unlink(cfg().c_str()), 0);
    set_beta_mode(0);
    EXPECT_FALSE(file_exists(cfg()));
    EXPECT_EQ(get_beta_mode(), 0);
}

TEST_F(ConfigFileInProcess, LoadReadsChildrenInAnyOrder) {
    // Children in any order, unknown ones skipped, a later duplicate overriding.
    ASSERT_TRUE(write_file(cfg(), "<?xml encoding=\"ISO-8859-1\" version=\"1.0\"?>\n"
                                  "<launcher_config>\n"
                                  "  <beta_test_enable>0</beta_test_enable>\n"
                                  "  <window><x>1</x></window>\n"
                                  "  <launcher_version>1.095-gtk-rc4</launcher_version>\n"
                                  "  <beta_test_enable>1</beta_test_enable>\n"
                                  "</launcher_config>\n"));
    std::string before = read_file(cfg());
    beta_mode = 0;
    load_system_config_file();
    EXPECT_EQ(get_beta_mode(), 1);
    ASSERT_NE(get_stored_launcher_version(), nullptr);
    EXPECT_STREQ(get_stored_launcher_version(), "1.095-gtk-rc4");
    EXPECT_EQ(read_file(cfg()), before); // the current version is not rewritten

    // A non-number leaves the mode as it was; the other version makes it rewrite.
    ASSERT_TRUE(write_file(cfg(), config_with("1.0", "yes")));
    load_system_config_file();
    EXPECT_STREQ(get_stored_launcher_version(), "1.0");
    EXPECT_EQ(read_file(cfg()), expected_file(1));
    beta_mode = 0;
}

// Through the real launcher, with a scratch HOME. Until the launcher window exists the
// launcher does not end by itself, so every run ends with "-h": the earlier options have
// acted by then and help exits with 0 right after start-up's configuration stages.
class ConfigFileLauncher : public ::testing::Test {
  protected:
    ConfigFileLauncher() : home("config-launcher") {}

    std::string config_dir() const { return home.path() + "/.Duskmere"; }
    std::string cfg() const { return config_dir() + "/launcher.cfg"; }

    void write_cfg(const std::string &content) {
        mkdir(config_dir().c_str(), 0700);
        ASSERT_TRUE(write_file(cfg(), content));
    }

    // Runs the launcher with the options and "-h"; returns what it logged.
    std::string run(std::vector<std::string> options = {}) {
        write_file(launcher_log, "");
        std::vector<std::string> argv = {launcher_path()};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.push_back("-h");
        process_result r = run_process(argv, {"HOME=" + home.path()}, 20000);
        EXPECT_FALSE(r.timed_out);
        EXPECT_EQ(r.signal, 0) << r.output;
        EXPECT_EQ(r.exit_code, 0) << r.output;
        return read_file(launcher_log);
    }

    scratch_dir home;
};

bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

TEST_F(ConfigFileLauncher, FirstRunCreatesTheFile) {
    std::string log = run();
    EXPECT_TRUE(
        contains(log, "Unable to load system config - cannot open config file '" + cfg() + "'.\n"))
        << log;
    EXPECT_EQ(read_file(cfg()), expected_file(0));
}

TEST_F(ConfigFileLauncher, OtherVersionIsRewrittenKeepingBeta) {
    write_cfg(config_with("1.090-gtk", "1"));
    run();
    EXPECT_EQ(read_file(cfg()), expected_file(1));
}

TEST_F(ConfigFileLauncher, DeclarationWithoutEncodingIsRewrittenWithCurrentValues) {
    write_cfg("<?xml version=\"1.0\"?>\n" + body_with("1.095-gtk-rc4", "1"));
    std::string log = run();
    EXPECT_TRUE(contains(log, "Warning in load_system_config_file() - bad XML header, bailing.\n"))
        << log;
    EXPECT_EQ(read_file(cfg()), expected_file(0));
}

TEST_F(ConfigFileLauncher, UnknownTopLevelElementIsReportedAndSkipped) {
    // The known section comes after the unknown one, so it is read only if the skip works.
    std::string content = declaration +
                          "<window_layout>\n"
                          "  <launcher_config><beta_test_enable>0</beta_test_enable>"
                          "</launcher_config>\n"
                          "  <![CDATA[\n00ff\n]]>\n"
                          "</window_layout>\n" +
                          body_with("1.095-gtk-rc4", "1");
    write_cfg(content);
    std::string log = run();
    EXPECT_TRUE(contains(log, "load_system_config_file() got unknown tag 'window_layout'\n"))
        << log;
    EXPECT_EQ(read_file(cfg()), content); // current version: left as it is
    // Beta mode was read as 1: switching it off must save.
    run({"-u"});
    EXPECT_EQ(read_file(cfg()), expected_file(0));
}

TEST_F(ConfigFileLauncher, BetaSwitchSurvivesRestart) {
    std::string log = run({"-b"});
    EXPECT_TRUE(contains(log, "Forcing beta test mode.\n")) << log;
    EXPECT_EQ(read_file(cfg()), expected_file(1));
    run();
    EXPECT_EQ(read_file(cfg()), expected_file(1));
    run({"--unbeta"});
    EXPECT_EQ(read_file(cfg()), expected_file(0));
    run();
    EXPECT_EQ(read_file(cfg()), expected_file(0));
}

TEST_F(ConfigFileLauncher, SettingTheCurrentModeWritesNothing) {
    // Same values, another layout: any rewrite would show.
    std::string content = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
                          "<launcher_config>\n"
                          "<beta_test_enable>1</beta_test_enable>\n"
                          "<launcher_version>1.095-gtk-rc4</launcher_version>\n"
                          "</launcher_config>\n";
    write_cfg(content);
    run({"-b", "--beta"});
    EXPECT_EQ(read_file(cfg()), content);
}

TEST_F(ConfigFileLauncher, AnyContentIsReportedAndReplaced) {
    std::string binary;
    for (int i = 0; i < 3000; ++i)
        binary += char((i * 131) ^ (i >> 3));
    std::string nested;
    for (int i = 0; i < 30000; ++i)
        nested += "<launcher_config>";
    const std::string &header = declaration;
    // beta: the value the launcher could still read, which the new file keeps.
    struct row {
        const char *what;
        std::string content;
        int beta;
    };
    const row rows[] = {
        {"empty", "", 0},
        {"binary", binary, 0},
        {"binary after the declaration", header + binary, 0},
        {"one 100000-character line", std::string(100000, 'x'), 0},
        {"a long line after the declaration", header + std::string(100000, '<'), 0},
        // The declaration is cut where the line reader stops; the rest is read as elements.
        {"a declaration line of 100000 characters",
         "<?xml version=\"1.0\" encoding=\"x\"" + std::string(100000, ' ') + "?>\n" +
             body_with("1.0", "1"),
         1},
        {"unbalanced tags", header + "<launcher_config><launcher_config><a><b></a></b></c>", 0},
        {"closing tags only", header + "</launcher_config></launcher_version></x>", 0},
        {"deep nesting", header + nested, 0},
        {"text with a tab",
         header + "<launcher_config><launcher_version>1.095-gtk-rc4\t</launcher_version>"
                  "<beta_test_enable>1</beta_test_enable></launcher_config>",
         1},
        {"cut short", config_with("1.095-gtk-rc4", "1").substr(0, 90), 0},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.what);
        write_cfg(r.content);
        run();
        EXPECT_EQ(read_file(cfg()), expected_file(r.beta));
    }
}

} // namespace
