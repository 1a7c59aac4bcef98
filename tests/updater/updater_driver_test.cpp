// The launcher's update run against a real nginx: which listed files it picks and what it says.
#include "launcher/updater_driver.h"

#include "launcher/config_file.h"
#include "launcher/launcher_state.h"
#include "tests/support/files.h"
#include "tests/support/nginx.h"
#include "tests/updater/scripted_http_server.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

const char host[] = "updates.duskmere.example";
const char remote[] = "/downloads/korvix_v3";
const char list_name[] = "manifest_linux32_executables.txt.gz";
const char header[] = "# This is an automatically generated file - do not modify\n"
                      "# It contains a list of the files currently managed by the\n"
                      "# updater.  Changing or deleting it may cause your next\n"
                      "# update to download far more things than it needs.\n"
                      "\n";

// The server's list, in its order: release R1, release R2, beta B1.
struct listed {
    std::string name;
    std::string hash;
    std::string body;
};
const listed r1{"korvix_v1.02", "1111111111aaaaaaaaaaaaaaaaaaaa", std::string(40000, '1')};
const listed r2{"korvix_v1.01", "2222222222aaaaaaaaaaaaaaaaaaaa", std::string(30000, '2')};
const listed b1{"korvix_v1.03_beta", "3333333333aaaaaaaaaaaaaaaaaaaa", std::string(20000, '3')};

std::string list_line(const listed &l) {
    return l.hash + " " + std::to_string(l.body.size()) + " " + l.name + "\n";
}
std::string manifest_line(const listed &l) {
    char size[16];
    snprintf(size, sizeof size, "%10d", int(l.body.size()));
    return l.hash + " " + size + " " + l.name + "\n";
}

// GET paths in nginx's access log, in order.
std::vector<std::string> requested(const std::string &access_log) {
    std::vector<std::string> paths;
    const std::string log = read_file(access_log);
    for (size_t at = log.find("\"GET "); at != std::string::npos; at = log.find("\"GET ", at)) {
        at += 5;
        paths.push_back(log.substr(at, log.find(' ', at) - at));
    }
    return paths;
}

std::vector<double> percentages;
void record_percent(void *context, double percent) {
    EXPECT_EQ(context, &percentages);
    percentages.push_back(percent);
}

struct driver_fixture {
    scratch_dir dir{"updater_driver"};
    std::string www = dir / "www";
    std::string exe = dir / "home/.Duskmere/executables";
    std::string manifest = exe + "/update_manifest.lst";
    std::string temp = exe + "/download.tmp";

    driver_fixture() {
        mkdir((www).c_str(), 0755);
        mkdir((www + "/downloads").c_str(), 0755);
        mkdir((www + remote).c_str(), 0755);
        chmod(dir.path().c_str(), 0755);
        beta_mode = 0;
        verbose_printing = 0;
        updater_progress_receiver = nullptr;
    }
    ~driver_fixture() {
        beta_mode = 0;
        verbose_printing = 0;
        updater_progress_receiver = nullptr;
    }
    void make_executables_folder() {
        for (const char *part : {"/home", "/home/.Duskmere", "/home/.Duskmere/executables"})
            mkdir((dir.path() + part).c_str(), 0700);
    }
    void publish(const std::string &list, const std::vector<listed> &files) {
        write_file(www + remote + "/" + list_name, gzip_text(list));
        for (const listed &l : files)
            write_file(www + remote + "/" + l.name, l.body);
    }
    int run(std::string *console) {
        testing::internal::CaptureStdout();
        const int result = run_executable_updater(&percentages, host, remote, list_name,
                                                  manifest.c_str(), exe.c_str(), temp.c_str());
        *console = testing::internal::GetCapturedStdout();
        return result;
    }
};

