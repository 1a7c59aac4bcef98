// Test support: scratch folders, file contents, descriptor counts.
#include "tests/support/files.h"

#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

scratch_dir::scratch_dir(const std::string &name) {
    std::string base = std::string(DUSKMERE_BINARY_DIR) + "/scratch";
    mkdir(base.c_str(), 0755);
    path_ = base + "/" + name + "-" + std::to_string(getpid());
    std::string cmd = "rm -rf '" + path_ + "' && mkdir -p '" + path_ + "'";
    if (system(cmd.c_str()) != 0)
        path_.clear();
}

scratch_dir::~scratch_dir() {
    if (!path_.empty()) {
        std::string cmd = "rm -rf '" + path_ + "'";
        if (system(cmd.c_str()) != 0) {
        }
    }
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string file_tail::fresh() {
    std::string all = file_exists(path_) ? read_file(path_) : "";
    std::string fresh = all.size() > seen_ ? all.substr(seen_) : "";
    seen_ = all.size();
    return fresh;
}

bool write_file(const std::string &path, const std::string &content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    return bool(out);
}

bool file_exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

int count_open_descriptors() {
    int n = 0;
    DIR *d = opendir("/proc/self/fd");
    if (d == nullptr)
        return -1;
    while (dirent *e = readdir(d))
        if (e->d_name[0] != '.')
            ++n;
    closedir(d);
    return n - 1; // the directory stream's own descriptor
}

void sleep_ms(int ms) {
    usleep(useconds_t(ms) * 1000);
}
