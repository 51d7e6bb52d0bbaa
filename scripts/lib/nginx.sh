# nginx (Debian's nginx-light) as the real static server of a release tree:
# started in the foreground on a free port of 127.0.0.1, with its
# configuration, pid, logs and temporary files in one directory of the build
# tree, and stopped by qova_stop_all (scripts/lib/wine-env.sh) with the other
# servers.
#
# Expects $build; source scripts/lib/packages.sh and wine-env.sh first.

# The access log of the servers started here: one line per request,
#   <request line> <status> <body bytes sent> "<Range>" "<If-Range>"
qova_nginx_log_format='$request $status $body_bytes_sent "$http_range" "$http_if_range"'

# A TCP port of 127.0.0.1 that was free a moment ago.
qova_free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

# qova_nginx_launch DIR N SERVERS: starts nginx in the foreground with its
# configuration, pid, logs (access.log in qova's format) and temporary files in
# DIR, on N free ports of 127.0.0.1 (qova_nginx_ports), with the server blocks
# that the function SERVERS prints (it reads qova_nginx_ports).
qova_nginx_launch() {
  local dir=$1 count=$2 servers=$3 try pid i
  qova_require_commands nginx
  mkdir -p "$dir/tmp"
  # Another program may take a port between the probe and the bind: then
  # nginx exits at once, and the next try takes other ports.
  for try in 1 2 3 4 5; do
    qova_nginx_ports=()
    for ((i = 0; i < count; i++)); do qova_nginx_ports+=("$(qova_free_port)"); done
    cat >"$dir/nginx.conf" <<EOF
daemon off;
user root;
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log warn;
events { worker_connections 512; }
http {
  default_type application/octet-stream;
  types { application/x-ns-proxy-autoconfig pac; }
  sendfile on;
  tcp_nodelay on;
  keepalive_timeout 65;
  keepalive_requests 100000;
  log_format qova '$qova_nginx_log_format';
  access_log $dir/access.log qova;
  client_body_temp_path $dir/tmp/body;
  proxy_temp_path $dir/tmp/proxy;
  fastcgi_temp_path $dir/tmp/fastcgi;
  uwsgi_temp_path $dir/tmp/uwsgi;
  scgi_temp_path $dir/tmp/scgi;
$("$servers")
}
EOF
    : >"$dir/access.log"
    nginx -c "$dir/nginx.conf" -p "$dir" </dev/null >>"$dir/error.log" 2>&1 &
    pid=$!
    for i in $(seq 1 50); do
      kill -0 "$pid" 2>/dev/null || break
      if python3 -c 'import socket, sys; socket.create_connection(("127.0.0.1", int(sys.argv[1])), 1).close()' "${qova_nginx_ports[count - 1]}" 2>/dev/null; then
        qova_started_pids+=("$pid")
        return 0
      fi
      sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  echo "nginx did not start (see $dir/error.log)" >&2
  return 1
}

# qova_nginx_start VAR ROOT [STATE_DIR]: serves ROOT (GET /x -> ROOT/x, byte
# ranges, ETag, Last-Modified) and exports VAR=port. STATE_DIR (default
# $build/nginx-VAR) receives nginx.conf, nginx.pid, error.log, access.log and
# the temporary directories.
qova_nginx_start() {
  local var=$1 served=$2 dir=${3:-$build/nginx-$1}
  mkdir -p "$served" "$dir"
  qova_nginx_root=$(cd "$served" && pwd)
  qova_nginx_launch "$(cd "$dir" && pwd)" 1 qova_nginx_static_server || return 1
  export "$var=${qova_nginx_ports[0]}"
}

# qova_nginx_static_server [PORT]: a server block serving $qova_nginx_root on
# PORT (default: the first of qova_nginx_ports).
qova_nginx_static_server() {
  printf '  server {\n    listen 127.0.0.1:%s;\n    root %s;\n    location / { }\n  }\n' \
    "${1:-${qova_nginx_ports[0]}}" "$qova_nginx_root"
}

# qova_nginx_static_tls_server PORT CERT: the same over TLS on PORT, with the
# certificate CERT.pem and its key CERT.key (qova_tls_issue).
qova_nginx_static_tls_server() {
  cat <<EOF
  server {
    listen 127.0.0.1:$1 ssl;
    ssl_certificate $2.pem;
    ssl_certificate_key $2.key;
    ssl_protocols TLSv1.2 TLSv1.3;
    root $qova_nginx_root;
    location / { }
  }
EOF
}

