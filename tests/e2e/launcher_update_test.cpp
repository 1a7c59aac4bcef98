// The real launcher against a real web server: what it installs, what it boots, how it fails.
#include "tests/e2e/e2e_support.h"
#include "tests/updater/scripted_http_server.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

const std::string remote = "/downloads/korvix_v3/";
const std::string list_path = remote + "manifest_linux32_executables.txt.gz";

// The server's images; published newest name first: B1, R1, R2.
const client_image r1 = make_image("korvix_v1.02");
const client_image r2 = make_image("korvix_v1.01");
const client_image b1 = make_image("korvix_v1.03_beta");

std::string started_line(const std::string &name) {
    return "Duskmere client korvix_v1.01 started as '" + name + "' with: -l 1.095-gtk-rc4\n";
}

bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

std::vector<std::string> since(const std::vector<std::string> &all, size_t from) {
    return std::vector<std::string>(all.begin() + long(from), all.end());
}

TEST(LauncherUpdate, FreshInstallThenUpToDate) {
    struct row {
        std::vector<std::string> args;
        std::vector<client_image> fetched; // in download order
        std::string manifest;              // the local manifest afterwards
        std::string booted;
        std::string booted_again; // the first boot counts as failed: the client left its name
    };
    const row rows[] = {
        {{}, {r1}, std::string(manifest_header) + manifest_line(r1), r1.name, r1.name},
        {{"-b"},
         {b1, r1},
         std::string(manifest_header) + manifest_line(r1) + manifest_line(b1),
         b1.name,
         r1.name},
    };
    for (const row &r : rows) {
        e2e_world w;
        ASSERT_TRUE(w.publish({r1, r2, b1}));
        tuned_nginx server(w.dir / "nginx", w.www);
        ASSERT_TRUE(server.running());

        process_result first = w.run_launcher(r.args);
        ASSERT_FALSE(first.timed_out) << first.output;
        EXPECT_EQ(first.exit_code, 0) << first.output;
        EXPECT_TRUE(contains(first.output, started_line(r.booted))) << first.output;
        EXPECT_EQ(read_file(w.manifest), r.manifest);
        EXPECT_EQ(read_file(w.config + "/bootname.txt"), r.booted + "\n");
        std::vector<std::string> expected{list_path};
        for (const client_image &i : r.fetched) {
            expected.push_back(remote + i.name);
            EXPECT_EQ(read_file(w.exe + "/" + i.name), i.content) << i.name;
        }
        EXPECT_EQ(server.requests(), expected) << first.output;
        EXPECT_FALSE(file_exists(w.exe + "/" + r2.name));

        const size_t before = server.requests().size();
        process_result second = w.run_launcher();
        EXPECT_TRUE(contains(second.output, "Everything appears to be up to date already.\n"))
            << second.output;
        EXPECT_TRUE(contains(second.output, started_line(r.booted_again))) << second.output;
        EXPECT_EQ(since(server.requests(), before), std::vector<std::string>{list_path});
        EXPECT_EQ(read_file(w.manifest), r.manifest);
    }
}

TEST(LauncherUpdate, InstalledFileOfTheWrongSizeIsFetchedAgain) {
    e2e_world w;
    ASSERT_TRUE(w.publish({r1, r2, b1}));
    w.install({r1, r2});
    write_file(w.exe + "/" + r2.name, r2.content.substr(0, 5000));
    tuned_nginx server(w.dir / "nginx", w.www);
    ASSERT_TRUE(server.running());
    process_result run = w.run_launcher();
    EXPECT_TRUE(contains(run.output, started_line(r1.name))) << run.output;
    EXPECT_EQ(server.requests(), (std::vector<std::string>{list_path, remote + r2.name}));
    EXPECT_EQ(read_file(w.exe + "/" + r2.name), r2.content);
}

TEST(LauncherUpdate, BadServerListStillBootsTheInstalledImage) {
    struct row {
        const char *what;
        bool present;
        std::string content;
    };
    const row rows[] = {
        {"missing", false, ""},
        {"not compressed", true, manifest_line(r1)},
        {"bad line", true, gzip_text(manifest_line(r1) + "no hash here\n")},
    };
    for (const row &r : rows) {
        e2e_world w;
        ASSERT_TRUE(w.publish({r1}));
        const std::string list_file = w.www + list_path;
        if (r.present)
            write_file(list_file, r.content);
        else
            unlink(list_file.c_str());
        w.install({r2});
        const std::string manifest_before = read_file(w.manifest);
        tuned_nginx server(w.dir / "nginx", w.www);
        ASSERT_TRUE(server.running());
        process_result run = w.run_launcher();
        EXPECT_TRUE(contains(run.output,
                             "Error fetching update file 'manifest_linux32_executables.txt.gz' "
                             "from remote server, aborting update.\n"))
            << r.what << "\n"
            << run.output;
        EXPECT_TRUE(contains(run.output, started_line(r2.name))) << r.what << "\n" << run.output;
        EXPECT_EQ(read_file(w.manifest), manifest_before) << r.what;
        EXPECT_FALSE(file_exists(w.exe + "/" + r1.name)) << r.what;
    }
}

