// The file update engine: names, the update decision, the save rule, installs and failures.
#include "updater/file_updater.h"

#include "tests/support/files.h"
#include "tests/updater/scripted_http_server.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

const char host[] = "updates.duskmere.example";
const char remote[] = "/downloads/korvix_v3";
const std::string hash_a = "aaaaaaaaaa0123456789aaaaaaaaaa";
const std::string hash_b = "bbbbbbbbbb0123456789bbbbbbbbbb";
const char header[] = "# This is an automatically generated file - do not modify\n"
                      "# It contains a list of the files currently managed by the\n"
                      "# updater.  Changing or deleting it may cause your next\n"
                      "# update to download far more things than it needs.\n"
                      "\n";

std::string line_of(const std::string &hash, int size, const std::string &name) {
    char number[16];
    snprintf(number, sizeof number, "%10d", size);
    return hash + " " + number + " " + name + "\n";
}

// An updater on a scratch folder: executables/, its manifest and temporary file.
struct engine_fixture {
    scratch_dir dir{"file_updater"};
    std::string exe = dir / "executables";
    std::string manifest = exe + "/update_manifest.lst";
    std::string temp = exe + "/download.tmp";
    std::vector<std::string> messages;
    file_updater updater;

    engine_fixture() {
        mkdir(exe.c_str(), 0700);
        updater.user_context = &messages;
        updater.message_callback = [](void *context, const char *text) {
            static_cast<std::vector<std::string> *>(context)->push_back(text);
        };
    }
    // Destination, temporary file and manifest set in the owner's order.
    void set_up() {
        ASSERT_EQ(updater.set_destination_dir(exe.c_str()), 1);
        ASSERT_EQ(updater.set_temp_file(temp.c_str()), 1);
        updater.set_manifest_file(manifest.c_str());
    }
    bool said(const std::string &text) const {
        for (const std::string &m : messages)
            if (m == text)
                return true;
        return false;
    }
};

struct record_list {
    std::vector<manifest_entry *> records;
    pointer_list list;
    record_list() { list.init(); }
    ~record_list() {
        for (manifest_entry *e : records)
            free_manifest_entry(e);
        list.release();
    }
    void add(const std::string &name, const std::string &hash, int32_t size) {
        records.push_back(new_manifest_entry(name.c_str(), hash.c_str(), size));
        list.push(records.back());
    }
};

TEST(UpdateNames, InsideTheFolderOnly) {
    struct row {
        const char *name;
        int accepted;
        const char *normal;
    };
    const row rows[] = {
        {"korvix_v1.01", 1, "korvix_v1.01"},
        {"/korvix_v1.01", 1, "korvix_v1.01"},
        {"sub//./dir/file name ", 1, "sub/dir/file name "},
        {"..", 0, ""},
        {"../x", 0, ""},
        {"a/../../x", 0, ""},
        {"a/..", 0, ""},
        {"/../etc/passwd", 0, ""},
        {"a\\..\\x", 0, ""},
        {"dir/", 0, ""},
        {".", 0, ""},
        {"", 0, ""},
        {"..x/y..", 1, "..x/y.."},
    };
    for (const row &r : rows) {
        fixed_text normal;
        EXPECT_EQ(normalize_update_name(r.name, &normal), r.accepted) << r.name;
        if (r.accepted) {
            EXPECT_STREQ(normal.text, r.normal);
        }
    }
    fixed_text normal;
    EXPECT_EQ(normalize_update_name(nullptr, &normal), 0);
}

TEST(UpdateNames, TheUpdatersOwnFilesAreRefused) {
    engine_fixture f;
    f.set_up();
    EXPECT_EQ(f.updater.accepts_name("korvix_v1.01"), 1);
    EXPECT_EQ(f.updater.accepts_name("download.tmp"), 0);
    EXPECT_EQ(f.updater.accepts_name("./update_manifest.lst"), 0);
    EXPECT_EQ(f.updater.accepts_name("//download.tmp"), 0);
    EXPECT_EQ(f.updater.accepts_name("../x"), 0);
}

TEST(NeedsUpdate, SizeAndHashDecide) {
    engine_fixture f;
    ASSERT_TRUE(write_file(f.manifest, std::string(header) + line_of(hash_a, 10, "img")));
    ASSERT_TRUE(write_file(f.exe + "/img", std::string(10, 'x')));
    f.set_up();
    struct row {
        const char *name;
        std::string hash;
        int32_t size;
        int needed;
    };
    const row rows[] = {
        {"img", hash_a, 10, 0},   {"img", hash_b, 10, 1},
        {"img", hash_a, 11, 1},   {"img", hash_a.substr(0, 20), 10, 1},
        {"other", hash_a, 10, 1},
    };
    for (const row &r : rows) {
        manifest_entry *record = new_manifest_entry(r.name, r.hash.c_str(), r.size);
        EXPECT_EQ(f.updater.needs_update(record), r.needed) << r.name << " " << r.size;
        free_manifest_entry(record);
    }
}

