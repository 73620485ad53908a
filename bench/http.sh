#!/usr/bin/env bash
# tellwind-server's HTTP handling without speech: every request passes the
# connection guard's strict reading and its hand-over to the HTTP layer.
# Requests per second and latency on kept-alive connections, pipelined
# requests, and a fresh connection per request.
set -eu
build=${TELLWIND_BUILD_DIR:-build}
. "$(dirname "$0")/../scripts/server-process.sh"
start_server server --data-dir "$work/data" --decoders 1

python3 - "$port" <<'PY'
import socket, sys, time

port = int(sys.argv[1])
request = b"GET /healthz HTTP/1.1\r\nHost: bench\r\n\r\n"
answer_size = None

def read_answers(sock, count):
    global answer_size
    data = b""
    if answer_size is None:
        while b"\r\n\r\n" not in data:
            data += sock.recv(65536)
        head, _, rest = data.partition(b"\r\n\r\n")
        length = int([l.split(b":")[1] for l in head.split(b"\r\n") if l.lower().startswith(b"content-length")][0])
        answer_size = len(head) + 4 + length
    while len(data) < answer_size * count:
        chunk = sock.recv(65536)
        if not chunk:
            raise SystemExit("connection closed early")
        data += chunk

sock = socket.create_connection(("127.0.0.1", port))
sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
latencies = []
rounds = 2000
start = time.perf_counter()
for _ in range(rounds):
    t = time.perf_counter()
    sock.sendall(request)
    read_answers(sock, 1)
    latencies.append(time.perf_counter() - t)
elapsed = time.perf_counter() - start
latencies.sort()
print(f"http_keepalive_requests_per_second: {rounds / elapsed:.0f}")
print(f"http_keepalive_p50_ms: {latencies[len(latencies) // 2] * 1000:.2f}")
print(f"http_keepalive_p99_ms: {latencies[int(len(latencies) * 0.99)] * 1000:.2f}")

batch = 200
start = time.perf_counter()
for _ in range(10):
    sock.sendall(request * batch)
    read_answers(sock, batch)
elapsed = time.perf_counter() - start
print(f"http_pipelined_requests_per_second: {10 * batch / elapsed:.0f}")
sock.close()

rounds = 500
start = time.perf_counter()
for _ in range(rounds):
    fresh = socket.create_connection(("127.0.0.1", port))
    fresh.sendall(b"GET /healthz HTTP/1.1\r\nConnection: close\r\n\r\n")
    while fresh.recv(65536):
        pass
    fresh.close()
elapsed = time.perf_counter() - start
print(f"http_new_connection_requests_per_second: {rounds / elapsed:.0f}")
PY
