// Fuzz target: a whole local manifest file, loaded, saved and loaded again.
#include "fuzz/fuzz_support.h"
#include "updater/file_manifest.h"

#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// A file of this process in memory (/dev/shm; a disk file that is truncated and rewritten
// is flushed on every close, which would slow each run to a crawl), removed at exit.
struct scratch_file {
    std::string path;
    explicit scratch_file(const char *name)
        : path(std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
               "/duskmere-fuzz-" + std::to_string(getpid()) + "-" + name) {}
    ~scratch_file() { unlink(path.c_str()); }
};

bool write_whole(const std::string &path, const uint8_t *data, size_t size) {
    FILE *file = fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    bool ok = fwrite(data, 1, size, file) == size;
    return fclose(file) == 0 && ok;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_quiet_log();
    static const scratch_file input("manifest.lst");
    static const scratch_file saved("saved.lst");
    const std::string &input_path = input.path;
    const std::string &saved_path = saved.path;
    if (!write_whole(input_path, data, size))
        return 0;

    tavu_file_manifest manifest;
    int32_t loaded = manifest.load_file(input_path.c_str());
    FUZZ_CHECK(loaded >= -1);
    int32_t listed = 0;
    bool short_lines = true; // every saved line fits the reader's 1024-byte buffer
    for (manifest_entry *e = manifest.head; e != nullptr; e = e->next) {
        ++listed;
        FUZZ_CHECK(e->name != nullptr && e->hash != nullptr);
        // With duplicate names the index may give another entry of the same name.
        manifest_entry *found = manifest.find_entry(e->name);
        FUZZ_CHECK(found != nullptr && strcmp(found->name, e->name) == 0);
        int32_t width = snprintf(nullptr, 0, "%s %10d %s", e->hash, e->size, e->name);
        if (width > 1022)
            short_lines = false;
    }
    if (loaded >= 0)
        FUZZ_CHECK(listed == loaded);
    if (loaded < 0 || !short_lines)
        return 0;

    // What was loaded is saved and read back unchanged, in the same order.
    FUZZ_CHECK(manifest.save_file(saved_path.c_str()) == 1);
    tavu_file_manifest again;
    FUZZ_CHECK(again.load_file(saved_path.c_str()) == loaded);
    manifest_entry *a = manifest.head, *b = again.head;
    for (; a != nullptr && b != nullptr; a = a->next, b = b->next) {
        FUZZ_CHECK(strcmp(a->name, b->name) == 0);
        FUZZ_CHECK(strcmp(a->hash, b->hash) == 0);
        FUZZ_CHECK(a->size == b->size);
    }
    FUZZ_CHECK(a == nullptr && b == nullptr);
    return 0;
}
