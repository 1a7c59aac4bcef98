// End-to-end test support: a tunable nginx, published images, a player's home, screenshots.
#pragma once

#include "tests/support/files.h"
#include "tests/support/process.h"

#include <memory>
#include <string>
#include <vector>

// nginx on 127.0.0.1:80 serving web_root, with extra directives inside its server block
// (e.g. a location with limit_rate). Ended by the destructor.
class tuned_nginx {
  public:
    tuned_nginx(const std::string &prefix, const std::string &web_root,
                const std::string &server_extra = "");
    ~tuned_nginx();
    tuned_nginx(const tuned_nginx &) = delete;
    tuned_nginx &operator=(const tuned_nginx &) = delete;

    bool running() const { return running_; }
    // Request paths logged so far, in order.
    std::vector<std::string> requests() const;

  private:
    std::string prefix_;
    int pid_ = -1;
    bool running_ = false;
};

// One client image: its name and its bytes.
struct client_image {
    std::string name;
    std::string content;
};

// A stand-in client program (it prints its name and arguments) with a trailer that makes
// each image's content its own; padding adds that many extra bytes.
client_image make_image(const std::string &name, size_t padding = 0);
std::string sha256_hex(const std::string &content);
// The local manifest's line for an installed image.
std::string manifest_line(const client_image &image);
extern const char manifest_header[];

// A scratch world: web root, the player's home and the launcher's executables folder.
struct e2e_world {
    scratch_dir dir{"e2e"};
    std::string www = dir / "www";
    std::string home = dir / "home";
    std::string config = home + "/.Duskmere";
    std::string exe = config + "/executables";
    std::string manifest = exe + "/update_manifest.lst";
    std::string remote = www + "/downloads/korvix_v3";

    e2e_world();
    // Runs duskmere-publish on these images; true when it succeeded.
    bool publish(const std::vector<client_image> &images);
    // Puts images into the executables folder with their manifest lines (in this order).
    void install(const std::vector<client_image> &images);
    // The launcher with this home on the sandbox's display, until the client ends it.
    process_result run_launcher(const std::vector<std::string> &args = {}, int timeout_ms = 60000);
    // The launcher started in the background, its output appended to output_path; the
    // handle kills it (SIGKILL) when dropped.
    std::unique_ptr<background_process> start_launcher(const std::vector<std::string> &args,
                                                       const std::string &output_path);
    std::vector<std::string> launcher_env() const;
    // Every line of the local manifest whose file is not installed as listed (missing, of
    // another size or another SHA-256), one "name: why" line each; empty when all are whole.
    std::string listed_but_not_whole() const;
};

// One record of a local manifest, as listed.
struct listed_file {
    std::string hash;
    long size = -1;
    std::string name;
};
// The records of a manifest file in file order; comments and blank lines are skipped.
std::vector<listed_file> listed_files(const std::string &manifest_path);
// Size of the file at path, or -1 when it cannot be read.
long file_size(const std::string &path);
// How many times part occurs in text (not overlapping).
size_t count_of(const std::string &text, const std::string &part);

// The launcher's debug log (one per sandbox, appended by every launcher).
std::string debug_log();
// One row of the screen as RGB triples, taken with ImageMagick's import; empty on failure.
std::vector<unsigned char> screen_row(int y, const std::string &scratch_file);
