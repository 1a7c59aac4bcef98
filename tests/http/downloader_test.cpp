// The downloader against real peers: nginx, python's http.server (HTTP/1.0) and a
// scripted server for chunks, early closes, stalls and garbage.
#include "http/http_downloader.h"
#include "tests/http/http_test_util.h"
#include "tests/http/scripted_server.h"
#include "tests/support/files.h"
#include "tests/support/nginx.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

const char *const host = "updates.duskmere.example";

std::string random_bytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char &c : s)
        c = char(gen() & 0xff);
    return s;
}

// Collects what the downloader's callbacks report.
struct sink {
    std::string body;
    std::vector<std::pair<int32_t, int32_t>> progress;
    int refuse_after = -1; // refuse once this many bytes arrived (-1: never)

    static int data(void *u, const unsigned char *b, int32_t n) {
        auto *self = static_cast<sink *>(u);
        self->body.append(reinterpret_cast<const char *>(b), size_t(n));
        return self->refuse_after >= 0 && int(self->body.size()) > self->refuse_after ? 0 : 1;
    }
    static void progressed(void *u, int32_t received, int32_t expected) {
        static_cast<sink *>(u)->progress.emplace_back(received, expected);
    }
};

// A downloader set up for one download to the update host on a port.
struct download_fixture {
    qorl_http_downloader d;
    sink s;
    explicit download_fixture(int port, bool with_progress = true, bool callback_form = false) {
        EXPECT_EQ(d.set_connection(host, port, 0), 1);
        d.user_data = &s;
        if (with_progress)
            d.progress_callback = sink::progressed;
        if (callback_form)
            d.data_callback = sink::data;
    }
};

class NginxDownloads : public ::testing::Test {
  protected:
    scratch_dir dir{"nginx-downloads"};
    std::string www = dir / "www";
    std::string large = random_bytes(6 * 1024 * 1024 + 123, 7);

    void SetUp() override {
        ASSERT_EQ(system(("mkdir -p '" + www + "/dir with space'").c_str()), 0);
        ASSERT_TRUE(write_file(www + "/small.txt", "hello from nginx\n"));
        ASSERT_TRUE(write_file(www + "/dir with space/\xc3\xbc.txt", "umlaut\n"));
        ASSERT_TRUE(write_file(www + "/large.bin", large));
        ASSERT_TRUE(write_file(www + "/empty.txt", ""));
    }
};

TEST_F(NginxDownloads, FilesErrorsAndTheCallbackForm) {
    log_capture log; // opens the debug log before the descriptors are counted
    const int fds = count_open_descriptors();
    {
        nginx_server nginx(www, 80);
        ASSERT_TRUE(nginx.running()) << nginx.error_log();
        struct row {
            const char *path;
            int result;
            std::string body; // expected file content
        };
        const row rows[] = {
            {"/small.txt", 1, "hello from nginx\n"},
            {"/dir with space/\xc3\xbc.txt", 1, "umlaut\n"},
            {"/empty.txt", 1, ""},
            {"/large.bin", 1, large},
            {"/missing.txt", 0, "previous content"},
            {"/dir with space", 0, "previous content"}, // a 301 is not followed
        };
        for (const row &r : rows) {
            SCOPED_TRACE(r.path);
            std::string out = dir / "out.bin";
            ASSERT_TRUE(write_file(out, "previous content"));
            download_fixture f(80);
            EXPECT_EQ(f.d.download(host, r.path, out.c_str()), r.result);
            EXPECT_EQ(f.d.output_file, nullptr);
            EXPECT_TRUE(read_file(out) == r.body);
            EXPECT_EQ(f.d.socket.state, tcp_state_unconnected);
            if (r.result == 1 && !r.body.empty()) {
                int32_t size = int32_t(r.body.size());
                ASSERT_FALSE(f.s.progress.empty());
                EXPECT_EQ(f.s.progress.front(), std::make_pair(int32_t(0), size));
                EXPECT_EQ(f.s.progress.back(), std::make_pair(size, size));
            }
        }
        // The escaped path reached the server as escaped.
        EXPECT_NE(read_file(nginx.access_log_path())
                      .find("\"GET /dir%20with%20space/%c3%bc.txt HTTP/1.1\" 200"),
                  std::string::npos);

        // Callback form: the body arrives in order through the data callback.
        download_fixture cb(80, true, true);
        EXPECT_EQ(cb.d.download(host, "/large.bin"), 1);
        EXPECT_TRUE(cb.s.body == large);
        download_fixture refused(80, false, true);
        refused.s.refuse_after = 100000;
        EXPECT_EQ(refused.d.download(host, "/large.bin"), 0);
        EXPECT_TRUE(log.contains("Error in qorl_http_downloader::download(), http data fetch "
                                 "failed."));
        download_fixture missing(80, false, true);
        EXPECT_EQ(missing.d.download(host, "/missing.txt"), 0);
        EXPECT_TRUE(log.contains("Warning in qorl_http_downloader::callback_message_received(), "
                                 "download failed in callback mode."));
    }
    EXPECT_EQ(count_open_descriptors(), fds);
}

