// Test support: nginx started with a generated configuration in a private prefix folder.
#include "tests/support/nginx.h"

#include "tests/support/files.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

bool wait_for_local_port(int port, int timeout_ms) {
    return wait_until(
        [port]() {
            int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (fd < 0)
                return false;
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(uint16_t(port));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            bool ok = connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
            close(fd);
            return ok;
        },
        timeout_ms);
}

nginx_server::nginx_server(const std::string &web_root, int port, const std::string &access_log)
    : port_(port) {
    std::string base = std::string(DUSKMERE_BINARY_DIR) + "/scratch";
    mkdir(base.c_str(), 0755);
    prefix_ = base + "/nginx-" + std::to_string(getpid()) + "-" + std::to_string(port);
    std::string cmd =
        "rm -rf '" + prefix_ + "' && mkdir -p '" + prefix_ + "/logs' '" + prefix_ + "/tmp'";
    if (system(cmd.c_str()) != 0)
        return;
    access_log_ = access_log.empty() ? prefix_ + "/logs/access.log" : access_log;
    std::string conf = "worker_processes 1; master_process off; daemon off; user root;\n"
                       "pid logs/nginx.pid; error_log logs/error.log warn;\n"
                       "events { worker_connections 64; }\n"
                       "http { include /etc/nginx/mime.types; default_type "
                       "application/octet-stream;\n"
                       "  access_log " +
                       access_log_ +
                       ";\n"
                       "  sendfile on; keepalive_timeout 5;\n"
                       "  client_body_temp_path tmp/body; proxy_temp_path tmp/proxy;\n"
                       "  fastcgi_temp_path tmp/fastcgi; uwsgi_temp_path tmp/uwsgi;\n"
                       "  scgi_temp_path tmp/scgi;\n"
                       "  server { listen 127.0.0.1:" +
                       std::to_string(port) + "; root " + web_root + "; } }\n";
    if (!write_file(prefix_ + "/nginx.conf", conf))
        return;
    pid_ = fork();
    if (pid_ == 0) {
        int out = open((prefix_ + "/logs/stderr.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (out >= 0) {
            dup2(out, 1);
            dup2(out, 2);
        }
        std::string p = prefix_ + "/";
        std::string e = prefix_ + "/logs/error.log";
        execl("/usr/sbin/nginx", "nginx", "-p", p.c_str(), "-c", "nginx.conf", "-e", e.c_str(),
              static_cast<char *>(nullptr));
        _exit(127);
    }
    if (pid_ < 0)
        return;
    running_ = wait_for_local_port(port, 5000);
}

void nginx_server::stop() {
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    bool ended = wait_until([this]() { return waitpid(pid_, nullptr, WNOHANG) == pid_; }, 5000);
    if (!ended) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
    running_ = false;
}

nginx_server::~nginx_server() {
    stop();
    if (!prefix_.empty()) {
        std::string cmd = "rm -rf '" + prefix_ + "'";
        if (system(cmd.c_str()) != 0) {
        }
    }
}

std::string nginx_server::error_log() const {
    return read_file(prefix_ + "/logs/error.log") + read_file(prefix_ + "/logs/stderr.log");
}