# The Windows (Wine Z:) form of a Unix path, ending in '\' for a directory.
qova_wine_path() {
  local p=${1//\//\\}
  [ -d "$1" ] && p=${p%\\}\\
  printf 'Z:%s' "$p"
}

# For scripts/test: an empty release directory served by nginx. Exports
# QOVA_TEST_NGINX (port), QOVA_TEST_NGINX_ROOT (the served directory, as a
# Windows path ending in '\', where tests lay out releases: ROOT\1\a.dll
# answers GET /1/a.dll) and QOVA_TEST_NGINX_LOG (its access log, Windows path).
qova_test_nginx_start() {
  local dir=$build/test-nginx
  rm -rf "$dir"
  mkdir -p "$dir/root"
  qova_nginx_start QOVA_TEST_NGINX "$dir/root" "$dir"
  QOVA_TEST_NGINX_ROOT=$(qova_wine_path "$dir/root")
  QOVA_TEST_NGINX_LOG=$(qova_wine_path "$dir/access.log")
  export QOVA_TEST_NGINX_ROOT QOVA_TEST_NGINX_LOG
}

# qova_tls_issue DIR NAME CA SAN [START END]: DIR/NAME.key and DIR/NAME.pem, a
# server certificate for SAN (e.g. "DNS:localhost,IP:127.0.0.1") signed by the
# CA DIR/CA.{pem,key}, valid from START to END (YYYYMMDDHHMMSSZ; default: now
# for a year).
qova_tls_issue() {
  local dir=$1 name=$2 ca=$3 san=$4 start=${5:-} end=${6:-}
  mkdir -p "$dir/$ca.db"
  [ -f "$dir/$ca.db/index.txt" ] || { : >"$dir/$ca.db/index.txt"; echo 01 >"$dir/$ca.db/serial"; }
  cat >"$dir/$ca.cnf" <<CNF
[ca]
default_ca = test
[test]
database = $dir/$ca.db/index.txt
new_certs_dir = $dir/$ca.db
serial = $dir/$ca.db/serial
default_md = sha256
default_days = 365
policy = any
copy_extensions = copy
unique_subject = no
[any]
commonName = supplied
CNF
  openssl req -new -newkey rsa:2048 -nodes -keyout "$dir/$name.key" -out "$dir/$name.csr" \
    -subj "/CN=${san#*:}" -addext "subjectAltName=$san" -addext "extendedKeyUsage=serverAuth" 2>/dev/null
  openssl ca -batch -notext -config "$dir/$ca.cnf" -cert "$dir/$ca.pem" -keyfile "$dir/$ca.key" \
    -in "$dir/$name.csr" -out "$dir/$name.pem" ${start:+-startdate $start} ${end:+-enddate $end} 2>/dev/null
}

# qova_tls_ca DIR NAME: DIR/NAME.key and DIR/NAME.pem, a self-signed CA valid
# for 30 days.
qova_tls_ca() {
  openssl req -x509 -newkey rsa:2048 -nodes -days 30 -keyout "$1/$2.key" -out "$1/$2.pem" \
    -subj "/CN=QOVA test $2" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
}

# qova_tls_trusted_ca DIR: the test CA DIR/ca.{key,pem,der}, added to the
# prefix's LocalMachine root store (TrustTestCa.exe), never the machine's.
qova_tls_trusted_ca() {
  local dir=$1
  qova_tls_ca "$dir" ca
  openssl x509 -in "$dir/ca.pem" -outform DER -out "$dir/ca.der"
  wine "$build/tests/TrustTestCa.exe" "$(qova_wine_path "$dir/ca.der")" </dev/null >"$dir/trust.log" 2>&1 ||
    { echo "TrustTestCa failed (see $dir/trust.log)" >&2; return 1; }
}

# For scripts/test: nginx terminating TLS in front of the first test server
# (QOVA_TEST_SERVER1, its faults and log included), one port per certificate:
#   QOVA_TEST_TLS            localhost, by the test CA (trusted)
#   QOVA_TEST_TLS_WRONGNAME  wrong.example, by the test CA
#   QOVA_TEST_TLS_EXPIRED    localhost, by the test CA, expired in 2021
#   QOVA_TEST_TLS_UNTRUSTED  localhost, by a CA the prefix does not trust
# The test CA goes into the prefix's LocalMachine root store (TrustTestCa.exe),
# never the machine's.
qova_test_tls_start() {
  local dir=$build/test-tls
  qova_require_commands nginx openssl
  rm -rf "$dir"
  mkdir -p "$dir"
  qova_tls_trusted_ca "$dir" || return 1
  qova_tls_ca "$dir" otherca
  qova_tls_issue "$dir" good ca "DNS:localhost,IP:127.0.0.1"
  qova_tls_issue "$dir" wrongname ca "DNS:wrong.example"
  qova_tls_issue "$dir" expired ca "DNS:localhost,IP:127.0.0.1" 20200101000000Z 20210101000000Z
  qova_tls_issue "$dir" untrusted otherca "DNS:localhost,IP:127.0.0.1"
  qova_nginx_launch "$dir" 4 qova_nginx_tls_servers || return 1
  export QOVA_TEST_TLS=${qova_nginx_ports[0]} QOVA_TEST_TLS_WRONGNAME=${qova_nginx_ports[1]}
  export QOVA_TEST_TLS_EXPIRED=${qova_nginx_ports[2]} QOVA_TEST_TLS_UNTRUSTED=${qova_nginx_ports[3]}
}

# A TLS server block per certificate, each passing every request on to the first test server.
qova_nginx_tls_servers() {
  local names=(good wrongname expired untrusted) i name dir=$build/test-tls
  for i in 0 1 2 3; do
    name=${names[i]}
    cat <<EOF
  server {
    listen 127.0.0.1:${qova_nginx_ports[i]} ssl;
    ssl_certificate $dir/$name.pem;
    ssl_certificate_key $dir/$name.key;
    ssl_protocols TLSv1.2 TLSv1.3;
    location / {
      proxy_pass http://127.0.0.1:$QOVA_TEST_SERVER1;
      proxy_http_version 1.1;
      proxy_set_header Connection "";
      proxy_buffering off;
      proxy_request_buffering off;
      proxy_read_timeout 300s;
    }
  }
EOF
  done
}