TEST_F(NginxDownloads, PythonHttpServerSpeaksHttp10) {
    const int fds = count_open_descriptors();
    {
        background_process python({"/usr/bin/python3", "-m", "http.server", "8000", "--bind",
                                   "127.0.0.1", "--directory", www},
                                  {}, dir / "python.log");
        ASSERT_TRUE(wait_for_local_port(8000, 10000)) << read_file(dir / "python.log");
        std::string out = dir / "py.bin";
        download_fixture f(8000);
        EXPECT_EQ(f.d.download(host, "/large.bin", out.c_str()), 1);
        EXPECT_TRUE(read_file(out) == large);
        download_fixture missing(8000);
        EXPECT_EQ(missing.d.download(host, "/nothing-here", out.c_str()), 0);
        EXPECT_TRUE(read_file(out) == large);
        EXPECT_NE(read_file(dir / "python.log").find("\"GET /large.bin HTTP/1.1\" 200"),
                  std::string::npos);
    }
    EXPECT_EQ(count_open_descriptors(), fds);
}

struct scripted_case {
    const char *name;
    std::vector<scripted_server::step> steps;
    int hold_ms;
    bool with_progress;
    int result;
    const char *file; // expected content; null: the file must not exist
    const char *message;
    std::pair<int32_t, int32_t> last_progress = {-2, -2}; // {-2,-2}: not checked
};

TEST(ScriptedDownloads, WhatRealServersRarelyDo) {
    const std::string ok = "HTTP/1.1 200 OK\r\n";
    const std::string chunked = ok + "Transfer-Encoding: chunked\r\n\r\n";
    std::vector<scripted_server::step> slow = {{ok + "Content-Length: 10\r\n\r\n", 0}};
    for (int i = 0; i < 10; ++i)
        slow.push_back({std::string(1, char('0' + i)), 150});
    const scripted_case cases[] = {
        {"chunked body",
         {{chunked + "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n", 0}},
         0,
         true,
         1,
         "hello world",
         nullptr},
        {"chunked body in pieces",
         {{chunked + "5\r", 0}, {"\nhel", 50}, {"lo\r\n0\r", 50}, {"\n\r\n", 50}},
         0,
         true,
         1,
         "hello",
         nullptr},
        {"body delimited by the close",
         {{"HTTP/1.0 200 OK\r\n\r\nuntil close", 0}},
         0,
         true,
         1,
         "until close",
         nullptr},
        {"empty body delimited by the close",
         {{"HTTP/1.0 200 OK\r\n\r\n", 0}},
         0,
         true,
         1,
         "",
         nullptr},
        {"100 before the 200",
         {{"HTTP/1.1 100 Continue\r\n\r\n", 0}, {ok + "Content-Length: 2\r\n\r\nok", 30}},
         0,
         true,
         1,
         "ok",
         nullptr},
        {"close before the declared length",
         {{ok + "Content-Length: 10\r\n\r\nabc", 0}},
         0,
         true,
         0,
         "abc",
         "connection closed before all data arrived.",
         {3, 10}},
        {"close inside a chunk",
         {{chunked + "5\r\nhel", 0}},
         0,
         true,
         0,
         "hel",
         "connection closed before all data arrived."},
        {"close before any response",
         {},
         0,
         true,
         0,
         nullptr,
         "connection closed before all data arrived."},
        {"stall with progress callback keeps the file",
         {{ok + "Content-Length: 10\r\n\r\nabc", 0}},
         5000,
         true,
         0,
         "abc",
         "blocking read failed, not all bytes read.",
         {3, 10}},
        {"stall without progress callback deletes the file",
         {{ok + "Content-Length: 10\r\n\r\nabc", 0}},
         5000,
         false,
         0,
         nullptr,
         "blocking read failed, unknown file state.  Deleting file."},
        {"stall before any response", {}, 5000, false, 0, nullptr, "no data arrived for too long"},
        {"slow but steady is never cut off", slow, 0, true, 1, "0123456789", nullptr},
        {"junk after a complete body is ignored",
         {{ok + "Content-Length: 2\r\n\r\nokJUNK LINE\r\n\r\n", 0}},
         0,
         true,
         1,
         "ok",
         nullptr},
        {"garbage",
         {{"\x16\x03\x01garbage\r\n\r\n", 0}},
         0,
         true,
         0,
         nullptr,
         "http data fetch failed."},
        {"server error",
         {{"HTTP/1.1 500 Oops\r\nContent-Length: 4\r\n\r\noops", 0}},
         0,
         true,
         0,
         nullptr,
         "download failed for file '"},
        {"bad chunk size",
         {{chunked + "7fffffffffff\r\n", 0}},
         0,
         true,
         0,
         "",
         "chunk size out of range"},
    };
    scratch_dir dir("scripted");
    for (const scripted_case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string out = dir / "out.bin";
        unlink(out.c_str());
        log_capture log;
        const int fds = count_open_descriptors();
        {
            scripted_server server(c.steps, c.hold_ms);
            download_fixture f(server.port(), c.with_progress);
            f.d.stall_timeout_ms = 600;
            EXPECT_EQ(f.d.download(host, "/file", out.c_str()), c.result);
            EXPECT_EQ(f.d.output_file, nullptr);
            EXPECT_EQ(server.request(), "GET /file HTTP/1.1\r\nHost: updates.duskmere.example\r\n"
                                        "Content-Length: 0\r\nAccept-Encoding: identity\r\n"
                                        "Connection: close\r\n\r\n");
            if (c.last_progress.first != -2) {
                ASSERT_FALSE(f.s.progress.empty());
                EXPECT_EQ(f.s.progress.back(), c.last_progress);
            }
        }
        EXPECT_EQ(count_open_descriptors(), fds);
        if (c.file == nullptr) {
            EXPECT_FALSE(file_exists(out));
        } else {
            EXPECT_EQ(read_file(out), c.file);
        }
        if (c.message != nullptr) {
            EXPECT_TRUE(log.contains(c.message)) << log.text();
        }
    }
}