TEST(UpdaterDriver, SelectionOfListedFiles) {
    struct row {
        const char *what;
        int beta;
        int verbose;
        std::vector<listed> installed;    // current, with their manifest lines
        std::vector<listed> wrong_size;   // on disk, listed in the manifest, size differs
        std::vector<std::string> fetched; // image names downloaded, in order
        std::vector<std::string> lines;   // console lines that must appear
    };
    const row rows[] = {
        {"fresh, normal mode", 0, 0, {}, {}, {r1.name}, {"One file to update."}},
        {"fresh, beta mode", 1, 0, {}, {}, {r1.name, b1.name}, {"2 files to update."}},
        {"first release current",
         0,
         1,
         {r1},
         {},
         {},
         {"File 'korvix_v1.02' up to date.", "Everything appears to be up to date already."}},
        {"installed second release of the wrong size",
         0,
         1,
         {r1},
         {r2},
         {r2.name},
         {"File 'korvix_v1.01' had different expected size, forcing update.",
          "One file to update."}},
        {"beta current, release missing",
         1,
         1,
         {b1},
         {},
         {r1.name},
         {"Found first file 'korvix_v1.02'.", "File 'korvix_v1.03_beta' up to date."}},
    };
    for (const row &r : rows) {
        driver_fixture f;
        f.publish(list_line(r1) + list_line(r2) + list_line(b1), {r1, r2, b1});
        std::string manifest = header;
        f.make_executables_folder();
        for (const listed &l : r.installed) {
            ASSERT_TRUE(write_file(f.exe + "/" + l.name, l.body));
            manifest += manifest_line(l);
        }
        for (const listed &l : r.wrong_size) {
            ASSERT_TRUE(write_file(f.exe + "/" + l.name, "short"));
            manifest += manifest_line(l);
        }
        if (r.installed.size() + r.wrong_size.size() > 0) {
            ASSERT_TRUE(write_file(f.manifest, manifest));
        }
        nginx_server server(f.www);
        ASSERT_TRUE(server.running()) << server.error_log();
        beta_mode = r.beta;
        verbose_printing = r.verbose;
        percentages.clear();
        updater_progress_receiver = record_percent;

        std::string console;
        EXPECT_EQ(f.run(&console), 1) << r.what;

        std::vector<std::string> expected_requests{std::string(remote) + "/" + list_name};
        for (const std::string &name : r.fetched)
            expected_requests.push_back(std::string(remote) + "/" + name);
        EXPECT_EQ(requested(server.access_log_path()), expected_requests) << r.what;
        for (const std::string &line : r.lines)
            EXPECT_NE(console.find(line + "\n"), std::string::npos)
                << r.what << ": " << line << "\n"
                << console;
        const std::map<std::string, const listed *> by_name{
            {r1.name, &r1}, {r2.name, &r2}, {b1.name, &b1}};
        for (const std::string &name : r.fetched)
            EXPECT_EQ(read_file(f.exe + "/" + name), by_name.at(name)->body) << r.what;
        if (!r.fetched.empty()) {
            ASSERT_FALSE(percentages.empty()) << r.what;
            EXPECT_EQ(percentages.back(), 100.0) << r.what;
        } else {
            EXPECT_TRUE(percentages.empty()) << r.what;
        }
    }
}

TEST(UpdaterDriver, FreshInstallThenNothingToDo) {
    driver_fixture f;
    f.publish(list_line(r1) + list_line(r2) + list_line(b1), {r1, r2, b1});
    nginx_server server(f.www);
    ASSERT_TRUE(server.running()) << server.error_log();
    std::string console;
    ASSERT_EQ(f.run(&console), 1);
    EXPECT_EQ(read_file(f.manifest), std::string(header) + manifest_line(r1));
    EXPECT_FALSE(file_exists(f.exe + "/" + r2.name));
    EXPECT_FALSE(file_exists(f.exe + "/" + b1.name));

    ASSERT_EQ(f.run(&console), 1);
    EXPECT_NE(console.find("Everything appears to be up to date already.\n"), std::string::npos);
    EXPECT_EQ(requested(server.access_log_path()),
              (std::vector<std::string>{std::string(remote) + "/" + list_name,
                                        std::string(remote) + "/" + r1.name,
                                        std::string(remote) + "/" + list_name}));
}

TEST(UpdaterDriver, UnsafeNamesAreNeverFetched) {
    driver_fixture f;
    const listed outside{"../x", "4444444444aaaaaaaaaaaaaaaaaaaa", "overwritten"};
    const listed lock{"lock.tmp", "5555555555aaaaaaaaaaaaaaaaaaaa", "stolen lock"};
    const listed beta{"../../x_beta", "6666666666aaaaaaaaaaaaaaaaaaaa", "overwritten"};
    f.publish(list_line(outside) + list_line(lock) + list_line(beta) + list_line(r1), {});
    write_file(f.www + "/downloads/x", outside.body);
    nginx_server server(f.www);
    ASSERT_TRUE(server.running()) << server.error_log();
    beta_mode = 1;
    std::string console;
    EXPECT_EQ(f.run(&console), 1);
    beta_mode = 0;
    EXPECT_NE(console.find("Refusing file '../x' - unsafe file name.\n"), std::string::npos);
    EXPECT_NE(console.find("Refusing file 'lock.tmp' - unsafe file name.\n"), std::string::npos);
    // The refused names used up both slots.
    EXPECT_NE(console.find("Everything appears to be up to date already.\n"), std::string::npos);
    EXPECT_EQ(requested(server.access_log_path()),
              (std::vector<std::string>{std::string(remote) + "/" + list_name}));
    EXPECT_FALSE(file_exists(f.dir / "home/.Duskmere/x"));
    EXPECT_FALSE(file_exists(f.dir / "home/x_beta"));
}

TEST(UpdaterDriver, AbandonedRuns) {
    struct row {
        const char *what;
        bool serve_list;
        bool block_destination;
        std::string line;
    };
    const row rows[] = {
        {"no list on the server", false, false,
         "Error fetching update file 'manifest_linux32_executables.txt.gz' from remote server, "
         "aborting update."},
        {"destination unusable", true, true, "', aborting update."},
    };
    for (const row &r : rows) {
        driver_fixture f;
        if (r.serve_list)
            f.publish(list_line(r1), {r1});
        if (r.block_destination) {
            mkdir((f.dir / "home").c_str(), 0700);
            write_file(f.dir / "home/.Duskmere", "a file where the folder should be");
        }
        nginx_server server(f.www);
        ASSERT_TRUE(server.running()) << server.error_log();
        std::string console;
        EXPECT_EQ(f.run(&console), 0) << r.what;
        EXPECT_NE(console.find(r.line + "\n"), std::string::npos) << r.what << "\n" << console;
        EXPECT_FALSE(file_exists(f.temp)) << r.what;
        EXPECT_FALSE(file_exists(f.manifest)) << r.what;
    }
}

} // namespace
