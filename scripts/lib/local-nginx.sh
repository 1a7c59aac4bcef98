# A private nginx on 127.0.0.1:80 for the demo and the benchmarks (sourced, inside the sandbox).
# shellcheck shell=bash

# local_nginx_conf PREFIX ROOT HTTP_EXTRA [SERVER_EXTRA]: writes PREFIX/nginx.conf for one
# worker in the foreground that serves the folder ROOT; its pid, error log and temporary files
# go below PREFIX. HTTP_EXTRA goes into the http block (access_log, sendfile), SERVER_EXTRA
# into the server block.
local_nginx_conf() {
    local prefix="$1" web_root="$2" http_extra="$3" server_extra="${4:-}"
    mkdir -p "$prefix/logs" "$prefix/tmp"
    cat >"$prefix/nginx.conf" <<CONF
worker_processes 1; master_process off; daemon off; user root;
pid logs/nginx.pid; error_log logs/error.log warn;
events { worker_connections 64; }
http {
  include /etc/nginx/mime.types; default_type application/octet-stream;
  $http_extra
  client_body_temp_path tmp/body; proxy_temp_path tmp/proxy; fastcgi_temp_path tmp/fastcgi;
  uwsgi_temp_path tmp/uwsgi; scgi_temp_path tmp/scgi;
  server {
    listen 127.0.0.1:80; root $web_root;
    $server_extra
  }
}
CONF
}

# local_nginx_start PREFIX: starts nginx with PREFIX/nginx.conf in the background, its pid in
# nginx_pid, and waits (5 s at most) until port 80 takes connections.
local_nginx_start() {
    local prefix="$1"
    nginx -p "$prefix/" -c nginx.conf -e "$prefix/logs/error.log" &
    # shellcheck disable=SC2034 # the sourcing script ends it
    nginx_pid=$!
    for _ in $(seq 1 100); do
        (exec 3<>/dev/tcp/127.0.0.1/80) 2>/dev/null && break
        sleep 0.05
    done
}
