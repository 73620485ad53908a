#!/usr/bin/env bash
# tellwind-server against clients that do not play fair, on loopback:
# - the server's memory while one client pipelines GET /healthz and never
#   reads the answers (growth in MB, after 10 s);
# - how many requests of a normal client (another loopback address) are
#   served while slowhttptest holds 300 slow POST bodies open from one address;
# - how many sign-in guesses one address gets checked per minute when it sends
#   100 at a time, each against another account.
set -eu
build=${TELLWIND_BUILD_DIR:-build}
[ -x "$build/tellwind-server" ] || { echo "hostile.sh: no $build/tellwind-server; build it first" >&2; exit 1; }
for tool in python3 slowhttptest; do
    command -v "$tool" >/dev/null || { echo "hostile.sh: $tool is missing (Debian package $tool)" >&2; exit 1; }
done
. "$(dirname "$0")/../scripts/server-process.sh"

rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }

# --- Memory under a client that never reads.
start_server pipelining --data-dir "$work/pipelining" --decoders 1
before=$(rss_kib "$server_pid")
python3 - "$port" "$server_pid" <<'PY' >"$work/pipelining.out"
import socket, sys, time
port, pid = int(sys.argv[1]), sys.argv[2]
def rss():
    with open(f"/proc/{pid}/status") as status:
        return next(int(l.split()[1]) for l in status if l.startswith("VmRSS:"))
sock = socket.create_connection(("127.0.0.1", port))
sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
sock.setblocking(False)
chunk = memoryview(b"GET /healthz HTTP/1.1\r\nHost: bench\r\n\r\n" * 65536)
sent, peak, offset, end, sample = 0, 0, 0, time.monotonic() + 10, 0
while (now := time.monotonic()) < end:
    try:
        taken = sock.send(chunk[offset:])
        sent += taken
        offset = (offset + taken) % len(chunk)
    except BlockingIOError:
        time.sleep(0.001)
    if now >= sample:
        peak, sample = max(peak, rss()), now + 0.1
print(peak, sent)
PY
read -r peak sent <"$work/pipelining.out"
after=$(rss_kib "$server_pid")
awk -v b="$before" -v p="$peak" -v a="$after" -v s="$sent" 'BEGIN {
    printf "hostile_pipelining_rss_growth_peak: %.1f MB (target < 32)\n", (p - b) / 1024
    printf "hostile_pipelining_rss_growth_after: %.1f MB\n", (a - b) / 1024
    printf "hostile_pipelining_bytes_taken: %.1f MB in 10 s\n", s / 1048576
}'
stop_server "$server_pid"

# --- A normal client while one address floods with slow bodies.
start_server flood --data-dir "$work/flood" --decoders 1
slowhttptest -B -c 300 -r 100 -i 5 -s 65536 -l 25 -t POST -u "http://127.0.0.1:$port/auth/login" \
    >"$work/slowhttptest.log" 2>&1 &
flood=$!
sleep 5 # the flood at its full 300 connections before the normal client starts
python3 - "$port" <<'PY' >"$work/flood.out"
import socket, sys, time
port = int(sys.argv[1])
served = tried = 0
end = time.monotonic() + 15
while time.monotonic() < end:
    tried += 1
    try:
        sock = socket.socket()
        sock.bind(("127.0.0.2", 0))
        sock.settimeout(2)
        sock.connect(("127.0.0.1", port))
        sock.sendall(b"GET /healthz HTTP/1.1\r\nConnection: close\r\n\r\n")
        answer = b""
        while chunk := sock.recv(4096):
            answer += chunk
        served += answer.startswith(b"HTTP/1.1 200")
        sock.close()
    except OSError:
        pass
    time.sleep(0.25)
print(served, tried)
PY
wait "$flood" || true
read -r served tried <"$work/flood.out"
grep -q "connected" "$work/slowhttptest.log" || { echo "hostile.sh: slowhttptest did not run:" >&2; cat "$work/slowhttptest.log" >&2; exit 1; }
echo "hostile_flood_normal_client_served: $served of $tried (target all)"
stop_server "$server_pid"

# --- Sign-in guesses from one address, 100 at a time.
start_server signin --data-dir "$work/signin" --decoders 1
python3 - "$port" <<'PY'
import http.client, threading, time, urllib.parse
port = int(__import__("sys").argv[1])
csrf = "c" * 43
counts, lock = {}, threading.Lock()
end = time.monotonic() + 58  # inside one window: what the limit lets through per minute
def guess(worker):
    n = 0
    while time.monotonic() < end:
        n += 1
        body = urllib.parse.urlencode({"email": f"user{worker}-{n}@example.com", "password": f"guess {n}",
                                       "action": "signin", "csrf": csrf})
        try:
            connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
            connection.request("POST", "/auth/login", body, {
                "Content-Type": "application/x-www-form-urlencoded", "Cookie": f"tellwind_csrf={csrf}"})
            status = connection.getresponse().status
            connection.close()
        except OSError:
            status = 0
        with lock:
            counts[status] = counts.get(status, 0) + 1
threads = [threading.Thread(target=guess, args=(i,)) for i in range(100)]
for thread in threads:
    thread.start()
for thread in threads:
    thread.join()
if sum(counts.values()) == 0:
    raise SystemExit("hostile.sh: no sign-in was answered")
print(f"hostile_signin_checked_per_minute: {counts.get(401, 0)} (target <= 5; 100 concurrent guesses, one address)")
print(f"hostile_signin_refused_per_minute: {counts.get(429, 0) + counts.get(503, 0)}")
PY
