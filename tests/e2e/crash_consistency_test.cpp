// A launcher killed in the middle of an update: nothing half-written is ever listed, and the
// next run finishes the update and starts the right image.
#include "tests/e2e/e2e_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <string>
#include <vector>

namespace {

// Published newest name first, so in beta mode the small release file is fetched before the
// big beta file; the old release is an earlier copy under the release file's name.
const client_image release = make_image("korvix_v1.05", 200 << 10);
const client_image beta = make_image("korvix_v1.04_beta", 3 << 20);
const client_image old_release = make_image("korvix_v1.05");

// About two seconds for the release file, half a minute for the beta file.
const char slow_images[] = "location /downloads/korvix_v3/korvix_ { limit_rate 100k; }";

std::string started_line(const std::string &name) {
    return "Duskmere client korvix_v1.01 started as '" + name + "' with: -l 1.095-gtk-rc4\n";
}

bool lists(const e2e_world &w, const std::string &name) {
    for (const listed_file &f : listed_files(w.manifest))
        if (f.name == name)
            return true;
    return false;
}

// Each installed image is absent or one whole version of itself, never part of one.
std::string half_written_images(const e2e_world &w) {
    std::string problems;
    for (const client_image *i : {&release, &beta}) {
        const std::string path = w.exe + "/" + i->name;
        if (!file_exists(path))
            continue;
        const std::string content = read_file(path);
        if (content != i->content && !(i == &release && content == old_release.content))
            problems += i->name + ": " + std::to_string(content.size()) + " bytes of no version\n";
    }
    return problems;
}

// The manifest's records as "hash size name", sorted.
std::vector<std::string> listed_records(const e2e_world &w) {
    std::vector<std::string> records;
    for (const listed_file &f : listed_files(w.manifest))
        records.push_back(f.hash + " " + std::to_string(f.size) + " " + f.name);
    std::sort(records.begin(), records.end());
    return records;
}

std::vector<std::string> published_records(const std::vector<client_image> &images) {
    std::vector<std::string> records;
    for (const client_image &i : images)
        records.push_back(sha256_hex(i.content) + " " + std::to_string(i.content.size()) + " " +
                          i.name);
    std::sort(records.begin(), records.end());
    return records;
}

TEST(CrashConsistency, KilledUpdateIsFinishedByTheNextRun) {
    struct row {
        const char *what;
        std::vector<std::string> args;
        std::vector<client_image> installed; // before the killed run
        // Polled while the killed run updates; the launcher is killed once it holds.
        std::function<bool(const e2e_world &)> kill_when;
        // Checked right after the kill: it landed where the row means it to.
        std::function<bool(const e2e_world &)> landed;
        std::vector<client_image> expected; // installed and listed after the next run
        std::string booted;
    };
    const auto release_in_place = [](const e2e_world &w) {
        return file_size(w.exe + "/" + release.name) == long(release.content.size());
    };
    const auto downloading = [](const e2e_world &w) {
        return file_size(w.exe + "/download.tmp") > (64 << 10);
    };
    const auto release_partly_here = [](const e2e_world &w) {
        const long have = file_size(w.exe + "/download.tmp");
        return have > 0 && have < long(release.content.size());
    };
    const auto beta_not_yet = [](const e2e_world &w) {
        return !file_exists(w.exe + "/" + beta.name);
    };
    const row rows[] = {
        {"fresh install, killed mid-download",
         {},
         {},
         downloading,
         release_partly_here,
         {release},
         release.name},
        {"update of a listed image, killed mid-download",
         {},
         {old_release},
         downloading,
         release_partly_here,
         {release},
         release.name},
        {"two files, killed once the first is in place",
         {"-b"},
         {},
         [](const e2e_world &w) { return file_exists(w.exe + "/" + release.name); },
         beta_not_yet,
         {release, beta},
         release.name},
        {"two files, killed once the new copy replaced the listed one",
         {"-b"},
         {old_release},
         release_in_place,
         beta_not_yet,
         {release, beta},
         release.name},
        {"two files, killed once the manifest lists the first",
         {"-b"},
         {},
         [](const e2e_world &w) { return lists(w, release.name); },
         beta_not_yet,
         {release, beta},
         release.name},
    };
    for (const row &r : rows) {
        e2e_world w;
        ASSERT_TRUE(w.publish({release, beta}));
        if (!r.installed.empty())
            w.install(r.installed);
        {
            tuned_nginx slow(w.dir / "nginx-slow", w.www, slow_images);
            ASSERT_TRUE(slow.running());
            const std::string output = w.dir / "killed.log";
            auto launcher = w.start_launcher(r.args, output);
            const bool triggered = wait_until([&]() { return r.kill_when(w); }, 60000);
            launcher->kill_now(SIGKILL);
            ASSERT_TRUE(triggered) << r.what << "\n" << read_file(output);
            EXPECT_TRUE(r.landed(w)) << r.what << "\n" << read_file(output);
        }
        EXPECT_EQ(w.listed_but_not_whole(), "") << r.what << " (after the kill)";
        EXPECT_EQ(half_written_images(w), "") << r.what << " (after the kill)";

        tuned_nginx fast(w.dir / "nginx-fast", w.www);
        ASSERT_TRUE(fast.running());
        process_result run = w.run_launcher(r.args, 90000);
        ASSERT_FALSE(run.timed_out) << r.what << "\n" << run.output;
        EXPECT_EQ(run.exit_code, 0) << r.what << "\n" << run.output;
        EXPECT_NE(run.output.find(started_line(r.booted)), std::string::npos) << r.what << "\n"
                                                                              << run.output;
        EXPECT_EQ(read_file(w.config + "/bootname.txt"), r.booted + "\n") << r.what;
        for (const client_image &i : r.expected)
            EXPECT_EQ(read_file(w.exe + "/" + i.name), i.content) << r.what << ": " << i.name;
        EXPECT_EQ(listed_records(w), published_records(r.expected)) << r.what;
        EXPECT_EQ(w.listed_but_not_whole(), "") << r.what;
    }
}

} // namespace
