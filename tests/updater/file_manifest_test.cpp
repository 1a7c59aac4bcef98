// The file manifest: line syntax, exact saved bytes, round trips, bad files, pruning, lookups.
#include "updater/file_manifest.h"

#include "tests/client/child_process.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <vector>

namespace {

const char header[] = "# This is an automatically generated file - do not modify\n"
                      "# It contains a list of the files currently managed by the\n"
                      "# updater.  Changing or deleting it may cause your next\n"
                      "# update to download far more things than it needs.\n"
                      "\n";
const std::string hash20 = "0123456789abcdef0123";

std::string entries_of(const tavu_file_manifest &m) {
    std::string out;
    for (const manifest_entry *e = m.head; e != nullptr; e = e->next)
        out += std::string("[") + e->hash + "|" + std::to_string(e->size) + "|" + e->name + "]";
    return out;
}

TEST(ManifestLine, GoodAndBadLines) {
    struct row {
        std::string line;
        int result;
        std::string entry; // "[hash|size|name]", "" for none
        std::string error; // text after the context name
    };
    const std::string bad_hash = " - bad or missing hash field for line:";
    const std::string bad_size = " - bad or missing file size for line:";
    const std::string no_name = " - missing file name for line:";
    const row rows[] = {
        {"", 1, "", ""},
        {" \t # comment 0123456789 5 x", 1, "", ""},
        {"#", 1, "", ""},
        {"0123456789 5 a", 1, "[0123456789|5|a]", ""},
        {"\t 0123456789abcdefXYZ 12 dir/file name", 1, "[0123456789abcdefXYZ|12|dir/file name]",
         ""},
        {"abcdef0123\t\t-5\tx  ", 1, "[abcdef0123|-5|x  ]", ""},
        {"abcdef0123 12abc name", 1, "[abcdef0123|12|name]", ""},
        {"abcdef0123 +7 name", 1, "[abcdef0123|7|name]", ""},
        {"abcdef0123 99999999999 big", 1, "[abcdef0123|2147483647|big]", ""},
        {"abcdef0123 -99999999999 small", 1, "[abcdef0123|-2147483648|small]", ""},
        {"abcdef0123 5 name\r", 1, "[abcdef0123|5|name\r]", ""},
        {"Abcdef0123 5 name", 0, "", bad_hash},
        {"abcdef012 5 name", 0, "", bad_hash},
        {"abcdef012", 0, "", bad_hash},
        {"   ", 1, "", ""},
        {"abcdef0123", 0, "", bad_size},
        {"abcdef0123   ", 0, "", bad_size},
        {"abcdef0123 x5 name", 0, "", bad_size},
        {"abcdef0123 -x name", 0, "", bad_size},
        {"abcdef0123 5", 0, "", no_name},
        {"abcdef0123 5 \t ", 0, "", no_name},
    };
    scratch_dir dir("manifest-lines");
    for (const row &r : rows) {
        SCOPED_TRACE("line: " + r.line);
        log_capture log(dir / "log");
        manifest_entry *entry = reinterpret_cast<manifest_entry *>(1);
        EXPECT_EQ(parse_manifest_line("downloaded data", r.line.c_str(), &entry), r.result);
        std::string got;
        if (entry != nullptr)
            got = std::string("[") + entry->hash + "|" + std::to_string(entry->size) + "|" +
                  entry->name + "]";
        EXPECT_EQ(got, r.entry);
        free_manifest_entry(entry);
        EXPECT_EQ(log.text(), r.error.empty() ? ""
                                              : "Syntax error in downloaded data" + r.error + "\n" +
                                                    r.line + "\n");
    }
    log_capture log(dir / "log");
    EXPECT_EQ(parse_manifest_line(nullptr, "zz", nullptr), 0);
    EXPECT_EQ(log.text(), "Syntax error in (null) - bad or missing hash field for line:\nzz\n");
}

TEST(Manifest, SaveWritesExactBytesAndReportsShortHashes) {
    scratch_dir dir("manifest-save");
    tavu_file_manifest m;
    manifest_entry records[] = {
        {const_cast<char *>("client_b  "), const_cast<char *>("0123456789"), 12345678, nullptr},
        {const_cast<char *>("sub/client a"), const_cast<char *>(hash20.c_str()), -5, nullptr},
        {const_cast<char *>("huge"), const_cast<char *>(hash20.c_str()), 2147483647, nullptr},
    };
    for (int i = 2; i >= 0; --i) // update_entry inserts at the head
        ASSERT_EQ(m.update_entry(&records[i]), 1);
    log_capture log(dir / "log");
    ASSERT_EQ(m.save_file((dir / "m.lst").c_str()), 1);
    EXPECT_EQ(read_file(dir / "m.lst"), std::string(header) + "0123456789   12345678 client_b  \n" +
                                            hash20 + "         -5 sub/client a\n" + hash20 +
                                            " 2147483647 huge\n");
    EXPECT_EQ(log.text(), "Error in tavu_file_manifest::save_file(), file 'client_b  ' had short "
                          "hash len of 10.\n\n");

    // Loading it back gives the same entries in the same order.
    tavu_file_manifest loaded;
    EXPECT_EQ(loaded.load_file((dir / "m.lst").c_str()), 3);
    EXPECT_EQ(entries_of(loaded), entries_of(m));
    EXPECT_EQ(entries_of(loaded), "[0123456789|12345678|client_b  ][" + hash20 +
                                      "|-5|sub/client a][" + hash20 + "|2147483647|huge]");
    EXPECT_EQ(loaded.find_entry("sub/client a"), loaded.head->next);
    EXPECT_EQ(loaded.find_entry("client_b"), nullptr);

    tavu_file_manifest empty;
    ASSERT_EQ(empty.save_file((dir / "empty.lst").c_str()), 1);
    EXPECT_EQ(read_file(dir / "empty.lst"), header);
    EXPECT_EQ(empty.load_file((dir / "empty.lst").c_str()), 0);
}

TEST(Manifest, SaveFailures) {
    scratch_dir dir("manifest-save-fail");
    tavu_file_manifest m;
    manifest_entry record{const_cast<char *>("name"), const_cast<char *>(hash20.c_str()), 1,
                          nullptr};
    m.update_entry(&record);
    {
        log_capture log(dir / "log");
        EXPECT_EQ(m.save_file((dir / "missing/m.lst").c_str()), 0);
        EXPECT_EQ(log.text(), "Error in tavu_file_manifest::save_file() - unable to save file '" +
                                  dir / "missing/m.lst" + "'.\n");
    }
    // A full disk must not pass for a saved manifest.
    const std::string full = dir / "full";
    ASSERT_EQ(mkdir(full.c_str(), 0700), 0);
    ASSERT_EQ(mount("tmpfs", full.c_str(), "tmpfs", 0, "size=16k"), 0);
    ASSERT_TRUE(write_file(full + "/filler", std::string(12 * 1024, 'x')));
    for (int i = 0; i < 200; ++i) {
        std::string name = "name-" + std::to_string(i);
        manifest_entry more{name.data(), const_cast<char *>(hash20.c_str()), i, nullptr};
        m.update_entry(&more);
    }
    {
        log_capture log(dir / "log");
        EXPECT_EQ(m.save_file((full + "/m.lst").c_str()), 0);
        EXPECT_EQ(log.text(), "Error in tavu_file_manifest::save_file() - unable to save file '" +
                                  full + "/m.lst'.\n");
    }
    umount2(full.c_str(), MNT_DETACH);
}

TEST(Manifest, LoadStopsAtABadLine) {
    scratch_dir dir("manifest-bad");
    ASSERT_TRUE(write_file(dir / "bad.lst", std::string(header) + hash20 + " 1 first\r\n" +
                                                "   # note\n\n" + hash20 + " 2 second\n" +
                                                "XYZ 3 third\n" + hash20 + " 4 fourth\n"));
    log_capture log(dir / "log");
    tavu_file_manifest m;
    EXPECT_EQ(m.load_file((dir / "bad.lst").c_str()), -1);
    EXPECT_EQ(entries_of(m), "[" + hash20 + "|1|first][" + hash20 + "|2|second]");
    EXPECT_NE(m.find_entry("second"), nullptr);
    EXPECT_EQ(log.text(), "Syntax error in file manifest - bad or missing hash field for line:\n"
                          "XYZ 3 third\n");

    EXPECT_EQ(m.load_file((dir / "absent.lst").c_str()), -1);
    EXPECT_EQ(entries_of(m), "[" + hash20 + "|1|first][" + hash20 + "|2|second]");
}

TEST(Manifest, UpdateEntryReplacesOrInsertsAtHead) {
    tavu_file_manifest m;
    manifest_entry a{const_cast<char *>("a"), const_cast<char *>("aaaaaaaaaa1"), 1, nullptr};
    manifest_entry b{const_cast<char *>("b"), const_cast<char *>("bbbbbbbbbb1"), 2, nullptr};
    manifest_entry a2{const_cast<char *>("a"), const_cast<char *>("aaaaaaaaaa2"), 3, nullptr};
    m.update_entry(&a);
    m.update_entry(&b);
    m.update_entry(&a2);
    EXPECT_EQ(entries_of(m), "[bbbbbbbbbb1|2|b][aaaaaaaaaa2|3|a]");
    EXPECT_EQ(m.find_entry("a"), m.head->next);
    EXPECT_NE(m.find_entry("a")->hash, a2.hash); // a copy, owned by the manifest
    manifest_entry nameless{nullptr, const_cast<char *>("cccccccccc"), 1, nullptr};
    EXPECT_EQ(m.update_entry(&nameless), 0);
    EXPECT_EQ(m.update_entry(nullptr), 0);
}

TEST(Manifest, LookupsWorkWithoutAnIndex) {
    // No memory for the index: entries are still listed and found by walking the list.
    VoidPointerHashTable::allocate_buckets = [](size_t, size_t) -> void * { return nullptr; };
    {
        scratch_dir dir("manifest-noindex");
        log_capture log(dir / "log");
        tavu_file_manifest m;
        manifest_entry a{const_cast<char *>("a"), const_cast<char *>(hash20.c_str()), 1, nullptr};
        manifest_entry b{const_cast<char *>("b"), const_cast<char *>(hash20.c_str()), 2, nullptr};
        manifest_entry b2{const_cast<char *>("b"), const_cast<char *>(hash20.c_str()), 9, nullptr};
        m.update_entry(&a);
        m.update_entry(&b);
        m.update_entry(&b2);
        EXPECT_EQ(entries_of(m), "[" + hash20 + "|9|b][" + hash20 + "|1|a]");
        EXPECT_EQ(m.find_entry("a"), m.head->next);
        EXPECT_EQ(m.prune_missing_files(dir.path().c_str()), 0);
        EXPECT_EQ(m.head, nullptr);
    }
    VoidPointerHashTable::allocate_buckets = calloc;
}

TEST(Manifest, PruneMissingFiles) {
    scratch_dir dir("manifest-prune");
    ASSERT_EQ(mkdir((dir / "sub").c_str(), 0700), 0);
    for (const char *f : {"keep1", "sub/keep 2", "keep3"})
        ASSERT_TRUE(write_file(dir / f, "x"));
    std::string text = header;
    for (const char *f : {"gone1", "keep1", "sub/keep 2", "sub/gone2", "keep3", "gone3"})
        text += hash20 + " 1 " + f + "\n";
    ASSERT_TRUE(write_file(dir / "m.lst", text));

    struct row {
        std::string directory; // "-" for null
        std::string cwd;
        int32_t kept;
    };
    const row rows[] = {
        {dir.path(), "/", 3}, {dir.path() + "/sub", "/", 0},
        {"", dir.path(), 3}, // names relative to the working directory
        {"-", dir.path(), 3}, {"", "/", 0},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.directory + " in " + r.cwd);
        tavu_file_manifest m;
        ASSERT_EQ(m.load_file((dir / "m.lst").c_str()), 6);
        working_directory cwd(r.cwd);
        EXPECT_EQ(m.prune_missing_files(r.directory == "-" ? nullptr : r.directory.c_str()),
                  r.kept);
        if (r.kept == 3) {
            EXPECT_EQ(entries_of(m), "[" + hash20 + "|1|keep1][" + hash20 + "|1|sub/keep 2][" +
                                         hash20 + "|1|keep3]");
            EXPECT_NE(m.find_entry("keep3"), nullptr);
        } else {
            EXPECT_EQ(m.head, nullptr);
        }
        EXPECT_EQ(m.find_entry("gone1"), nullptr);
        EXPECT_EQ(m.find_entry("gone3"), nullptr);
    }
}

} // namespace
