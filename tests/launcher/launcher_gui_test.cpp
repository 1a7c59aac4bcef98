// The real launcher on the sandbox's display: its window and keys, the lock wait, and which
// installed image it starts.
#include "client/directories.h"
#include "tests/support/files.h"
#include "tests/support/loopback_listener.h"
#include "tests/support/process.h"
#include "updater/file_manifest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

const char launcher_log[] = "/tmp/duskmere_korvix_launcher.txt";
const char booted_args[] = " -l 1.095-gtk-rc4\n";

// A scratch HOME with the launcher's folders, and the files the launcher reads and writes.
struct launcher_home {
    explicit launcher_home(const std::string &name) : dir(name) {
        EXPECT_TRUE(qorl_recursive_mkdir((config() + "/executables/").c_str(), 0700, nullptr));
        unlink(launcher_log);
    }
    std::string config() const { return dir.path() + "/.Duskmere"; }
    std::string executables() const { return config() + "/executables"; }
    std::string record() const { return dir / "boot_record.txt"; }
    std::string env() const { return "HOME=" + dir.path(); }

    // An image that appends "$0 $@" to the record file (at least 100 bytes, like a real one).
    void add_image(const std::string &name) const {
        std::string script = "#!/bin/sh\necho \"$0 $@\" >> \"$HOME/boot_record.txt\"\n";
        script += "# stand-in client image " + std::string(60, '-') + "\n";
        ASSERT_TRUE(write_file(executables() + "/" + name, script));
    }
    // A file that is there but cannot be started: no executable content.
    void add_broken_image(const std::string &name) const {
        ASSERT_TRUE(write_file(executables() + "/" + name,
                               "this is not a program\n" + std::string(100, 'x') + "\n"));
    }
    // The local manifest listing these names.
    void list(const std::vector<std::string> &names) const {
        tavu_file_manifest manifest;
        for (const std::string &name : names) {
            manifest_entry record{const_cast<char *>(name.c_str()),
                                  const_cast<char *>("0123456789abcdef"), 128, nullptr};
            ASSERT_TRUE(manifest.update_entry(&record));
        }
        ASSERT_TRUE(manifest.save_file((executables() + "/update_manifest.lst").c_str()));
    }

    scratch_dir dir;
};

std::string log_text() {
    return file_exists(launcher_log) ? read_file(launcher_log) : "";
}

// Listens on the update server's port and never answers, so the updater run stays busy.
class silent_server {
  public:
    silent_server() {
        fd = listen_on_loopback(80, 8, SOCK_NONBLOCK, nullptr);
        listening = fd >= 0;
    }
    // Resets the waiting connection: the updater run fails at once.
    void stop() {
        if (fd < 0)
            return;
        int waiting;
        while ((waiting = accept4(fd, nullptr, nullptr, SOCK_NONBLOCK)) >= 0)
            close(waiting);
        close(fd);
        fd = -1;
    }
    ~silent_server() { stop(); }
    bool listening = false;

  private:
    int fd = -1;
};

// The launcher window's X id once it is mapped, or "".
std::string find_window() {
    process_result found = run_process(
        {"/usr/bin/xdotool", "search", "--sync", "--onlyvisible", "--name", "Duskmere Launcher"},
        {}, 15000);
    std::string id = found.output.substr(0, found.output.find('\n'));
    return found.exit_code == 0 ? id : "";
}

bool press(const std::string &window, const char *key) {
    return run_process({"/usr/bin/xdotool", "windowfocus", "--sync", window, "key", key}, {}, 10000)
               .exit_code == 0;
}

// The whole 1024 x 768 display as RGB bytes.
std::string screen_rgb(const std::string &folder) {
    const std::string shot = folder + "/screen.png", raw = folder + "/screen.rgb";
    EXPECT_EQ(run_process({"/usr/bin/import", "-window", "root", shot}).exit_code, 0);
    EXPECT_EQ(run_process({"/usr/bin/convert", shot, "-depth", "8", "rgb:" + raw}).exit_code, 0);
    return read_file(raw);
}

std::string splash_rgb(const std::string &folder) {
    const std::string raw = folder + "/splash.rgb";
    EXPECT_EQ(
        run_process({"/usr/bin/convert", std::string(DUSKMERE_SOURCE_DIR) + "/resources/splash.png",
                     "-depth", "8", "rgb:" + raw})
            .exit_code,
        0);
    return read_file(raw);
}

long ms_since(std::chrono::steady_clock::time_point start) {
    return long(std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - start)
                    .count());
}