// The response is fine but its body has nowhere to go: the download fails, and neither the
// output file nor the connection stays open.
TEST(ScriptedDownloads, OutputFileThatCannotBeWritten) {
    struct row {
        const char *what;
        const char *destination; // /dev/full takes the open and refuses every write
        const char *message;
    };
    const row rows[] = {
        {"folder missing", "/nonexistent-folder/out.bin", "unable to open output file"},
        {"disk full", "/dev/full", "unable to write all data to disk.  Bailing."},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.what);
        log_capture log;
        const int fds = count_open_descriptors();
        {
            scripted_server server({{"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", 0}});
            download_fixture f(server.port());
            EXPECT_EQ(f.d.download(host, "/file", r.destination), 0);
            EXPECT_EQ(f.d.output_file, nullptr);
            EXPECT_EQ(f.d.socket.state, tcp_state_unconnected);
        }
        EXPECT_EQ(count_open_descriptors(), fds);
        EXPECT_TRUE(log.contains(r.message)) << log.text();
    }
}

TEST(DownloaderRefusals, ArgumentsConnectAndResolve) {
    log_capture log;
    const int fds = count_open_descriptors();
    {
        qorl_http_downloader d;
        EXPECT_EQ(d.download(nullptr, "/", "x"), 0);
        EXPECT_EQ(d.download(host, nullptr, "x"), 0);
        EXPECT_EQ(d.download(host, "/", nullptr), 0);
        EXPECT_EQ(d.download(host, "/"), 0);
        d.data_callback = sink::data;
        EXPECT_EQ(d.download(host, "/", "x"), 0);
        EXPECT_EQ(d.set_connection(nullptr, 80, 0), 0);
        for (const char *m :
             {"Error in qorl_http_downloader::download(), NULL host.",
              "Error in qorl_http_downloader::download(), NULL path.",
              "Error in qorl_http_downloader::download(), NULL destination file name.",
              "Error in qorl_http_downloader::download(), NULL destination file name and NULL "
              "download data callback.",
              "attempt to do file based download after setting data callback.",
              "Error in qorl_http_downloader::set_connection(), NULL host name."})
            EXPECT_TRUE(log.contains(m)) << m;

        // Nothing listens on this port: the connect fails.
        qorl_http_downloader refused;
        ASSERT_EQ(refused.set_connection("127.0.0.1", 9, 0), 1);
        scratch_dir dir("refused");
        EXPECT_EQ(refused.download(host, "/", (dir / "x").c_str()), 0);
        EXPECT_TRUE(log.contains("Error in qorl_http_downloader::download(), connect failed."));
        EXPECT_FALSE(file_exists(dir / "x"));
        // A name that does not resolve leaves the address as it was.
        qorl_http_downloader unknown;
        EXPECT_EQ(unknown.set_connection("no-such-host.invalid", 80, 0), 0);
        EXPECT_EQ(unknown.address.sin_addr.s_addr, 0u);
        EXPECT_EQ(unknown.set_connection(host, 80, 0), 1);
        EXPECT_EQ(unknown.address.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    }
    EXPECT_EQ(count_open_descriptors(), fds);

    struct row {
        const char *text;
        int dotted;
    };
    const row rows[] = {{"10.0.0.1", 1}, {"127.0.0.1", 1}, {"255.255.255.255", 1},
                        {"1.2.3", 0},    {"256.1.1.1", 0}, {"1.2.3.4.5", 0},
                        {"1..2.3", 0},   {"a.b.c.d", 0},   {"0001.2.3.4", 1},
                        {"1.2.3.4x", 0}, {"", 0},          {"1234.1.1.1", 0}};
    for (const row &r : rows)
        EXPECT_EQ(qorl_http_downloader::is_dotted_ipv4(r.text), r.dotted) << r.text;
    sockaddr_in a{};
    EXPECT_EQ(qorl_http_downloader::resolve_host_address("10.0.0.1", &a), 1);
    EXPECT_EQ(a.sin_addr.s_addr, inet_addr("10.0.0.1"));
    EXPECT_EQ(a.sin_family, AF_INET);
}

} // namespace
