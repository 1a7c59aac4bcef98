// The remote manifest: lines across chunks, inflation through the window, whole fetches.
#include "updater/remote_manifest.h"

#include "tests/updater/scripted_http_server.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char host[] = "updates.duskmere.example";
const char path[] = "/downloads/korvix_v3/manifest_linux32_executables.txt.gz";

std::string records_of(const http_fetch_remote_manifest_data &f) {
    std::string out;
    for (const manifest_entry *e = f.head; e != nullptr; e = e->next)
        out += std::string("[") + e->hash + "|" + std::to_string(e->size) + "|" + e->name + "]";
    return out;
}

int feed(http_fetch_remote_manifest_data &f, const std::string &bytes) {
    return f.accept_text(reinterpret_cast<const unsigned char *>(bytes.data()),
                         int32_t(bytes.size()));
}

int feed_compressed(http_fetch_remote_manifest_data &f, const std::string &bytes) {
    return http_fetch_remote_manifest_data::download_data_callback(
        &f, reinterpret_cast<const unsigned char *>(bytes.data()), int32_t(bytes.size()));
}

TEST(AcceptText, LinesInChunks) {
    struct row {
        std::vector<std::string> chunks;
        int result; // of the last chunk
        std::string records;
        std::string pending; // the line still being collected
    };
    const row rows[] = {
        {{"0123456789 5 a\n01234", "56789 6 b\n"}, 1, "[0123456789|5|a][0123456789|6|b]", ""},
        {{"0", "1", "23456789 7 c", "\n"}, 1, "[0123456789|7|c]", ""},
        {{"0123456789 5 a\r\n0123456789 6 b\r\n"}, 1, "[0123456789|5|a\r][0123456789|6|b\r]", ""},
        {{"# comment\n\n  \n0123456789 5 a\n"}, 1, "[0123456789|5|a]", ""},
        {{"0123456789 5 a\n0123456789 6 b"}, 1, "[0123456789|5|a]", "0123456789 6 b"},
        // A bad line throws away what came before it and stops at once.
        {{"0123456789 5 a\n", "XYZ 5 b\n0123456789 6 c\n"}, 0, "", ""},
    };
    for (const row &r : rows) {
        http_fetch_remote_manifest_data f;
        int result = -1;
        for (const std::string &chunk : r.chunks)
            result = feed(f, chunk);
        EXPECT_EQ(result, r.result) << r.records;
        EXPECT_EQ(records_of(f), r.records);
        EXPECT_EQ(f.line.text, r.pending) << r.records;
        int32_t n = 0;
        for (const manifest_entry *e = f.head; e != nullptr; e = e->next)
            ++n;
        EXPECT_EQ(f.count, n);
    }
}

TEST(AcceptText, OverLongLineIsCutNotOverrun) {
    http_fetch_remote_manifest_data f;
    std::string line = "0123456789 5 " + std::string(7000, 'n');
    EXPECT_EQ(feed(f, line), 1);
    EXPECT_EQ(f.line.length, 5999);
    EXPECT_EQ(feed(f, "\n"), 1);
    ASSERT_EQ(f.count, 1);
    EXPECT_EQ(std::string(f.head->name), std::string(5999 - 13, 'n'));
}

std::string many_lines(int n) {
    std::string text;
    for (int i = 0; i < n; ++i)
        text += "0123456789abcdef0123456789 " + std::to_string(i) + " korvix_v" +
                std::to_string(100000 + i) + "\n";
    return text;
}

TEST(Inflate, ChunkPastTheWindowIsInflatedWhole) {
    // About 200 KiB of text in one compressed chunk: every line is parsed by the one call.
    const std::string text = many_lines(5000);
    ASSERT_GT(text.size(), 3u * 65536);
    http_fetch_remote_manifest_data f;
    ASSERT_EQ(f.begin_inflate(), 1);
    EXPECT_EQ(feed_compressed(f, gzip_text(text)), 1);
    EXPECT_EQ(f.count, 5000);
    EXPECT_EQ(f.stream_ended, 1);
}

