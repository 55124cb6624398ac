# Sourced by the benchmark scripts: serves a folder with nginx on a free port of
# 127.0.0.1, as a non-daemon child with its own prefix, until stop_nginx.
#   start_nginx ROOT WORKDIR   sets nginx_port and nginx_pid
#   stop_nginx
start_nginx() {
  local root=$1 work=$2
  mkdir -p "$work/logs"
  nginx_port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  cat > "$work/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/logs/error.log;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $work/client_body;
  proxy_temp_path $work/proxy;
  fastcgi_temp_path $work/fastcgi;
  uwsgi_temp_path $work/uwsgi;
  scgi_temp_path $work/scgi;
  server {
    listen 127.0.0.1:$nginx_port;
    root $root;
  }
}
CONF
  /usr/sbin/nginx -p "$work" -c "$work/nginx.conf" -e "$work/logs/error.log" &
  nginx_pid=$!
  wait_for_http "$nginx_port"
}

# wait_for_http PORT: until a server answers on 127.0.0.1:PORT (5 s at most).
wait_for_http() {
  for _ in $(seq 50); do
    if curl -s -o /dev/null "http://127.0.0.1:$1/"; then return 0; fi
    sleep 0.1
  done
  echo "the server on port $1 did not start" >&2
  return 1
}

stop_nginx() {
  if [ -n "${nginx_pid:-}" ]; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
    nginx_pid=""
  fi
}
