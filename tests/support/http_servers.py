#!/usr/bin/python3
"""Web servers for the HTTP source's tests, all on 127.0.0.1 with ephemeral ports.

    http_servers.py start STATE_DIR    starts them in the background and returns when all accept
    http_servers.py stop STATE_DIR     stops them and waits until they are gone

STATE_DIR/www is the folder every server serves (the tests fill it); STATE_DIR/ports lists
"NAME PORT" for nginx, lighttpd, busybox, python, scripted and blackhole.

A supervisor process owns the servers: it runs the scripted server itself and stops everything
on `stop`, on SIGTERM, when the process that ran `start` (CTest, a benchmark) is gone, or at the
latest after four hours, so a test run that dies leaves nothing behind.

The scripted server misbehaves on request. The first path element names what it does with the
file named by the rest (/MODE/NAME):
    ok          a correct HTTP/1.0 answer
    half        the header and half of the body, then close
    status404   "404 Not Found" with a small error page
    nolength    200 without Content-Length, the body until close
    latelength  Content-Length behind 300 bytes of other header fields
    longget     the GET header is longer than the HEAD header
    headbody    the body on HEAD too (as some servers do)
    lfonly      header lines end in LF alone
    trickle     the whole response one byte per send
    huge        Content-Length: 99999999999
    negative    Content-Length: -5
    notanumber  Content-Length: 12abc
    big         Content-Length: 2000000000 (more than a handheld has), then the file
    longheader  a header that does not end within 8 KiB
    silent      accept, read the request and say nothing
    silentget   HEAD answered, GET accepted and left without an answer
    stall       GET: header and a quarter of the body, then silence
    echo        the body is the request exactly as it arrived
The blackhole port listens with a full backlog: a connect to it is never answered.
"""
import os
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


def wait_accepting(port, seconds=15):
    end = time.time() + seconds
    while time.time() < end:
        try:
            with socket.create_connection((HOST, port), timeout=1):
                return True
        except OSError:
            time.sleep(0.05)
    return False


# --- the scripted server -------------------------------------------------------------------


def read_request(conn):
    data = b""
    conn.settimeout(10)
    while b"\r\n\r\n" not in data and b"\n\n" not in data and len(data) < 65536:
        piece = conn.recv(4096)
        if not piece:
            break
        data += piece
    return data


