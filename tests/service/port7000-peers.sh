# Sourced by the root-only scripts here: the two ends of a loopback connection on port 7000, the
# port their rules name. Both are python3 and owned by root.
#   serve_port7000 DIR      a server that holds every connection until it is reset; returns once
#                           it listens (fails the script otherwise). Its PID in $server_pid.
#   connect_port7000 OUT S  a client that waits up to S seconds and writes what became of its
#                           connection to OUT: reset, closed, data or timeout. Its PID in $client_pid.
# The caller defines fail().

serve_port7000() {
    python3 - "$1/ready" <<'PY' &
import socket, sys
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", 7000)); s.listen(16)
open(sys.argv[1], "w").close()
held = []
while True:
    c, _ = s.accept(); held.append(c)
PY
    server_pid=$!
    for _ in $(seq 50); do [ -e "$1/ready" ] && return 0; sleep 0.1; done
    fail "the server did not start"
}

connect_port7000() {
    python3 - "$1" "$2" <<'PY' &
import socket, sys
c = socket.create_connection(("127.0.0.1", 7000))
try:
    c.settimeout(float(sys.argv[2]))
    outcome = "closed" if c.recv(1) == b"" else "data"
except (ConnectionResetError, ConnectionAbortedError):  # a destroyed socket aborts
    outcome = "reset"
except socket.timeout:
    outcome = "timeout"
open(sys.argv[1], "w").write(outcome)
PY
    client_pid=$!
}
