// End-to-end test support: nginx with extra settings, image making and publishing, screenshots.
#include "tests/e2e/e2e_support.h"

#include "tests/support/nginx.h"

#include <openssl/evp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

const char manifest_header[] = "# This is an automatically generated file - do not modify\n"
                               "# It contains a list of the files currently managed by the\n"
                               "# updater.  Changing or deleting it may cause your next\n"
                               "# update to download far more things than it needs.\n"
                               "\n";

tuned_nginx::tuned_nginx(const std::string &prefix, const std::string &web_root,
                         const std::string &server_extra)
    : prefix_(prefix) {
    if (system(("mkdir -p '" + prefix_ + "/logs' '" + prefix_ + "/tmp'").c_str()) != 0)
        return;
    const std::string conf =
        "worker_processes 1; master_process off; daemon off; user root;\n"
        "pid logs/nginx.pid; error_log logs/error.log warn;\n"
        "events { worker_connections 64; }\n"
        "http { include /etc/nginx/mime.types; default_type application/octet-stream;\n"
        "  access_log logs/access.log; sendfile on;\n"
        "  client_body_temp_path tmp/body; proxy_temp_path tmp/proxy;\n"
        "  fastcgi_temp_path tmp/fastcgi; uwsgi_temp_path tmp/uwsgi; scgi_temp_path tmp/scgi;\n"
        "  server { listen 127.0.0.1:80; root " +
        web_root + ";\n" + server_extra + "\n  } }\n";
    if (!write_file(prefix_ + "/nginx.conf", conf))
        return;
    pid_ = fork();
    if (pid_ == 0) {
        const std::string p = prefix_ + "/";
        const std::string e = prefix_ + "/logs/error.log";
        execl("/usr/sbin/nginx", "nginx", "-p", p.c_str(), "-c", "nginx.conf", "-e", e.c_str(),
              static_cast<char *>(nullptr));
        _exit(127);
    }
    running_ = pid_ > 0 && wait_for_local_port(80, 5000);
}

tuned_nginx::~tuned_nginx() {
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    if (!wait_until([this]() { return waitpid(pid_, nullptr, WNOHANG) == pid_; }, 5000)) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

std::vector<std::string> tuned_nginx::requests() const {
    std::vector<std::string> paths;
    const std::string log = read_file(prefix_ + "/logs/access.log");
    for (size_t at = log.find("\"GET "); at != std::string::npos; at = log.find("\"GET ", at)) {
        at += 5;
        paths.push_back(log.substr(at, log.find(' ', at) - at));
    }
    return paths;
}

client_image make_image(const std::string &name, size_t padding) {
    std::string content = read_file(DUSKMERE_BINARY_DIR "/demo-images/korvix_v1.01");
    content += "\nimage " + name + "\n";
    content.append(padding, '\0');
    return {name, content};
}

std::string sha256_hex(const std::string &content) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(content.data(), content.size(), digest, &length, EVP_sha256(), nullptr);
    std::string hex;
    char pair[3];
    for (unsigned int i = 0; i < length; ++i) {
        snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

std::string manifest_line(const client_image &image) {
    char size[16];
    snprintf(size, sizeof size, "%10d", int(image.content.size()));
    return sha256_hex(image.content) + " " + size + " " + image.name + "\n";
}

e2e_world::e2e_world() {
    chmod(dir.path().c_str(), 0755); // nginx's worker reads below it
    std::string cmd = "mkdir -p '" + exe + "' '" + www + "'";
    if (system(cmd.c_str()) != 0) {
    }
}

bool e2e_world::publish(const std::vector<client_image> &images) {
    const std::string folder = dir / "images";
    if (system(("rm -rf '" + folder + "' && mkdir -p '" + folder + "'").c_str()) != 0)
        return false;
    for (const client_image &i : images)
        if (!write_file(folder + "/" + i.name, i.content))
            return false;
    process_result r =
        run_process({DUSKMERE_BINARY_DIR "/duskmere-publish", folder, www}, {}, 20000);
    return r.exit_code == 0 && system(("chmod -R a+rX '" + www + "'").c_str()) == 0;
}

void e2e_world::install(const std::vector<client_image> &images) {
    std::string lines = manifest_header;
    for (const client_image &i : images) {
        write_file(exe + "/" + i.name, i.content);
        chmod((exe + "/" + i.name).c_str(), 0700);
        lines += manifest_line(i);
    }
    write_file(manifest, lines);
}

std::vector<std::string> e2e_world::launcher_env() const {
    return {"HOME=" + home, "DISPLAY=:77", "NO_AT_BRIDGE=1", "GDK_BACKEND=x11"};
}

process_result e2e_world::run_launcher(const std::vector<std::string> &args, int timeout_ms) {
    std::vector<std::string> argv{launcher_path()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(argv, launcher_env(), timeout_ms);
}

std::unique_ptr<background_process> e2e_world::start_launcher(const std::vector<std::string> &args,
                                                              const std::string &output_path) {
    std::vector<std::string> argv{launcher_path()};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<background_process>(argv, launcher_env(), output_path);
}

std::vector<listed_file> listed_files(const std::string &manifest_path) {
    std::vector<listed_file> files;
    std::istringstream lines(read_file(manifest_path));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        listed_file f;
        std::istringstream fields(line);
        fields >> f.hash >> f.size >> f.name;
        files.push_back(f);
    }
    return files;
}

long file_size(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? long(st.st_size) : -1;
}

size_t count_of(const std::string &text, const std::string &part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos;
         at = text.find(part, at + part.size()))
        ++n;
    return n;
}

std::string e2e_world::listed_but_not_whole() const {
    std::string problems;
    for (const listed_file &f : listed_files(manifest)) {
        const std::string path = exe + "/" + f.name;
        if (!file_exists(path))
            problems += f.name + ": listed but missing\n";
        else if (file_size(path) != f.size)
            problems += f.name + ": " + std::to_string(file_size(path)) + " bytes, listed " +
                        std::to_string(f.size) + "\n";
        else if (sha256_hex(read_file(path)) != f.hash)
            problems += f.name + ": content is not the listed one\n";
    }
    return problems;
}

std::string debug_log() {
    return read_file("/tmp/duskmere_korvix_launcher.txt");
}

std::vector<unsigned char> screen_row(int y, const std::string &scratch_file) {
    std::vector<unsigned char> row;
    process_result r =
        run_process({"/usr/bin/import", "-window", "root", "-depth", "8", "ppm:" + scratch_file},
                    {"DISPLAY=:77"}, 20000);
    if (r.exit_code != 0)
        return row;
    const std::string ppm = read_file(scratch_file);
    int width = 0, height = 0, maximum = 0, header = 0;
    if (sscanf(ppm.c_str(), "P6 %d %d %d%n", &width, &height, &maximum, &header) != 3 ||
        maximum != 255 || y < 0 || y >= height)
        return row;
    const size_t start = size_t(header) + 1 + size_t(y) * size_t(width) * 3;
    if (ppm.size() < start + size_t(width) * 3)
        return row;
    row.assign(ppm.begin() + long(start), ppm.begin() + long(start + size_t(width) * 3));
    return row;
}