// Centred window, splash and bar on screen, B saved, Escape holding and releasing the boot.
TEST(launcher_window, shows_centred_and_obeys_escape_and_b) {
    launcher_home home("gui-keys");
    home.add_image("korvix_110");
    home.add_image("korvix_120_beta");
    home.list({"korvix_110", "korvix_120_beta"});
    silent_server server;
    ASSERT_TRUE(server.listening);
    background_process launcher({launcher_path()}, {home.env()}, home.dir / "output.txt");

    const std::string window = find_window();
    ASSERT_NE(window, "") << log_text();
    process_result geometry = run_process({"/usr/bin/xdotool", "getwindowgeometry", window});
    EXPECT_NE(geometry.output.find("Position: 272,234"), std::string::npos) << geometry.output;
    EXPECT_NE(geometry.output.find("Geometry: 480x300"), std::string::npos) << geometry.output;

    const std::string screen = screen_rgb(home.dir.path());
    const std::string splash = splash_rgb(home.dir.path());
    ASSERT_EQ(screen.size(), size_t(1024 * 768 * 3));
    ASSERT_EQ(splash.size(), size_t(480 * 300 * 3));
    auto screen_at = [&](int x, int y) {
        return screen.substr(((234 + y) * 1024 + 272 + x) * 3, 3);
    };
    int splash_differences = 0;
    for (int y = 0; y < 204; y++) // the picture above the status lines
        for (int x = 0; x < 480; x++)
            splash_differences += screen_at(x, y) != splash.substr((y * 480 + x) * 3, 3);
    EXPECT_EQ(splash_differences, 0);
    const std::string empty_colour("\x20\x20\x20", 3);
    int bar_differences = 0;
    for (int y = 280; y < 290; y++)
        for (int x = 10; x < 470; x++)
            bar_differences += screen_at(x, y) != empty_colour;
    EXPECT_EQ(bar_differences, 0) << "the progress bar is not all (32, 32, 32)";

    ASSERT_TRUE(press(window, "b"));
    EXPECT_TRUE(wait_until(
        [&] {
            return read_file(home.config() + "/launcher.cfg").find("1</beta_test_enable>") !=
                   std::string::npos;
        },
        5000))
        << read_file(home.config() + "/launcher.cfg");

    ASSERT_TRUE(press(window, "Escape"));
    sleep_ms(300);
    server.stop();
    ASSERT_TRUE(wait_until(
        [&] {
            return read_file(home.dir / "output.txt").find("Error fetching update file") !=
                   std::string::npos;
        },
        10000))
        << "the updater run did not end: " << read_file(home.dir / "output.txt") << log_text();
    sleep_ms(1500); // well past the earliest boot
    EXPECT_FALSE(launcher.wait(0)) << "the launcher ended while the options were shown";
    EXPECT_FALSE(file_exists(home.record())) << "booted while the options were shown";

    ASSERT_TRUE(press(window, "Escape"));
    int status = -1;
    ASSERT_TRUE(launcher.wait(10000, &status)) << log_text();
    EXPECT_EQ(status, 0);
    // B chose beta-test mode, so the beta image is the newest candidate.
    EXPECT_EQ(read_file(home.record()), home.executables() + "/korvix_120_beta" + booted_args);
}

TEST(launcher_window, q_ends_the_process_at_once_even_during_an_update) {
    launcher_home home("gui-quit");
    silent_server server;
    ASSERT_TRUE(server.listening);
    background_process launcher({launcher_path()}, {home.env()});
    const std::string window = find_window();
    ASSERT_NE(window, "") << log_text();
    auto pressed = std::chrono::steady_clock::now();
    press(window, "q"); // xdotool may complain about the vanished window: ignore it
    int status = -1, sig = 0;
    ASSERT_TRUE(launcher.wait(2000, &status, &sig)) << "still running after Q";
    EXPECT_EQ(status, 0);
    EXPECT_EQ(sig, 0);
    EXPECT_LT(ms_since(pressed), 2000);
}

TEST(launcher_boot, another_launcher_holding_the_lock_ends_the_run_after_three_seconds) {
    launcher_home home("lock-held");
    home.add_image("korvix_110");
    home.list({"korvix_110"});
    const int held = lock_file_acquire((home.executables() + "/lock.tmp").c_str());
    ASSERT_GE(held, 0);
    auto start = std::chrono::steady_clock::now();
    process_result run = run_process({launcher_path()}, {home.env()}, 20000);
    const long elapsed = ms_since(start);
    lock_file_release(held);
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_GE(elapsed, 3000);
    EXPECT_NE(log_text().find("\nSorry, it looks like there's another version of the launcher "
                              "downloading\nupdates right now.  Please try again when it's "
                              "finished.\n\n"),
              std::string::npos)
        << log_text();
    EXPECT_EQ(run.output.find("Error fetching update file"), std::string::npos)
        << "an updater run started without the lock";
    EXPECT_FALSE(file_exists(home.record()));
}