def answer(conn, www, stop):
    request = read_request(conn)
    line = request.split(b"\r\n", 1)[0].split(b" ")
    if len(line) < 2:
        return
    method, target = line[0], line[1].decode("latin-1")
    head = method == b"HEAD"
    parts = target.lstrip("/").split("/", 1)
    mode = parts[0]
    name = parts[1] if len(parts) > 1 else ""
    try:
        with open(os.path.join(www, name), "rb") if name else open(os.devnull, "rb") as f:
            body = f.read()
    except OSError:
        body = b""

    def header(fields, status="200 OK", eol="\r\n"):
        return ("HTTP/1.0 " + status + eol + "".join(f + eol for f in fields) + eol).encode("latin-1")

    standard = ["Server: scripted", "Content-Type: application/octet-stream"]
    length = "Content-Length: %d" % len(body)

    def hold():
        # Says nothing until the client gives up (or the run ends).
        conn.settimeout(0.2)
        while not stop.is_set():
            try:
                if conn.recv(1) == b"":
                    return
            except socket.timeout:
                continue
            except OSError:
                return

    if mode == "ok":
        conn.sendall(header(standard + [length]) + (b"" if head else body))
    elif mode == "half":
        conn.sendall(header(standard + [length]) + (b"" if head else body[: len(body) // 2]))
    elif mode == "status404":
        page = b"<html><body>404 Not Found</body></html>\n"
        conn.sendall(header(["Content-Length: %d" % len(page)], "404 Not Found") + (b"" if head else page))
    elif mode == "nolength":
        conn.sendall(header(standard) + (b"" if head else body))
    elif mode == "latelength":
        filler = ["X-Filler-%02d: %s" % (i, "f" * 20) for i in range(10)]
        assert sum(len(f) + 2 for f in filler) >= 300
        conn.sendall(header(filler + [length]) + (b"" if head else body))
    elif mode == "longget":
        extra = [] if head else ["X-Get-Only-%d: %s" % (i, "g" * 40) for i in range(8)]
        conn.sendall(header(standard + extra + [length]) + (b"" if head else body))
    elif mode == "headbody":
        conn.sendall(header(standard + [length]) + body)
    elif mode == "lfonly":
        conn.sendall(header(standard + [length], eol="\n") + (b"" if head else body))
    elif mode == "trickle":
        for byte in header(standard + [length]) + (b"" if head else body):
            conn.sendall(bytes([byte]))
    elif mode == "huge":
        conn.sendall(header(["Content-Length: 99999999999"]) + (b"" if head else body))
    elif mode == "negative":
        conn.sendall(header(["Content-Length: -5"]) + (b"" if head else body))
    elif mode == "notanumber":
        conn.sendall(header(["Content-Length: 12abc"]) + (b"" if head else body))
    elif mode == "big":
        conn.sendall(header(["Content-Length: 2000000000"]) + (b"" if head else body))
    elif mode == "longheader":
        conn.sendall(header(standard + ["X-Long: " + "h" * 9000, length]) + (b"" if head else body))
    elif mode == "silent":
        hold()
    elif mode == "silentget":
        if head:
            conn.sendall(header(standard + [length]))
        else:
            hold()
    elif mode == "stall":
        conn.sendall(header(standard + [length]) + (b"" if head else body[: len(body) // 4]))
        if not head:
            hold()
    elif mode == "echo":
        conn.sendall(header(["Content-Length: %d" % len(request)]) + (b"" if head else request))
    else:
        page = b"unknown mode\n"
        conn.sendall(header(["Content-Length: %d" % len(page)], "400 Bad Request") + page)


def serve_scripted(listener, www, stop):
    listener.settimeout(0.2)
    while not stop.is_set():
        try:
            conn, _ = listener.accept()
        except socket.timeout:
            continue
        except OSError:
            return

        def run(conn=conn):
            try:
                answer(conn, www, stop)
            except OSError:
                pass
            finally:
                try:
                    conn.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
                conn.close()

        threading.Thread(target=run, daemon=True).start()


# --- the real servers ----------------------------------------------------------------------


def start_real(name, port, www, state):
    logs = os.path.join(state, name)
    os.makedirs(logs, exist_ok=True)
    if name == "nginx":
        conf = os.path.join(logs, "nginx.conf")
        with open(conf, "w") as f:
            f.write(
                "daemon off;\nmaster_process off;\nworker_processes 1;\n"
                + ("user root;\n" if os.getuid() == 0 else "")
                + "pid %s/nginx.pid;\nerror_log %s/error.log;\n" % (logs, logs)
                + "events { worker_connections 64; }\n"
                + "http {\n  access_log off;\n  sendfile on;\n"
                + "  client_body_temp_path %s; proxy_temp_path %s; fastcgi_temp_path %s;\n" % (logs, logs, logs)
                + "  uwsgi_temp_path %s; scgi_temp_path %s;\n" % (logs, logs)
                + "  server { listen %s:%d; root %s; }\n}\n" % (HOST, port, www)
            )
        command = ["/usr/sbin/nginx", "-p", logs, "-c", conf]
    elif name == "lighttpd":
        conf = os.path.join(logs, "lighttpd.conf")
        with open(conf, "w") as f:
            f.write(
                'server.document-root = "%s"\nserver.bind = "%s"\nserver.port = %d\n' % (www, HOST, port)
                + 'server.errorlog = "%s/error.log"\n' % logs
                + 'mimetype.assign = ("" => "application/octet-stream")\n'
            )
        command = ["/usr/sbin/lighttpd", "-D", "-f", conf]
    elif name == "busybox":
        command = ["/usr/bin/busybox", "httpd", "-f", "-p", "%s:%d" % (HOST, port), "-h", www]
    elif name == "python":
        command = ["/usr/bin/python3", "-m", "http.server", str(port), "--bind", HOST, "--directory", www]
    else:
        raise ValueError(name)
    out = open(os.path.join(logs, "output.log"), "wb")
    return subprocess.Popen(command, stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, cwd=logs)


def alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def supervise(state, lifetime, owner):
    www = os.path.join(state, "www")
    os.makedirs(www, exist_ok=True)
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())

    ports = {}
    children = []
    try:
        for name in ("nginx", "lighttpd", "busybox", "python"):
            port = free_port()
            children.append(start_real(name, port, www, state))
            ports[name] = port

        scripted = socket.socket()
        scripted.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        scripted.bind((HOST, 0))
        scripted.listen(16)
        ports["scripted"] = scripted.getsockname()[1]
        threading.Thread(target=serve_scripted, args=(scripted, www, stop), daemon=True).start()

        # A listener whose backlog is full and which never accepts: further connects get no answer.
        blackhole = socket.socket()
        blackhole.bind((HOST, 0))
        blackhole.listen(0)
        ports["blackhole"] = blackhole.getsockname()[1]
        fillers = []
        for _ in range(3):
            c = socket.socket()
            c.setblocking(False)
            try:
                c.connect((HOST, ports["blackhole"]))
            except BlockingIOError:
                pass
            fillers.append(c)

        for name, port in ports.items():
            if name != "blackhole" and not wait_accepting(port):
                raise RuntimeError("%s does not accept on port %d" % (name, port))
        with open(os.path.join(state, "ports.tmp"), "w") as f:
            for name, port in ports.items():
                f.write("%s %d\n" % (name, port))
        os.replace(os.path.join(state, "ports.tmp"), os.path.join(state, "ports"))

        end = time.time() + lifetime
        while not stop.is_set() and time.time() < end:
            if any(child.poll() is not None for child in children):
                break
            if owner and not alive(owner):
                break
            stop.wait(0.5)
    finally:
        stop.set()
        for child in children:
            if child.poll() is None:
                child.terminate()
        for child in children:
            try:
                child.wait(10)
            except subprocess.TimeoutExpired:
                child.kill()
                child.wait()
        try:
            os.remove(os.path.join(state, "ports"))
        except OSError:
            pass


def main():
    if len(sys.argv) < 3 or sys.argv[1] not in ("start", "stop", "supervise"):
        print(__doc__, file=sys.stderr)
        return 2
    state = os.path.abspath(sys.argv[2])
    os.makedirs(state, exist_ok=True)
    pidfile = os.path.join(state, "supervisor.pid")
    if sys.argv[1] == "supervise":
        owner = int(sys.argv[3]) if len(sys.argv) > 3 else 0
        supervise(state, 4 * 3600, owner)
        return 0
    if sys.argv[1] == "start":
        stop_supervisor(pidfile)
        for leftover in ("ports", "ports.tmp"):
            try:
                os.remove(os.path.join(state, leftover))
            except OSError:
                pass
        log = open(os.path.join(state, "supervisor.log"), "wb")
        # The servers live as long as whoever asked for them (CTest, a benchmark) at most.
        child = subprocess.Popen([sys.executable, os.path.abspath(__file__), "supervise", state, str(os.getppid())],
                                 stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                 start_new_session=True)
        with open(pidfile, "w") as f:
            f.write(str(child.pid))
        end = time.time() + 30
        while time.time() < end:
            if os.path.exists(os.path.join(state, "ports")):
                print(open(os.path.join(state, "ports")).read(), end="")
                return 0
            if child.poll() is not None:
                break
            time.sleep(0.05)
        print("http servers did not start; see " + os.path.join(state, "supervisor.log"), file=sys.stderr)
        stop_supervisor(pidfile)
        return 1
    stop_supervisor(pidfile)
    return 0


def stop_supervisor(pidfile):
    try:
        pid = int(open(pidfile).read())
    except (OSError, ValueError):
        return
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        pass
    end = time.time() + 20
    while time.time() < end:
        try:
            done, _ = os.waitpid(pid, os.WNOHANG)
            if done == pid:
                break
        except ChildProcessError:
            # Not our child (started by an earlier command): wait for it to vanish.
            try:
                os.kill(pid, 0)
                with open("/proc/%d/stat" % pid) as f:
                    if f.read().rsplit(")", 1)[1].split()[0] == "Z":
                        break
            except (ProcessLookupError, OSError):
                break
        time.sleep(0.05)
    try:
        os.remove(pidfile)
    except OSError:
        pass


if __name__ == "__main__":
    sys.exit(main())
