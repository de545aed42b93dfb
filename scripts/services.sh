#!/usr/bin/env bash
# Throwaway servers for the poller's tests: a PostgreSQL cluster and an MQTT broker, both in one
# temporary directory, reachable only on 127.0.0.1 and a Unix socket.
#
#   services.sh start DIR      initialises and starts both; writes DIR/env (shell assignments)
#   services.sh stop DIR       stops both and removes DIR
#   services.sh restart-mqtt DIR   stops the broker and starts it again on the same port
#   services.sh stop-mqtt DIR, start-mqtt DIR   the two halves of it
#
# DIR/env holds:
#   VIR05_PG_URL         postgresql://vir05@127.0.0.1:PORT/vir05 (loopback TCP)
#   VIR05_PG_SOCKET_URL  postgresql:///vir05?host=DIR/pg-socket&user=vir05 (Unix socket)
#   VIR05_MQTT_PORT      the broker's loopback port
#   VIR05_MQTT_RESTART   the command that restarts the broker
#   VIR05_MQTT_STOP, VIR05_MQTT_START   the commands that stop it and start it again
# The server runs as a non-root user: as root the cluster belongs to the system user "postgres"
# (the Debian package creates it), otherwise to the calling user.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
cmd="${1:-}"
dir="${2:-}"
if [ -z "$cmd" ] || [ -z "$dir" ]; then
  echo "usage: $0 start|stop|restart-mqtt|stop-mqtt|start-mqtt DIR" >&2
  exit 2
fi

pg_bin() {
  local d
  d="$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)"
  if [ -z "$d" ] || [ ! -x "$d/initdb" ]; then
    echo "services: PostgreSQL server binaries not found (Debian package postgresql)" >&2
    exit 1
  fi
  echo "$d"
}

# Runs a command as the cluster's owner.
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

free_port() {
  local port
  for _ in $(seq 1 200); do
    port=$((20000 + RANDOM % 40000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return 0
    fi
  done
  echo "services: no free loopback port" >&2
  return 1
}

start_mqtt() {
  local port="$1"
  # As root the broker drops to its own system user; it logs to our file through its stderr.
  setsid mosquitto -c "$dir/mosquitto.conf" </dev/null >>"$dir/mosquitto.log" 2>&1 &
  echo $! >"$dir/mosquitto.pid"
  for _ in $(seq 1 100); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  echo "services: the MQTT broker did not start on 127.0.0.1:$port" >&2
  cat "$dir/mosquitto.log" >&2 || true
  return 1
}

stop_mqtt() {
  if [ -f "$dir/mosquitto.pid" ]; then
    local pid
    pid="$(cat "$dir/mosquitto.pid")"
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 1 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    rm -f "$dir/mosquitto.pid"
  fi
}

case "$cmd" in
  start)
    if [ "$(id -u)" -eq 0 ] && ! getent passwd postgres >/dev/null; then
      useradd --system --no-create-home --shell /usr/sbin/nologin postgres
    fi
    bin="$(pg_bin)"
    mkdir -p "$dir"
    chmod 0755 "$dir"
    mkdir -p "$dir/pg-data" "$dir/pg-socket"
    if [ "$(id -u)" -eq 0 ]; then chown postgres "$dir/pg-data" "$dir/pg-socket"; fi
    chmod 0700 "$dir/pg-data"
    chmod 0777 "$dir/pg-socket"
    pg_port="$(free_port)"
    as_owner "$bin/initdb" -D "$dir/pg-data" -U vir05 --auth=trust --encoding=UTF8 \
      --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }
    as_owner "$bin/pg_ctl" -D "$dir/pg-data" -l "$dir/pg-data/server.log" -w -t 60 \
      -o "-c listen_addresses=127.0.0.1 -p $pg_port -k $dir/pg-socket -c fsync=off -c max_connections=200" \
      start >/dev/null
    as_owner "$bin/createdb" -h "$dir/pg-socket" -p "$pg_port" -U vir05 vir05

    mqtt_port="$(free_port)"
    cat >"$dir/mosquitto.conf" <<EOF
listener $mqtt_port 127.0.0.1
allow_anonymous true
persistence false
log_dest stderr
EOF
    echo "$mqtt_port" >"$dir/mqtt-port"
    start_mqtt "$mqtt_port"

    cat >"$dir/env" <<EOF
export VIR05_PG_URL='postgresql://vir05@127.0.0.1:$pg_port/vir05'
export VIR05_PG_SOCKET_URL='postgresql:///vir05?host=$dir/pg-socket&port=$pg_port&user=vir05'
export VIR05_MQTT_PORT='$mqtt_port'
export VIR05_MQTT_RESTART='bash $here/services.sh restart-mqtt $dir'
export VIR05_MQTT_STOP='bash $here/services.sh stop-mqtt $dir'
export VIR05_MQTT_START='bash $here/services.sh start-mqtt $dir'
EOF
    ;;
  stop)
    stop_mqtt
    if [ -d "$dir/pg-data" ]; then
      bin="$(pg_bin)"
      as_owner "$bin/pg_ctl" -D "$dir/pg-data" -m immediate -w stop >/dev/null 2>&1 || true
    fi
    rm -rf "$dir"
    ;;
  restart-mqtt)
    stop_mqtt
    start_mqtt "$(cat "$dir/mqtt-port")"
    ;;
  stop-mqtt)
    stop_mqtt
    ;;
  start-mqtt)
    start_mqtt "$(cat "$dir/mqtt-port")"
    ;;
  *)
    echo "usage: $0 start|stop|restart-mqtt|stop-mqtt|start-mqtt DIR" >&2
    exit 2
    ;;
esac
