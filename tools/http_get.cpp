// duskmere-http-get: fetch one file over HTTP with the launcher's own downloader.
#include "client/debug_log.h"
#include "http/http_downloader.h"

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

int main(int argc, char **argv) {
    if (argc < 4 || argc > 5) {
        fprintf(stderr,
                "Usage: %s HOST PATH OUTFILE [PORT]\n"
                "Fetches http://HOST[:PORT]PATH into OUTFILE (port 80 by default).\n"
                "Prints the bytes, seconds, MB/s and peak memory; exit 0 on success.\n",
                argv[0]);
        return 2;
    }
    qorl_client_set_debug_logfile_name("/dev/stderr");
    int port = argc == 5 ? atoi(argv[4]) : 80;
    qorl_http_downloader downloader;
    if (!downloader.set_connection(argv[1], port, 0)) {
        fprintf(stderr, "%s: cannot resolve '%s'\n", argv[0], argv[1]);
        return 1;
    }
    timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    int ok = downloader.download(argv[1], argv[2], argv[3]);
    clock_gettime(CLOCK_MONOTONIC, &end);
    double seconds = double(end.tv_sec - start.tv_sec) + double(end.tv_nsec - start.tv_nsec) / 1e9;
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    double bytes = double(downloader.received_size);
    printf("%s bytes=%.0f seconds=%.3f MB/s=%.1f max_rss_kb=%ld\n", ok ? "ok" : "failed", bytes,
           seconds, seconds > 0 ? bytes / seconds / 1e6 : 0.0, usage.ru_maxrss);
    return ok ? 0 : 1;
}