// The old image must survive every broken download and still be the one that starts.
TEST(LauncherUpdate, BrokenDownloadsKeepTheOldImage) {
    struct row {
        const char *what;
        delivery how;
        bool small_disk;
    };
    const row rows[] = {
        {"body cut short", delivery::cut_short, false},
        {"stalled server", delivery::stalled, false},
        {"full disk", delivery::whole, true},
    };
    const client_image big = make_image(r1.name, 2 << 20);
    for (const row &r : rows) {
        e2e_world w;
        if (r.small_disk) {
            ASSERT_EQ(mount("tmpfs", w.exe.c_str(), "tmpfs", 0, "size=512k"), 0);
        }
        w.install({r2});
        const std::string manifest_before = read_file(w.manifest);
        {
            scripted_http_server server;
            ASSERT_TRUE(server.running());
            server.answer(list_path, gzip_text(manifest_line(big)));
            server.answer(remote + big.name, big.content, r.how);
            process_result run = w.run_launcher({}, 90000);
            EXPECT_FALSE(run.timed_out) << r.what;
            EXPECT_TRUE(contains(run.output, "Unable to update file 'korvix_v1.02' - download "
                                             "failed.\n"))
                << r.what << "\n"
                << run.output;
            EXPECT_TRUE(contains(run.output, started_line(r2.name))) << r.what << "\n"
                                                                     << run.output;
        }
        EXPECT_EQ(read_file(w.manifest), manifest_before) << r.what;
        EXPECT_EQ(read_file(w.exe + "/" + r2.name), r2.content) << r.what;
        EXPECT_FALSE(file_exists(w.exe + "/" + r1.name)) << r.what;
        if (r.small_disk)
            umount2(w.exe.c_str(), MNT_DETACH);
    }
}

TEST(LauncherUpdate, NamesLeadingOutsideAreNotWritten) {
    e2e_world w;
    w.install({r2});
    const client_image outside{"../x", "planted"};
    scripted_http_server server;
    ASSERT_TRUE(server.running());
    server.answer(list_path, gzip_text(manifest_line(outside) + manifest_line(r1)));
    server.answer(remote + "../x", outside.content);
    server.answer(remote + r1.name, r1.content);
    process_result run = w.run_launcher();
    EXPECT_TRUE(contains(run.output, "Refusing file '../x' - unsafe file name.\n")) << run.output;
    EXPECT_TRUE(contains(run.output, started_line(r2.name))) << run.output;
    EXPECT_EQ(server.requests(), std::vector<std::string>{list_path});
    EXPECT_FALSE(file_exists(w.config + "/x"));
    EXPECT_FALSE(file_exists(w.exe + "/" + r1.name));
}

// Filled pixels of the progress bar (colour 128, 128, 128) counted from its left end. The
// 480 x 300 window is centred on the 1024 x 768 display; the bar spans x 10..469, y 280..289.
int bar_fill(const std::string &scratch_file) {
    const int left = (1024 - 480) / 2 + 10;
    const std::vector<unsigned char> row = screen_row((768 - 300) / 2 + 285, scratch_file);
    int filled = 0;
    while (filled < 460 && size_t(left + filled) * 3 + 2 < row.size()) {
        const unsigned char *p = &row[size_t(left + filled) * 3];
        if (p[0] != 128 || p[1] != 128 || p[2] != 128)
            break;
        ++filled;
    }
    return filled;
}

TEST(LauncherUpdate, SlowDownloadShowsProgressAndHoldsOffASecondLauncher) {
    e2e_world w;
    const client_image slow = make_image(r1.name, 1 << 20);
    ASSERT_TRUE(w.publish({slow}));
    tuned_nginx server(w.dir / "nginx", w.www,
                       "location /downloads/korvix_v3/korvix_ { limit_rate 150k; }");
    ASSERT_TRUE(server.running());

    const std::string first_output = w.dir / "first.log";
    std::vector<std::string> env = w.launcher_env();
    background_process first({launcher_path()}, env, first_output);
    ASSERT_TRUE(wait_until([&]() { return contains(read_file(first_output), "One file"); }, 20000))
        << read_file(first_output);
    sleep_ms(1000);
    const int early = bar_fill(w.dir / "shot.ppm");
    sleep_ms(1500);
    const int later = bar_fill(w.dir / "shot.ppm");
    EXPECT_GT(early, 0);
    EXPECT_GT(later, early);
    EXPECT_LT(later, 460);

    // A second launcher finds the lock taken for more than three seconds and gives up.
    process_result second = w.run_launcher({}, 20000);
    EXPECT_FALSE(second.timed_out);
    EXPECT_FALSE(contains(second.output, "Duskmere client")) << second.output;
    EXPECT_TRUE(contains(debug_log(), "Sorry, it looks like there's another version of the "
                                      "launcher downloading\n"));

    int status = -1;
    ASSERT_TRUE(first.wait(30000, &status));
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(contains(read_file(first_output), started_line(slow.name)))
        << read_file(first_output);
    EXPECT_EQ(read_file(w.exe + "/" + slow.name), slow.content);
}

} // namespace
