# Shared by the download benchmarks: Debian's nginx serving files from var/bench/nginx/www on a
# free loopback port, with its own prefix, stopped by bench_stop_nginx.

BENCH_DIR="$TARN_VAR/bench"
NGINX_DIR="$BENCH_DIR/nginx"

bench_install_nginx() {
  if ! command -v nginx >/dev/null 2>&1 && [ ! -x /usr/sbin/nginx ]; then
    tarn_log "installing nginx"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -q >/dev/null
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q nginx >/dev/null
  fi
  NGINX="$(command -v nginx || echo /usr/sbin/nginx)"
}

bench_free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# Starts nginx on a free port; sets NGINX_PORT and NGINX_PID.
bench_start_nginx() {
  mkdir -p "$NGINX_DIR/www" "$NGINX_DIR/logs" "$NGINX_DIR/tmp"
  NGINX_PORT="$(bench_free_port)"
  cat >"$NGINX_DIR/nginx.conf" <<CONF
worker_processes 1;
pid $NGINX_DIR/nginx.pid;
error_log $NGINX_DIR/logs/error.log;
events { worker_connections 1024; }
http {
  log_format bench '\$status \$body_bytes_sent "\$http_range"';
  access_log ${BENCH_ACCESS_LOG:-off}${BENCH_ACCESS_LOG:+ bench};
  sendfile on;
  client_body_temp_path $NGINX_DIR/tmp/body;
  proxy_temp_path $NGINX_DIR/tmp/proxy;
  fastcgi_temp_path $NGINX_DIR/tmp/fastcgi;
  uwsgi_temp_path $NGINX_DIR/tmp/uwsgi;
  scgi_temp_path $NGINX_DIR/tmp/scgi;
  server {
    listen 127.0.0.1:$NGINX_PORT;
    root $NGINX_DIR/www;
  }
}
CONF
  "$NGINX" -p "$NGINX_DIR" -c "$NGINX_DIR/nginx.conf" -g 'daemon off;' </dev/null >/dev/null 2>&1 &
  NGINX_PID=$!
  local _
  for _ in $(seq 50); do
    curl -s -o /dev/null "http://127.0.0.1:$NGINX_PORT/" && return
    sleep 0.1
  done
}

bench_stop_nginx() {
  if [ -n "${NGINX_PID:-}" ]; then
    kill "$NGINX_PID" 2>/dev/null || true
    wait "$NGINX_PID" 2>/dev/null || true
  fi
}
