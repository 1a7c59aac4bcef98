// The real launcher's command line: exit codes and the exact log lines each option writes.
#include "tests/support/files.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

namespace {

const std::string log_path = "/tmp/duskmere_korvix_launcher.txt";

std::string executable_line() {
    return "Executable name '" + launcher_path() + "'.\n";
}

std::string help_block() {
    return "Syntax:\n" + launcher_path() +
           " [-h] [-b] [-u] [-v]\n"
           "\n"
           "Options are:\n"
           "  -h   - this help screen\n"
           "  -b   - switch to beta test mode\n"
           "  -u   - switch out of beta test mode\n"
           "  -v   - more verbose debug printing\n"
           "\n";
}

std::string unknown_line(const std::string &shown) {
    return "Sorry, unknown command line option '" + shown + "'.  Use '-h' for a list.\n";
}

// Runs the launcher in a UTF-8 locale with its home in a scratch folder.
class StartUp : public ::testing::Test {
  protected:
    std::vector<std::string> environment(const std::string &locale = "C.UTF-8") const {
        return {"HOME=" + home.path(), "LC_ALL=" + locale, "LANG=" + locale};
    }
    process_result run(const std::vector<std::string> &args, bool keep_log = false,
                       const std::string &locale = "C.UTF-8") {
        if (!keep_log)
            unlink(log_path.c_str());
        std::vector<std::string> argv{launcher_path()};
        argv.insert(argv.end(), args.begin(), args.end());
        return run_process(argv, environment(locale), 30000);
    }
    // What the log holds from the executable-name line on (start-up lines before it are
    // other stages' business); empty when that line is missing.
    static std::string from_executable_line(const std::string &log) {
        size_t at = log.find(executable_line());
        return at == std::string::npos ? std::string() : log.substr(at);
    }
    scratch_dir home{"start_up_home"};
};

TEST_F(StartUp, OptionsThatEndTheLauncher) {
    struct row {
        std::vector<std::string> args;
        int exit_code;
        std::string after_executable_line; // exactly what follows, up to the end of the log
    };
    const row rows[] = {
        {{"-h"}, 0, help_block()},
        {{"--help"}, 0, help_block()},
        {{"-H"}, 0, help_block()},
        {{"--HeLp"}, 0, help_block()},
        {{"-h extra words"}, 0, help_block()},
        {{"-h\tx"}, 0, help_block()},
        {{"-b", "-h"}, 0, "Forcing beta test mode.\n" + help_block()},
        {{"-v", "-h", "-x"}, 0, "Setting verbose printing mode.\n" + help_block()},
        {{"-u", "--BETA", "-B more", "--unbeta", "--verbose", "-V", "-h"},
         0,
         "Forcing non-beta test mode.\nForcing beta test mode.\nForcing beta test mode.\n"
         "Forcing non-beta test mode.\nSetting verbose printing mode.\n"
         "Setting verbose printing mode.\n" +
             help_block()},
        {{"-x"}, 1, unknown_line("-x")},
        {{"-hx"}, 1, unknown_line("-hx")},
        {{"-help"}, 1, unknown_line("-help")},
        {{"-x", "-h"}, 1, unknown_line("-x")},
        {{""}, 1, unknown_line("")},
        {{" -h"}, 1, unknown_line(" -h")},
        {{"-b", "bogus"}, 1, "Forcing beta test mode.\n" + unknown_line("bogus")},
    };
    for (const row &r : rows) {
        std::string shown;
        for (const std::string &a : r.args)
            shown += "[" + a + "]";
        SCOPED_TRACE(shown);
        process_result p = run(r.args);
        ASSERT_FALSE(p.timed_out) << p.output;
        EXPECT_EQ(p.exit_code, r.exit_code) << p.output;
        std::string log = read_file(log_path);
        EXPECT_EQ(from_executable_line(log), executable_line() + r.after_executable_line) << log;
    }
}

TEST_F(StartUp, NonAsciiIsOneDotPerCharacterInAnyLocale) {
    const std::string arg = "\xc3\xbc-\xc3\xa9\xe2\x82\xacx\xf0\x9f\x98\x80 -h";
    for (const char *locale : {"C.UTF-8", "C", "POSIX"}) {
        SCOPED_TRACE(locale);
        process_result p = run({arg}, false, locale);
        EXPECT_EQ(p.exit_code, 1) << p.output;
        EXPECT_EQ(from_executable_line(read_file(log_path)),
                  executable_line() + unknown_line(".-..x. -h"));
    }
}

TEST_F(StartUp, TwoRunsAppendToTheSameLog) {
    unlink(log_path.c_str());
    ASSERT_EQ(run({"-h"}, true).exit_code, 0);
    std::string first = read_file(log_path);
    ASSERT_EQ(run({"-h"}, true).exit_code, 0);
    std::string both = read_file(log_path);
    ASSERT_EQ(both.substr(0, first.size()), first);
    EXPECT_EQ(from_executable_line(both.substr(first.size())), executable_line() + help_block());
}

TEST_F(StartUp, OptionsThatLetStartUpGoOn) {
    // These do not end the process: wait for their lines, then stop it. Should start-up end
    // by itself (no image to boot), it must do so with status 0.
    struct row {
        std::vector<std::string> args;
        std::string lines;
    };
    const row rows[] = {
        {{"-v"}, "Setting verbose printing mode.\n"},
        {{"--verbose", "-b", "-u"},
         "Setting verbose printing mode.\nForcing beta test mode.\nForcing non-beta test mode.\n"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.args[0]);
        unlink(log_path.c_str());
        std::vector<std::string> argv{launcher_path()};
        argv.insert(argv.end(), r.args.begin(), r.args.end());
        background_process launcher(argv, environment());
        std::string expected = executable_line() + r.lines;
        bool seen = wait_until(
            [&] { return read_file(log_path).find(expected) != std::string::npos; }, 20000);
        EXPECT_TRUE(seen) << read_file(log_path);
        int exit_code = -1, sig = 0;
        if (launcher.wait(1000, &exit_code, &sig)) {
            EXPECT_EQ(sig, 0);
            EXPECT_EQ(exit_code, 0);
        }
        std::string log = read_file(log_path);
        EXPECT_EQ(log.find("Sorry, unknown"), std::string::npos) << log;
        EXPECT_EQ(log.find("Syntax:"), std::string::npos) << log;
    }
}

TEST_F(StartUp, StrangeArgumentsAreConvertedCutAndLogged) {
    std::string long_ascii(100000, 'a');
    std::string long_utf8;
    for (int i = 0; i < 50000; ++i)
        long_utf8 += "\xc3\xa9";
    std::string many_bytes;
    for (int i = 0; i < 100000; ++i)
        many_bytes.push_back(char(1 + (i * 7919) % 255));
    struct row {
        const char *name;
        std::string arg;
        std::string shown; // empty: only checked for printable ASCII and the length limit
    };
    const row rows[] = {
        {"100 000 ASCII bytes", long_ascii, std::string(5999, 'a')},
        {"50 000 two-byte characters", long_utf8, std::string(5999, '.')},
        {"control characters", "a\x01\x1b[31mb\x7f", "a..[31mb."},
        {"tab, carriage return and line feed kept", "z\tb\rc\nd", "z\tb\rc\nd"},
        {"invalid UTF-8",
         "ab\xff"
         "cd\xc3",
         "ab.cd."},
        {"truncated sequence",
         "\xe2\x82"
         "x",
         ".x"},
        {"0xf8-0xff", "\xf8\xfc\xfe\xff", "...."},
        {"100 000 mixed bytes", many_bytes, ""},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.name);
        process_result p = run({r.arg});
        ASSERT_FALSE(p.timed_out);
        EXPECT_EQ(p.exit_code, 1) << p.output.substr(0, 2000);
        EXPECT_EQ(p.signal, 0);
        std::string after = from_executable_line(read_file(log_path));
        if (!r.shown.empty()) {
            EXPECT_EQ(after, executable_line() + unknown_line(r.shown));
            continue;
        }
        std::string head = executable_line() + "Sorry, unknown command line option '";
        std::string tail = "'.  Use '-h' for a list.\n";
        ASSERT_EQ(after.substr(0, head.size()), head);
        ASSERT_GE(after.size(), head.size() + tail.size());
        ASSERT_EQ(after.substr(after.size() - tail.size()), tail);
        std::string shown = after.substr(head.size(), after.size() - head.size() - tail.size());
        EXPECT_LE(shown.size(), 5999u);
        for (char c : shown)
            EXPECT_TRUE((c >= 32 && c <= 126) || c == '\t' || c == '\n' || c == '\r')
                << int((unsigned char)c);
    }
}

} // namespace