TEST(Inflate, ByteByByteAndLastLineWithoutLineFeed) {
    // The text is complete when the compressed stream ends, whatever the server said
    // about its length: the last line counts without its line feed.
    const std::string compressed = gzip_text("0123456789 5 a\n0123456789 6 last");
    http_fetch_remote_manifest_data f;
    ASSERT_EQ(f.begin_inflate(), 1);
    for (char c : compressed)
        ASSERT_EQ(feed_compressed(f, std::string(1, c)), 1);
    EXPECT_EQ(records_of(f), "[0123456789|5|a][0123456789|6|last]");
}

TEST(Inflate, BadData) {
    struct row {
        std::string bytes;
        int result;
        int count;
    };
    const row rows[] = {
        {"0123456789 5 not compressed\n", 0, 0},
        {gzip_text("0123456789 5 a\nbad line\n"), 0, 0},
        {gzip_text("0123456789 5 a\nbad last line"), 0, 0},
        {gzip_text(""), 1, 0},
    };
    for (const row &r : rows) {
        http_fetch_remote_manifest_data f;
        ASSERT_EQ(f.begin_inflate(), 1);
        EXPECT_EQ(feed_compressed(f, r.bytes), r.result);
        EXPECT_EQ(f.count, r.count);
    }
}

TEST(Fetch, FromAServer) {
    const std::string text = "# newest first\n"
                             "0123456789abcdef0123 30 korvix_v1.01\n"
                             "0123456789abcdef0124 20 korvix_v1.00_beta\n"
                             "0123456789abcdef0125 10 korvix_v1.00";
    const std::string compressed = gzip_text(text);
    const std::string all = "[0123456789abcdef0123|30|korvix_v1.01]"
                            "[0123456789abcdef0124|20|korvix_v1.00_beta]"
                            "[0123456789abcdef0125|10|korvix_v1.00]";
    struct row {
        const char *what;
        std::string body;
        delivery how;
        int32_t result;
        std::string records;
    };
    const row rows[] = {
        {"with a length", compressed, delivery::whole, 3, all},
        {"without a length", compressed, delivery::without_length, 3, all},
        {"body cut short", compressed, delivery::cut_short, -1, ""},
        {"compressed stream cut short", compressed.substr(0, compressed.size() - 12),
         delivery::whole, -1, ""},
        {"not compressed", text, delivery::whole, -1, ""},
        {"bad line", gzip_text("0123456789 5 a\nnonsense\n"), delivery::whole, -1, ""},
        {"empty text", gzip_text(""), delivery::whole, 0, ""},
    };
    for (const row &r : rows) {
        scripted_http_server server;
        ASSERT_TRUE(server.running());
        server.answer(path, r.body, r.how);
        http_fetch_remote_manifest_data f;
        std::vector<std::pair<int32_t, int32_t>> progress;
        f.progress_context = &progress;
        f.progress_callback = [](void *context, int32_t received, int32_t expected) {
            static_cast<std::vector<std::pair<int32_t, int32_t>> *>(context)->push_back(
                {received, expected});
        };
        EXPECT_EQ(f.fetch(host, path), r.result) << r.what;
        EXPECT_EQ(records_of(f), r.records) << r.what;
        if (r.result >= 0) {
            ASSERT_FALSE(progress.empty()) << r.what;
            EXPECT_EQ(progress.front().first, 0) << r.what;
            EXPECT_EQ(progress.back().first, int32_t(r.body.size())) << r.what;
        }
    }
}

TEST(Fetch, MissingFileAndNoServer) {
    {
        scripted_http_server server;
        http_fetch_remote_manifest_data f;
        EXPECT_EQ(f.fetch(host, path), -1);
        EXPECT_EQ(server.requests(), std::vector<std::string>{path});
    }
    http_fetch_remote_manifest_data f;
    EXPECT_EQ(f.fetch(host, path), -1);
}

} // namespace
