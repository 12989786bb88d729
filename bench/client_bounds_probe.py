#!/usr/bin/env python3
"""Attacks one client can make on a console Morlak, each bounded in time and count and on
loopback only, with the figure each prints: non-readers, a dripping body, a cookie-less
flood, a start on a huge log file, the rolling log under load and a missing statistics file.

    bench/client_bounds_probe.py BINARY WORKDIR [attack ...]

WORKDIR is emptied and used as the program folder. Attacks: nonreaders drip flood bigstart
rolling stats (all when none is named).
"""
import os
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time

HOST = "127.0.0.1"


def free_port():
    with socket.socket() as s:
        s.bind((HOST, 0))
        return s.getsockname()[1]


def status_kib(pid, key):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return -1


def write_bytes(pid):
    with open(f"/proc/{pid}/io") as f:
        for line in f:
            if line.startswith("write_bytes:"):
                return int(line.split()[1])
    return 0


class Server:
    def __init__(self, binary, folder, settings):
        self.binary, self.folder, self.port = binary, folder, free_port()
        self.starts = 0
        settings_path = os.path.join(folder, "httpsettings.lst")
        if not os.path.exists(settings_path):
            self.start()
            self.stop()
        with open(settings_path, newline="") as f:
            lines = f.read().split("\r\n")
        for key, value in settings.items():
            lines = [f"{key}={value}" if l.startswith(key + "=") else l for l in lines]
        with open(settings_path, "w", newline="") as f:
            f.write("\r\n".join(lines))

    def start(self):
        self.out = open(os.path.join(self.folder, "console.out"), "ab")
        self.proc = subprocess.Popen(
            [self.binary, "--headless", "--data-dir", self.folder, "--http-port", str(self.port)],
            stdout=self.out, stderr=subprocess.STDOUT)
        mark = f"HTTP server started (port={self.port})".encode()
        for _ in range(600):
            with open(self.out.name, "rb") as f:
                if f.read().count(mark) > self.starts:
                    self.starts += 1
                    return self
            time.sleep(0.1)
        raise RuntimeError("server did not start")

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.out.close()

    def rss_mib(self):
        return status_kib(self.proc.pid, "VmRSS") / 1024


def get(port, path="/small.txt", timeout=2.0):
    """True when a whole answer with status 200 arrives within the time."""
    try:
        with socket.create_connection((HOST, port), timeout) as s:
            s.settimeout(timeout)
            s.sendall(f"GET {path} HTTP/1.1\r\nHost: x\r\n\r\n".encode())
            data = b""
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    break
                data += chunk
            return data.startswith(b"HTTP/1.1 200")
    except OSError:
        return False


def first_served(port, limit):
    """Seconds until a normal client is served again, or None within the limit."""
    begin = time.time()
    while time.time() - begin < limit:
        if get(port):
            return time.time() - begin
        time.sleep(1)
    return None