TEST(PeriodicSave, TenSecondsAfterTheLastCleanTick) {
    // Times in seconds of each tick; the manifest is changed at the tick marked dirty.
    struct step {
        int32_t time;
        bool make_dirty_before;
        bool saved_after;
    };
    const step steps[] = {
        {100, false, false}, // clean: the reference moves to 100
        {105, true, false},  // changed since: 5 s after the last clean tick
        {110, false, false}, // exactly 10 s: not yet
        {111, false, true},  // more than 10 s: saved
        {115, true, false},  // changed again, 4 s after the save
        {121, false, false}, {122, false, true},
    };
    engine_fixture f;
    f.set_up();
    static int32_t now;
    f.updater.clock = []() { return now; };
    manifest_entry *record = new_manifest_entry("img", hash_a.c_str(), 10);
    int saves = 0;
    for (const step &s : steps) {
        now = s.time;
        if (s.make_dirty_before) {
            record->size += 1;
            f.updater.manifest.update_entry(record);
            f.updater.manifest_dirty = 1;
            unlink(f.manifest.c_str());
        }
        f.updater.progress_tick();
        EXPECT_EQ(file_exists(f.manifest), s.saved_after) << "at " << s.time;
        if (s.saved_after) {
            ++saves;
            EXPECT_EQ(read_file(f.manifest),
                      std::string(header) + line_of(hash_a, record->size, "img"));
            EXPECT_EQ(f.updater.manifest_dirty, 0);
            unlink(f.manifest.c_str());
        }
    }
    EXPECT_EQ(saves, 2);
    // Nothing changed since the last save: completion writes nothing.
    f.updater.save_on_completion();
    EXPECT_FALSE(file_exists(f.manifest));
    free_manifest_entry(record);
}

TEST(PeriodicSaveDeathTest, UnsavableManifestEndsTheProcess) {
    engine_fixture f;
    f.set_up();
    f.updater.set_manifest_file((f.dir / "no/such/folder/manifest").c_str());
    f.updater.manifest_dirty = 1;
    EXPECT_EXIT(f.updater.save_on_completion(), testing::ExitedWithCode(1), "");
}

struct served_image {
    std::string name;
    std::string body;
    delivery how;
    int32_t listed_size; // -1: the body's size
};

TEST(UpdateFiles, InstallsOnlyWholeDownloads) {
    struct row {
        const char *what;
        served_image image;
        bool installed;
        std::string message;
    };
    const std::string body(300000, 'n');
    const row rows[] = {
        {"whole", {"img", body, delivery::whole, -1}, true, ""},
        {"subfolder", {"sub/dir/img", body, delivery::whole, -1}, true, ""},
        {"leading slash", {"/img", body, delivery::whole, -1}, true, ""},
        {"without length", {"img", body, delivery::without_length, -1}, true, ""},
        {"cut short",
         {"img", body, delivery::cut_short, -1},
         false,
         "Unable to update file 'img' - download failed."},
        {"missing on server",
         {"img", "", delivery::whole, -2},
         false,
         "Unable to update file 'img' - download failed."},
        {"listed size differs",
         {"img", body, delivery::whole, 1000},
         false,
         "Unable to update file 'img' - download incomplete, size differs from the listed "
         "one."},
        {"outside",
         {"../img", body, delivery::whole, -1},
         false,
         "Unable to update file '../img' - unsafe file name, refused."},
        {"onto the manifest",
         {"update_manifest.lst", body, delivery::whole, -1},
         false,
         "Unable to update file 'update_manifest.lst' - unsafe file name, refused."},
    };
    for (const row &r : rows) {
        engine_fixture f;
        const std::string old_image = "old image";
        const std::string old_manifest = std::string(header) + line_of(hash_a, 9, "img");
        ASSERT_TRUE(write_file(f.manifest, old_manifest));
        ASSERT_TRUE(write_file(f.exe + "/img", old_image));
        f.set_up();
        scripted_http_server server;
        ASSERT_TRUE(server.running());
        const std::string request =
            std::string(remote) + (r.image.name[0] == '/' ? "" : "/") + r.image.name;
        if (r.image.listed_size != -2)
            server.answer(request, r.image.body, r.image.how);
        const int32_t size =
            r.image.listed_size < 0 ? int32_t(r.image.body.size()) : r.image.listed_size;
        record_list records;
        records.add(r.image.name, hash_b, size);

        EXPECT_EQ(f.updater.update_files(host, remote, &records.list), 0) << r.what;

        fixed_text normal;
        const bool safe = normalize_update_name(r.image.name.c_str(), &normal) &&
                          r.image.name != "update_manifest.lst";
        const std::string target = f.exe + "/" + normal.text;
        if (r.installed) {
            EXPECT_EQ(read_file(target), r.image.body) << r.what;
            std::string expected = std::string(header) + line_of(hash_b, size, r.image.name);
            if (r.image.name != "img")
                expected += line_of(hash_a, 9, "img");
            EXPECT_EQ(read_file(f.manifest), expected) << r.what;
            EXPECT_FALSE(file_exists(f.temp)) << r.what;
        } else {
            EXPECT_EQ(read_file(f.exe + "/img"), old_image) << r.what;
            EXPECT_EQ(read_file(f.manifest), old_manifest) << r.what;
            EXPECT_TRUE(f.said(r.message)) << r.what;
        }
        if (!safe) {
            EXPECT_TRUE(server.requests().empty()) << r.what;
            EXPECT_FALSE(file_exists(f.dir / "img")) << r.what;
        }
    }
}

