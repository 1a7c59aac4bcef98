// Test support: scratch folders and whole-file reads and writes.
#pragma once

#include <string>

// A new empty folder below the build tree's scratch area, removed with its handle.
class scratch_dir {
  public:
    explicit scratch_dir(const std::string &name);
    ~scratch_dir();
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &leaf) const { return path_ + "/" + leaf; }

  private:
    std::string path_;
};

std::string read_file(const std::string &path);
bool write_file(const std::string &path, const std::string &content);
bool file_exists(const std::string &path);
// Reads a file that keeps growing, such as a log, a piece at a time.
class file_tail {
  public:
    explicit file_tail(const std::string &path) : path_(path) {}
    // What was appended since the last call (the whole file the first time; "" while the
    // file does not exist).
    std::string fresh();

  private:
    std::string path_;
    size_t seen_ = 0;
};
// Number of open descriptors of this process.
int count_open_descriptors();
// Polls until pred() is true or timeout_ms pass; returns the final pred().
template <typename Pred> bool wait_until(Pred pred, int timeout_ms);
void sleep_ms(int ms);

template <typename Pred> bool wait_until(Pred pred, int timeout_ms) {
    for (int waited = 0; waited < timeout_ms; waited += 20) {
        if (pred())
            return true;
        sleep_ms(20);
    }
    return pred();
}