def site(folder, big_mib=20):
    public = os.path.join(folder, "http", "public")
    os.makedirs(public, exist_ok=True)
    with open(os.path.join(public, "small.txt"), "w") as f:
        f.write("small page\n")
    with open(os.path.join(public, "big.txt"), "w") as f:
        line = "x" * 99 + "\n"
        f.write(line * (big_mib * 1024 * 1024 // 100))


def non_reader(port, path, hold):
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    s.connect((HOST, port))
    s.sendall(f"GET {path} HTTP/1.1\r\nHost: x\r\n\r\n".encode())
    hold.append(s)


def attack_nonreaders(binary, folder):
    site(folder)
    srv = Server(binary, folder, {"maxconnections": 5}).start()
    hold = []
    for _ in range(5):
        non_reader(srv.port, "/big.txt", hold)
    time.sleep(1)
    served = first_served(srv.port, 60)
    print(f"nonreaders: 5 non-readers, maxconnections=5: normal client served after "
          f"{'%.1f s' % served if served is not None else 'never (60 s)'}")
    for s in hold:
        s.close()
    srv.stop()
    srv = Server(binary, folder, {"maxconnections": 0}).start()
    base = srv.rss_mib()
    hold = []
    for _ in range(10):
        non_reader(srv.port, "/big.txt", hold)
    peak = stalled = 0
    for second in range(1, 31):
        time.sleep(1)
        peak = max(peak, srv.rss_mib())
        if second == 15:
            stalled = srv.rss_mib()
    print(f"nonreaders: 10 non-readers of a 20 MB text page: RSS idle {base:.0f} MiB, "
          f"peak over 30 s {peak:.0f} MiB, at 15 s {stalled:.0f} MiB, "
          f"at 30 s {srv.rss_mib():.0f} MiB")
    for s in hold:
        s.close()
    srv.stop()


def attack_drip(binary, folder):
    site(folder, 1)
    srv = Server(binary, folder, {"maxconnections": 5}).start()
    stop = threading.Event()
    socks = []
    for _ in range(5):
        s = socket.create_connection((HOST, srv.port))
        s.sendall(b"POST /small.txt HTTP/1.1\r\nHost: x\r\nContent-Length: 1000\r\n\r\n")
        socks.append(s)

    def drip():
        while not stop.wait(10):
            for s in socks:
                try:
                    s.sendall(b"a")
                except OSError:
                    pass
    threading.Thread(target=drip, daemon=True).start()
    time.sleep(1)
    served = first_served(srv.port, 70)
    stop.set()
    print(f"drip: 5 bodies dripping a byte every 10 s, maxconnections=5: normal client served "
          f"after {'%.1f s' % served if served is not None else 'never (70 s)'}")
    for s in socks:
        s.close()
    srv.stop()


def attack_flood(binary, folder, seconds=60, after=90):
    site(folder, 1)
    srv = Server(binary, folder, {"maxconnections": 0, "sessiontimeout": 600000}).start()
    idle = srv.rss_mib()
    script = os.path.join(folder, "longpath.lua")
    with open(script, "w") as f:
        f.write('request = function() return wrk.format("GET", "/%s") end\n' % ("p" * 16000))
    wrk = subprocess.Popen(["wrk", "-t2", "-c16", f"-d{seconds}s", "-s", script,
                            f"http://{HOST}:{srv.port}/"], stdout=subprocess.PIPE, text=True)
    peak = 0
    while wrk.poll() is None:
        time.sleep(2)
        rss = srv.rss_mib()
        peak = max(peak, rss)
        if rss > 4096:  # the machine is shared: stop before it suffers
            wrk.kill()
            print("flood: stopped at 4 GiB")
    out = wrk.communicate()[0]
    rate = [l for l in out.splitlines() if "Requests/sec" in l]
    time.sleep(after)
    print(f"flood: {seconds} s cookie-less flood, 16,000-byte paths, sessiontimeout 600 s: "
          f"{rate[0].strip() if rate else '?'}; RSS idle {idle:.0f} MiB, peak {peak:.0f} MiB, "
          f"{after} s after {srv.rss_mib():.0f} MiB")
    srv.stop()


def attack_bigstart(binary, folder, mib=513):
    site(folder, 1)
    srv = Server(binary, folder, {"logtofile": 1, "logtofilelines": 0})
    with open(os.path.join(folder, "weblog.txt"), "w") as f:
        block = ("12/09/26 00:00:00 HTTP://127.0.0.1> 127.0.0.1:1, Anonymous> file not found /"
                 + "p" * 400 + "\r\n") * 1000
        for _ in range(mib * 1024 * 1024 // len(block)):
            f.write(block)
    srv.start()
    time.sleep(3)
    print(f"bigstart: start on a {mib} MiB log file: peak RSS "
          f"{status_kib(srv.proc.pid, 'VmHWM') / 1024:.0f} MiB, resident after start "
          f"{srv.rss_mib():.0f} MiB")
    srv.stop()
    os.remove(os.path.join(folder, "weblog.txt"))


def attack_rolling(binary, folder, seconds=10):
    site(folder, 1)
    srv = Server(binary, folder, {"logtofile": 1, "logtofilelines": 1000}).start()
    written = write_bytes(srv.proc.pid)
    out = subprocess.run(["wrk", "-t2", "-c8", f"-d{seconds}s", "--latency",
                          f"http://{HOST}:{srv.port}/small.txt"],
                         capture_output=True, text=True).stdout
    written = write_bytes(srv.proc.pid) - written
    rate = float([l for l in out.splitlines() if "Requests/sec" in l][0].split()[1])
    p50 = [l for l in out.splitlines() if l.strip().startswith("50%")]
    print(f"rolling: logtofilelines=1000: {rate:.0f} requests/s, "
          f"{written / max(rate * seconds, 1) / 1024:.1f} KiB written per request, "
          f"median latency {p50[0].split()[1] if p50 else '?'}")
    srv.stop()


def attack_stats(binary, folder):
    site(folder, 1)
    srv = Server(binary, folder, {}).start()
    for _ in range(3):
        get(srv.port)
    srv.stop()
    path = os.path.join(folder, "statconnections.lst")
    before = open(path, newline="").read()
    os.remove(os.path.join(folder, "statlist.lst"))
    srv.start()
    srv.stop()
    after = open(path, newline="").read()
    print(f"stats: statlist.lst removed: statconnections.lst before {before!r}, after a run "
          f"{after!r}")


def main():
    binary, folder = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    attacks = sys.argv[3:] or ["nonreaders", "drip", "flood", "bigstart", "rolling", "stats"]
    for name in attacks:
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        globals()["attack_" + name](binary, folder)
        sys.stdout.flush()
    shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
