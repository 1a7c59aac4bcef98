// Twenty launchers started at once for one player: one updates, the others step aside, and
// the installed files and the manifest come out whole.
#include "tests/e2e/e2e_support.h"

#include <gtest/gtest.h>

#include <time.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

const std::string remote = "/downloads/korvix_v3/";
const std::string list_path = remote + "manifest_linux32_executables.txt.gz";
const char stepped_aside[] = "Sorry, it looks like there's another version of the launcher "
                             "downloading\n";

// Served at 40 KB/s the image takes about 30 s: about three times what the other nineteen
// need to start and wait out their three seconds for the lock on two busy cores.
const client_image image = make_image("korvix_v1.05", 1200 << 10);
const char slow_images[] = "location /downloads/korvix_v3/korvix_ { limit_rate 40k; }";

long now_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

TEST(ConcurrentLaunchers, OneUpdatesTheOthersStepAside) {
    constexpr int launchers = 20;
    e2e_world w;
    ASSERT_TRUE(w.publish({image}));
    tuned_nginx server(w.dir / "nginx", w.www, slow_images);
    ASSERT_TRUE(server.running());

    const size_t log_before = debug_log().size();
    const long deadline = now_ms() + 120000;
    std::vector<std::unique_ptr<background_process>> running;
    for (int i = 0; i < launchers; ++i)
        running.push_back(w.start_launcher({}, w.dir / ("launcher-" + std::to_string(i) + ".log")));
    int ended = 0;
    for (auto &launcher : running)
        if (launcher->wait(int(std::max(0L, deadline - now_ms()))))
            ++ended;
    running.clear(); // kills whatever is left
    EXPECT_EQ(ended, launchers) << "launchers still running after 120 s";

    // Every launcher that took the lock fetched the server's list once; only the first
    // found the image missing. Any later one took the lock after the update was done.
    const std::vector<std::string> requests = server.requests();
    int lists = 0, images = 0, lists_during_update = 0;
    for (const std::string &path : requests) {
        if (path == list_path)
            ++lists;
        else if (path == remote + image.name)
            ++images;
        if (path == list_path && images == 0)
            ++lists_during_update;
    }
    EXPECT_EQ(images, 1);
    EXPECT_EQ(lists_during_update, 1);
    EXPECT_GE(lists, 1);

    // Every other launcher gave up on the lock with the message and started nothing.
    int booted = 0;
    for (int i = 0; i < launchers; ++i) {
        const std::string output = read_file(w.dir / ("launcher-" + std::to_string(i) + ".log"));
        if (output.find("Duskmere client korvix_v1.01 started as '" + image.name + "'") !=
            std::string::npos)
            ++booted;
    }
    EXPECT_EQ(booted, lists);
    EXPECT_EQ(count_of(debug_log().substr(log_before), stepped_aside), size_t(launchers - lists));

    EXPECT_EQ(read_file(w.exe + "/" + image.name), image.content);
    EXPECT_EQ(read_file(w.manifest), std::string(manifest_header) + manifest_line(image));
    EXPECT_EQ(w.listed_but_not_whole(), "");
    EXPECT_EQ(read_file(w.config + "/bootname.txt"), image.name + "\n");
}

} // namespace