// Which image a plain start boots, given what is installed and what failed last time.
TEST(launcher_boot, starts_the_newest_image_that_has_not_failed) {
    struct boot_case {
        const char *title;
        std::vector<std::string> images;      // installed and startable
        std::vector<std::string> broken;      // installed, not startable
        std::vector<std::string> listed_only; // in the manifest, not on disk
        const char *previous;                 // crash-detection file before the run, or null
        std::vector<std::string> args;
        const char *booted;       // the image that must run, or null
        const char *boot_name;    // crash-detection file after the run, or null for none
        const char *log_contains; // or null
    };
    const boot_case cases[] = {
        {"newest first",
         {"korvix_099", "korvix_110", "korvix_105"},
         {},
         {},
         nullptr,
         {},
         "korvix_110",
         "korvix_110",
         nullptr},
        {"beta skipped",
         {"korvix_105", "korvix_120_beta"},
         {},
         {},
         nullptr,
         {},
         "korvix_105",
         "korvix_105",
         nullptr},
        {"beta mode",
         {"korvix_105", "korvix_120_beta"},
         {},
         {},
         nullptr,
         {"-b"},
         "korvix_120_beta",
         "korvix_120_beta",
         nullptr},
        {"failed boot skipped",
         {"korvix_105", "korvix_110"},
         {},
         {},
         "korvix_110",
         {},
         "korvix_105",
         "korvix_105",
         "Previous boot of image 'korvix_110' failed.\nSkipping, will try older images.\n"},
        {"single image retried",
         {"korvix_110"},
         {},
         {},
         "korvix_110",
         {},
         "korvix_110",
         "korvix_110",
         "Previous boot of image 'korvix_110' failed.\nNo other images, retrying.\n"},
        {"missing file",
         {"korvix_105"},
         {},
         {"korvix_200"},
         nullptr,
         {},
         "korvix_105",
         "korvix_105",
         nullptr},
        {"unstartable image",
         {"korvix_105"},
         {"korvix_200"},
         {},
         nullptr,
         {},
         "korvix_105",
         "korvix_105",
         "/korvix_200' failed.\nTrying next in line.\n"},
        {"nothing startable",
         {},
         {"korvix_200"},
         {},
         nullptr,
         {},
         nullptr,
         "korvix_200",
         "Sorry, no valid executables found - cannot start game.\n"},
        {"no manifest",
         {},
         {},
         {},
         nullptr,
         {},
         nullptr,
         nullptr,
         "\nSorry, no executables found - cannot start game.\n"
         "This launcher will attempt to download one if you restart it.\n"},
    };
    int index = 0;
    for (const boot_case &c : cases) {
        SCOPED_TRACE(c.title);
        launcher_home home("boot-" + std::to_string(index++));
        std::vector<std::string> listed = c.listed_only;
        for (const std::string &name : c.images) {
            home.add_image(name);
            listed.push_back(name);
        }
        for (const std::string &name : c.broken) {
            home.add_broken_image(name);
            listed.push_back(name);
        }
        if (!listed.empty())
            home.list(listed);
        if (c.previous != nullptr)
            write_file(home.config() + "/bootname.txt", std::string(c.previous) + "\n");
        std::vector<std::string> argv = {launcher_path()};
        argv.insert(argv.end(), c.args.begin(), c.args.end());

        process_result run = run_process(argv, {home.env()}, 20000);
        EXPECT_FALSE(run.timed_out) << "the launcher did not end by itself";
        EXPECT_EQ(run.exit_code, 0) << run.output;
        if (c.booted != nullptr) {
            EXPECT_EQ(read_file(home.record()), home.executables() + "/" + c.booted + booted_args);
        } else {
            EXPECT_FALSE(file_exists(home.record())) << read_file(home.record());
        }
        if (c.boot_name != nullptr) {
            EXPECT_EQ(read_file(home.config() + "/bootname.txt"), std::string(c.boot_name) + "\n");
        } else {
            EXPECT_FALSE(file_exists(home.config() + "/bootname.txt"));
        }
        if (c.log_contains != nullptr) {
            EXPECT_NE(log_text().find(c.log_contains), std::string::npos) << log_text();
        }
    }
}

} // namespace