TEST(UpdateFiles, ProgressCountsEveryFileAndEndsAtTheTotal) {
    engine_fixture f;
    f.set_up();
    scripted_http_server server;
    server.answer(std::string(remote) + "/one", std::string(100000, '1'));
    server.answer(std::string(remote) + "/three", std::string(50000, '3'));
    record_list records;
    records.add("one", hash_a, 100000);
    records.add("two", hash_a, 70000); // missing on the server
    records.add("three", hash_b, 50000);
    std::vector<std::pair<double, double>> progress;
    f.updater.user_context = &progress;
    f.updater.message_callback = nullptr;
    f.updater.overall_progress_callback = [](void *context, double done, double total) {
        static_cast<std::vector<std::pair<double, double>> *>(context)->push_back({done, total});
    };
    EXPECT_EQ(f.updater.update_files(host, remote, &records.list), 0);
    ASSERT_FALSE(progress.empty());
    double last = 0;
    for (auto &p : progress) {
        EXPECT_GE(p.first, last);
        EXPECT_EQ(p.second, 220000);
        last = p.first;
    }
    EXPECT_EQ(progress.back().first, 220000);
    EXPECT_EQ(read_file(f.manifest), std::string(header) + line_of(hash_b, 50000, "three") +
                                         line_of(hash_a, 100000, "one"));
}

TEST(UpdateFiles, UnusableFolders) {
    struct row {
        bool temp_set;
        bool dest_set;
        bool dest_blocked;
        int result;
        const char *message;
    };
    const row rows[] = {
        {false, true, false, 1, "No temporary download filename set."},
        {true, false, false, 2, "No destination path set to store downloaded files."},
        {true, true, true, 5, "Download base path appears to be unwriteable."},
    };
    for (const row &r : rows) {
        engine_fixture f;
        ASSERT_TRUE(write_file(f.dir / "plain", "a file in the way"));
        if (r.dest_set)
            f.updater.set_destination_dir(r.dest_blocked ? (f.dir / "plain/exe").c_str()
                                                         : f.exe.c_str());
        if (r.temp_set)
            f.updater.set_temp_file((f.dir / "download.tmp").c_str());
        record_list records;
        records.add("img", hash_a, 5);
        EXPECT_EQ(f.updater.update_files(host, remote, &records.list), r.result);
        EXPECT_TRUE(f.said(r.message)) << r.message;
    }
}

TEST(Update, ExcludedAndCurrentFilesAreLeftAlone) {
    engine_fixture f;
    ASSERT_TRUE(write_file(f.manifest, std::string(header) + line_of(hash_a, 4, "current")));
    ASSERT_TRUE(write_file(f.exe + "/current", "cccc"));
    ASSERT_TRUE(write_file(f.dir / "exclude.txt", "# kept by hand\n\n  local build\nnothing\n"));
    f.set_up();
    ASSERT_EQ(f.updater.load_exclude_file((f.dir / "exclude.txt").c_str()), 1);
    EXPECT_EQ(f.updater.load_exclude_file((f.dir / "missing.txt").c_str()), 0);

    {
        scripted_http_server server;
        const std::string list = line_of(hash_b, 5, "new") + line_of(hash_a, 4, "current") +
                                 line_of(hash_b, 3, "local build");
        server.answer(std::string(remote) + "/list.gz", gzip_text(list));
        server.answer(std::string(remote) + "/new", "fresh");
        EXPECT_EQ(f.updater.update(host, remote, "list.gz"), 0);
        EXPECT_EQ(server.requests(), (std::vector<std::string>{std::string(remote) + "/list.gz",
                                                               std::string(remote) + "/new"}));
        EXPECT_TRUE(f.said("Skipping file 'local build'."));
        EXPECT_TRUE(f.said("One file to update."));
        EXPECT_EQ(read_file(f.exe + "/new"), "fresh");
    }

    // The list is gone now: the run stops with its own result.
    scripted_http_server empty_server;
    file_updater again;
    again.set_destination_dir(f.exe.c_str());
    again.set_temp_file(f.temp.c_str());
    again.set_manifest_file(f.manifest.c_str());
    EXPECT_EQ(again.update(host, remote, "list.gz"), 4);
}

} // namespace
