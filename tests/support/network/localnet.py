#!/usr/bin/env python3
"""The local download network: real servers on 127.0.0.1 for tests, demos and
benchmarks.

    localnet.py start --tree PUBLISHED_DIR [options]   starts it, prints its addresses
    localnet.py stop NETWORK_DIR                        stops it and removes NETWORK_DIR

What runs (all unprivileged, on free ports of 127.0.0.1):
  - nginx serving the published tree as the manifest cache host ("/manifests/",
    "/nodes/") and as N download nodes (each on its own port, serving
    "/packages/...");
  - the receiver: the transfer and events analytics endpoints, which record
    every POST, and the geolocation answer at <events>/geo-location;
  - optionally faulty nodes: the fault-injecting test server serving the same
    tree with the faults it is told to inject;
  - optionally a watchdog that stops everything when a given process ends, so a
    crashed test leaves nothing running.

Everything the network writes lives in its own folder (configuration, pid
files, logs, temporary files, the node lists it serves, the analytics records);
the published tree is only read. When --partner is given, the network serves for
that partner a node list of its own nodes (written by the publisher, so the
format is the one the engine reads) in place of the tree's.
"""

import argparse
import json
import os
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
import test_ca  # noqa: E402  (beside the test server, one folder up)
STARTUP_SECONDS = 20
STOP_SECONDS = 10
BIND_ATTEMPTS = 5


class NetworkError(Exception):
    pass


def free_ports(count):
    """Ports that were free a moment ago. The sockets are held together so the
    ports are distinct; nginx may still lose a race for one, which start()
    answers by trying again with new ports."""
    sockets = []
    try:
        for _ in range(count):
            sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            sock.bind(("127.0.0.1", 0))
            sockets.append(sock)
        return [sock.getsockname()[1] for sock in sockets]
    finally:
        for sock in sockets:
            sock.close()


def wait_for_exit(pid, seconds=None):
    """Waits until a process that is not our child has ended (seconds None: for
    as long as it takes); True when it has."""
    deadline = None if seconds is None else time.monotonic() + seconds
    try:
        fd = os.pidfd_open(pid)
    except ProcessLookupError:
        return True
    except (AttributeError, OSError):
        fd = None
    if fd is not None:
        try:
            ready, _, _ = select.select([fd], [], [], seconds)
            return bool(ready)
        finally:
            os.close(fd)
    while deadline is None or time.monotonic() < deadline:  # kernels without pidfd
        if not process_alive(pid):
            return True
        time.sleep(0.05)
    return not process_alive(pid)


def process_stat(pid):
    """(state, process group) of a process from /proc, None when it is gone."""
    try:
        with open("/proc/%d/stat" % pid, "rb") as stat:
            text = stat.read()
    except OSError:
        return None
    # The command name is in parentheses and may itself contain them.
    fields = text[text.rfind(b")") + 2:].split()
    return fields[0].decode(), int(fields[2])


def process_alive(pid):
    """An ended process that its parent has not reaped yet counts as ended:
    orphans go to an init that may take seconds to reap them."""
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    stat = process_stat(pid)
    return stat is None or stat[0] not in ("Z", "X")


def owned_by_network(pid, network_dir):
    """A pid read from a file may have been reused; only a process whose
    command line names this network's folder is ours to signal."""
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as cmdline:
            return network_dir.encode() in cmdline.read()
    except OSError:
        return False


def read_line(stream, seconds):
    deadline = time.monotonic() + seconds
    line = b""
    fd = stream.fileno()
    while not line.endswith(b"\n"):
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            break
        ready, _, _ = select.select([fd], [], [], remaining)
        if not ready:
            break
        chunk = os.read(fd, 1)
        if not chunk:
            break
        line += chunk
    return line.decode("utf-8", "replace").strip()


def tail(path, lines=20):
    try:
        with open(path, encoding="utf-8", errors="replace") as log:
            return "".join(log.readlines()[-lines:])
    except OSError:
        return ""


def nginx_quote(text):
    """A configuration value as one nginx string, whatever it holds."""
    return '"%s"' % text.replace("\\", "\\\\").replace('"', '\\"')


def nginx_root(path):
    """A folder for a root: quoted, and with every "$" read from a variable
    that holds one, since nginx takes "$" in a root for a variable and has
    no escape for it."""
    return nginx_quote(path.replace("$", "${vrexa_dollar}"))


def nginx_config(tree, overlay, manifest_port, node_ports, tls=None):
    """One server for the manifest cache host and one per download node, all
    serving the same read-only tree; node lists are looked up in the
    network's own folder first.

    Folders may have any name (spaces, quotes, semicolons, "$"): the
    network's own files are named relative to its folder, which nginx gets on
    its command line as the prefix, and the roots are quoted."""
    q = nginx_quote

    user = ""
    if os.geteuid() == 0:
        # A master started as root hands its workers to "nobody", who may not
        # read the tree; keep them as the user who started the network.
        import pwd
        import grp
        user = "user %s %s;\n" % (q(pwd.getpwuid(os.getuid()).pw_name), q(grp.getgrgid(os.getgid()).gr_name))
    temp_paths = "".join(
        "  %s_temp_path %s;\n" % (kind, q("tmp/" + kind))
        for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
    listen_ssl = " ssl" if tls else ""
    tls_lines = ""
    if tls:
        tls_lines = "  ssl_certificate %s;\n  ssl_certificate_key %s;\n" % (q(tls["certFile"]), q(tls["keyFile"]))
    node_servers = "".join(
        "  server {\n"
        "    listen 127.0.0.1:%d%s;\n"
        "    root %s;\n"
        "  }\n" % (port, listen_ssl, nginx_root(tree)) for port in node_ports)
    return (
        "%s"
        "worker_processes 1;\n"
        "daemon on;\n"
        "pid %s;\n"
        "error_log %s warn;\n"
        "events { worker_connections 512; }\n"
        "http {\n"
        "  geo $vrexa_dollar { default \"$\"; }\n"
        "  types { application/xml xml; application/json json; }\n"
        "  default_type application/octet-stream;\n"
        "  log_format node '$server_port $remote_addr \"$request\" $status $body_bytes_sent \"$http_range\" "
        "$msec $request_time $connection $connection_requests';\n"
        "  access_log %s node;\n"
        "  sendfile on;\n"
        "  keepalive_timeout 30;\n"
        "%s"
        "%s"
        "  server {\n"
        "    listen 127.0.0.1:%d%s;\n"
        "    root %s;\n"
        "    location /nodes/ {\n"
        "      root %s;\n"
        "      try_files $uri @tree;\n"
        "    }\n"
        "    location @tree {\n"
        "      root %s;\n"
        "    }\n"
        "  }\n"
        "%s"
        "}\n" % (user, q("nginx.pid"), q("logs/error.log"), q("logs/access.log"),
                 temp_paths, tls_lines, manifest_port, listen_ssl, nginx_root(tree), nginx_root(overlay),
                 nginx_root(tree), node_servers))


def write_geolocation(path, country):
    answer = {
        "ip": "127.0.0.1",
        "country_code": country,
        "country_name": "",
        "country_code3": "",
        "continent_code": "",
        "isp": "vrexa local network",
    }
    with open(path + ".new", "w", encoding="utf-8") as out:
        json.dump(answer, out)
    os.replace(path + ".new", path)


def set_country(network_dir, country):
    """Changes the geolocation answer of a running network."""
    write_geolocation(os.path.join(network_dir, "geo-location.json"), country)


def write_node_lists(publisher, partners, overlay, nodes):
    node_args = []
    for node in nodes:
        node_args += ["--node", "%s=%s%s" % (node["id"], node["host"], node["path"])]
    for partner in partners:
        result = subprocess.run(
            [publisher, "--nodes-only", "--partner", partner] + node_args + [overlay],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        if result.returncode != 0:
            raise NetworkError("the publisher could not write the node list of %s: %s"
                               % (partner, result.stderr.strip()))


def spawn(args, log_path, stdout=None):
    """A server of the network: its own session (a terminal's signals do not
    reach it), no inherited descriptors, output into its log."""
    with open(log_path, "ab") as log:
        return subprocess.Popen(args, stdin=subprocess.DEVNULL,
                                stdout=stdout if stdout is not None else log, stderr=log,
                                start_new_session=True, close_fds=True)


def tls_args(state):
    """What a Python server of the network needs to speak HTTPS, if it does."""
    tls = state.get("tls")
    return ["--tls-cert", tls["certFile"], "--tls-key", tls["keyFile"]] if tls else []


def scheme(state):
    """In front of a URL."""
    return "https://" if state.get("tls") else "http://"


def host_prefix(state):
    """In front of a host: a plain one is named without its scheme."""
    return "https://" if state.get("tls") else ""


def start_receiver(network_dir, state):
    process = spawn([sys.executable, os.path.join(HERE, "receiver.py"),
                     "--endpoint", "transfer=0", "--endpoint", "events=0",
                     "--records", state["analyticsRecords"],
                     "--geo-file", state["geolocationFile"]] + tls_args(state),
                    os.path.join(network_dir, "logs", "receiver.log"), stdout=subprocess.PIPE)
    state["pids"]["receiver"] = process.pid
    save_state(network_dir, state)
    line = read_line(process.stdout, STARTUP_SECONDS)
    process.stdout.close()
    if not line.startswith("READY "):
        raise NetworkError("the analytics receiver did not start:\n"
                           + tail(os.path.join(network_dir, "logs", "receiver.log")))
    ports = dict(item.split("=", 1) for item in line[len("READY "):].split())
    state["transferAnalyticsUrl"] = scheme(state) + "127.0.0.1:%s" % ports["transfer"]
    state["eventsAnalyticsUrl"] = scheme(state) + "127.0.0.1:%s" % ports["events"]
    state["geolocationUrl"] = state["eventsAnalyticsUrl"] + "/geo-location"


def start_nginx(network_dir, tree, node_count, faulty_nodes, publisher, partners, shapes, state):
    overlay = os.path.join(network_dir, "overlay")
    conf = os.path.join(network_dir, "nginx.conf")
    log = os.path.join(network_dir, "logs", "nginx-start.log")
    for _ in range(BIND_ATTEMPTS):
        ports = free_ports(node_count + 1)
        nodes = [{"id": "node%d" % (index + 1), "host": host_prefix(state) + "127.0.0.1:%d" % port,
                  "path": "/packages/", "faulty": False}
                 for index, port in enumerate(ports[1:])]
        with open(conf, "w", encoding="utf-8") as out:
            out.write(nginx_config(tree, overlay, ports[0], ports[1:], state.get("tls")))
        with open(log, "wb") as out:
            result = subprocess.run(["nginx", "-p", network_dir + "/", "-c", conf, "-e", "logs/error.log"],
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=out)
        if result.returncode == 0:
            with open(os.path.join(network_dir, "nginx.pid"), encoding="ascii") as pid_file:
                state["pids"]["nginx"] = int(pid_file.read().strip())
            save_state(network_dir, state)
            state["manifestHost"] = host_prefix(state) + "127.0.0.1:%d" % ports[0]
            # A shaped node is reached through its proxy; nginx reads the
            # node lists at each request, so they may follow its start.
            start_shapers(network_dir, nodes, shapes, state)
            nodes += faulty_nodes
            state["nodes"] = nodes
            if partners:
                write_node_lists(publisher, partners, overlay, nodes)
            return
        if "Address already in use" not in tail(log) + tail(os.path.join(network_dir, "logs", "error.log")):
            break
    raise NetworkError("nginx did not start:\n" + tail(log) + tail(os.path.join(network_dir, "logs", "error.log")))


def published_paths(tree):
    """The URL paths of every file under the tree's packages folder, in the
    spellings a client may send: as is, and percent-encoded."""
    paths = set()
    packages = os.path.join(tree, "packages")
    for folder, _, files in os.walk(packages):
        for name in files:
            relative = os.path.relpath(os.path.join(folder, name), tree).replace(os.sep, "/")
            path = "/" + relative
            paths.add(path)
            paths.add(urllib.parse.quote(path, safe="/!$&'()*+,;=:@~"))
            paths.add(urllib.parse.quote(path))
    return sorted(paths)


SHAPE_KEYS = {"rate", "delay_ms", "reset_share", "seed"}


def check_shape(shape):
    """A node's shaping as start takes it, or NetworkError saying what is wrong."""
    if not isinstance(shape, dict):
        raise NetworkError("a shape is a JSON object, not %r" % (shape,))
    unknown = sorted(set(shape) - SHAPE_KEYS)
    if unknown:
        raise NetworkError("a shape knows %s, not %s" % (", ".join(sorted(SHAPE_KEYS)), ", ".join(unknown)))
    for key in ("rate", "delay_ms", "reset_share"):
        value = shape.get(key, 0)
        if isinstance(value, bool) or not isinstance(value, (int, float)) or not value >= 0:
            raise NetworkError("the shape's %s must be a number of at least 0, not %r" % (key, value))
    if shape.get("reset_share", 0) > 1:
        raise NetworkError("the shape's reset_share is a share between 0 and 1, not %r" % shape["reset_share"])
    if "seed" in shape and (isinstance(shape["seed"], bool) or not isinstance(shape["seed"], int)):
        raise NetworkError("the shape's seed must be a whole number, not %r" % (shape["seed"],))
    return shape


def start_shapers(network_dir, nodes, shapes, state):
    """Puts a shaping proxy (shaper.py) in front of the first len(shapes)
    nodes, in order: the node's host becomes the proxy's, and the node
    records its shape and its own port."""
    for node, shape in zip(nodes, shapes):
        name = "shaper-" + node["id"]
        log = os.path.join(network_dir, "logs", name + ".log")
        upstream = int(node["host"].rsplit(":", 1)[1])
        args = [sys.executable, os.path.join(HERE, "shaper.py"), "--upstream-port", str(upstream),
                "--rate", repr(float(shape.get("rate", 0))), "--delay-ms", repr(float(shape.get("delay_ms", 0))),
                "--reset-share", repr(float(shape.get("reset_share", 0))), "--network-dir", network_dir]
        if "seed" in shape:
            args += ["--seed", str(shape["seed"])]
        if state.get("tls"):
            args.append("--tls")
        else:
            args += ["--record", os.path.join(network_dir, "logs", name + ".jsonl")]
        process = spawn(args, log, stdout=subprocess.PIPE)
        state["pids"][name] = process.pid
        save_state(network_dir, state)
        line = read_line(process.stdout, STARTUP_SECONDS)
        process.stdout.close()
        if not line.startswith("READY "):
            raise NetworkError("the shaping proxy of %s did not start:\n%s" % (node["id"], tail(log)))
        node["host"] = host_prefix(state) + "127.0.0.1:%d" % int(line.split()[1])
        node["shape"] = dict(shape)
        node["upstreamPort"] = upstream


def set_node(network_dir, node_id, up):
    """Takes a shaped node of a running network down (its connections are
    reset, new ones refused) or brings it back up."""
    with open(os.path.join(network_dir, "network.json"), encoding="utf-8") as state_file:
        state = json.load(state_file)
    pid = state.get("pids", {}).get("shaper-" + node_id)
    if pid is None:
        raise NetworkError("%s is not a shaped node of this network" % node_id)
    if not owned_by_network(pid, os.path.abspath(network_dir)):
        raise NetworkError("the shaping proxy of %s is not running" % node_id)
    os.kill(pid, signal.SIGUSR2 if up else signal.SIGUSR1)


def start_faulty_nodes(network_dir, tree, count, faults, state):
    """One fault-injecting test server per faulty node, serving the tree with
    `faults` (fault objects of that server, applied in order) queued for every
    published file. Files published after the start are served without
    faults."""
    faulty = []
    if count == 0:
        return faulty
    server = os.path.join(os.path.dirname(HERE), "test_http_server.py")
    if not os.path.exists(server):
        raise NetworkError("the fault-injecting test server %s is missing" % server)
    fault_list = [dict(fault, path=path) for path in published_paths(tree) for fault in faults]
    faults_file = os.path.join(network_dir, "faults.json")
    with open(faults_file, "w", encoding="utf-8") as out:
        json.dump(fault_list, out)
    for index in range(count):
        name = "faulty%d" % (index + 1)
        log = os.path.join(network_dir, "logs", name + ".log")
        process = spawn([sys.executable, server, "--root", tree, "--port", "0", "--faults", faults_file]
                        + tls_args(state),
                        log, stdout=subprocess.PIPE)
        state["pids"][name] = process.pid
        save_state(network_dir, state)
        line = read_line(process.stdout, STARTUP_SECONDS)
        process.stdout.close()
        try:
            port = int(json.loads(line)["port"])
        except (ValueError, KeyError, TypeError):
            raise NetworkError("the faulty node %s did not start:\n%s" % (name, tail(log)))
        faulty.append({"id": name, "host": host_prefix(state) + "127.0.0.1:%d" % port, "path": "/packages/",
                       "faulty": True})
    return faulty


def start_watchdog(network_dir, watch_pid, state):
    process = spawn([sys.executable, os.path.abspath(__file__), "watch", network_dir,
                     str(watch_pid)], os.path.join(network_dir, "logs", "watchdog.log"))
    state["pids"]["watchdog"] = process.pid


def save_state(network_dir, state):
    path = os.path.join(network_dir, "network.json")
    with open(path + ".new", "w", encoding="utf-8") as out:
        json.dump(state, out, indent=2, sort_keys=True)
    os.replace(path + ".new", path)


def start(tree, nodes=2, faulty=0, faults=(), partners=(), publisher=None,
          country="SE", network_dir=None, watch_pid=None, tls=False, shapes=()):
    """Starts a network and returns its description (also in network.json).
    shapes: the shaping of the first nodes, in node order (see shaper.py)."""
    tree = os.path.abspath(tree)
    if not os.path.isdir(tree):
        raise NetworkError("the published tree %s is not a folder" % tree)
    if nodes < 1 and faulty < 1:
        raise NetworkError("a network needs at least one node")
    if partners and not publisher:
        raise NetworkError("--partner needs --publisher (the vrexa-publish program)")
    if len(country) != 2:
        raise NetworkError("a country code has two letters, not %r" % country)
    shapes = [check_shape(shape) for shape in shapes]
    if len(shapes) > nodes:
        raise NetworkError("%d shapes for %d nginx nodes" % (len(shapes), nodes))

    if network_dir is None:
        network_dir = tempfile.mkdtemp(prefix="vrexa-net-")
    else:
        network_dir = os.path.abspath(network_dir)
        os.makedirs(network_dir, exist_ok=True)
        if os.listdir(network_dir):
            raise NetworkError("the network folder %s is not empty" % network_dir)
    os.chmod(network_dir, 0o755)
    for sub in ("logs", "tmp", os.path.join("overlay", "nodes")):
        os.makedirs(os.path.join(network_dir, sub), exist_ok=True)

    state = {
        "dir": network_dir,
        "tree": tree,
        "pids": {},
        "analyticsRecords": os.path.join(network_dir, "analytics.jsonl"),
        "geolocationFile": os.path.join(network_dir, "geo-location.json"),
        "country": country,
        "partners": list(partners),
    }
    try:
        # The watchdog comes first and the state is saved after every server
        # started, so that whatever has started is stopped once the owner
        # ends, even when this start is killed part way.
        save_state(network_dir, state)
        if watch_pid:
            start_watchdog(network_dir, watch_pid, state)
            save_state(network_dir, state)
        if tls:
            # A throwaway authority of this network alone: its key goes with
            # the network's folder when the network stops.
            state["tls"] = test_ca.make(os.path.join(network_dir, "tls"), "servers")
            state["caFile"] = state["tls"]["caFile"]
            save_state(network_dir, state)
        write_geolocation(state["geolocationFile"], country)
        start_receiver(network_dir, state)
        faulty_nodes = start_faulty_nodes(network_dir, tree, faulty, list(faults), state)
        start_nginx(network_dir, tree, nodes, faulty_nodes, publisher, list(partners), list(shapes), state)
        save_state(network_dir, state)
    except BaseException:
        save_state(network_dir, state)
        stop(network_dir)
        raise
    return state


def group_alive(group):
    """True while a process of the group runs; unreaped ones do not count
    (see process_alive)."""
    try:
        os.killpg(group, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            stat = process_stat(int(entry))
            if stat is not None and stat[1] == group and stat[0] not in ("Z", "X"):
                return True
    return False


def wait_for_group_exit(group, seconds):
    """Waits until no process of the group is left; True when none is."""
    deadline = time.monotonic() + seconds
    while group_alive(group):
        if time.monotonic() >= deadline:
            return False
        time.sleep(0.02)
    return True


def signal_group(group, signals):
    for number in signals:
        try:
            os.killpg(group, number)
        except ProcessLookupError:
            return


def stop_server(pid, network_dir):
    """Stops one server with every process of its group (nginx's workers, a
    server's children). Each server leads a session of its own, so its group
    is its pid. False when something would not end."""
    if pid == os.getpid():
        return True
    if process_alive(pid):
        if not owned_by_network(pid, network_dir):
            return True  # the pid was reused: the server itself is gone
    elif not group_alive(pid):
        return True
    # A leader that is gone leaves its group behind (workers of a killed
    # master); the group's id cannot be reused while any of it lives, so
    # whatever is in it is still ours. SIGCONT lets stopped processes take
    # the SIGTERM.
    signal_group(pid, (signal.SIGTERM, signal.SIGCONT))
    if wait_for_group_exit(pid, STOP_SECONDS):
        return True
    signal_group(pid, (signal.SIGKILL,))
    return wait_for_group_exit(pid, STOP_SECONDS)


def stop(network_dir):
    """Stops every server of the network and removes its folder. Stopping a
    network that is already gone is not an error."""
    network_dir = os.path.abspath(network_dir)
    try:
        with open(os.path.join(network_dir, "network.json"), encoding="utf-8") as state_file:
            state = json.load(state_file)
    except FileNotFoundError:
        return
    pids = dict(state.get("pids", {}))
    # The watchdog goes first so it does not race this stop with its own.
    order = sorted(pids, key=lambda name: name != "watchdog")
    stuck = ["%s (%d)" % (name, pids[name]) for name in order if not stop_server(pids[name], network_dir)]
    if stuck:
        raise NetworkError("could not stop " + ", ".join(stuck))
    shutil.rmtree(network_dir, ignore_errors=True)


def watch(network_dir, pid):
    """Stops the network once the process it serves has ended."""
    wait_for_exit(pid)
    stop(network_dir)


def print_addresses(state, as_json):
    if as_json:
        sys.stdout.write(json.dumps(state, sort_keys=True) + "\n")
        return
    lines = [
        ("VREXA_NETWORK_DIR", state["dir"]),
        ("VREXA_MANIFEST_HOST", state["manifestHost"]),
        ("VREXA_GEOLOCATION_URL", state["geolocationUrl"]),
        ("VREXA_TRANSFER_ANALYTICS_URL", state["transferAnalyticsUrl"]),
        ("VREXA_EVENTS_ANALYTICS_URL", state["eventsAnalyticsUrl"]),
        ("VREXA_ANALYTICS_RECORDS", state["analyticsRecords"]),
        ("VREXA_NODES", " ".join("%s=%s%s" % (n["id"], n["host"], n["path"]) for n in state["nodes"])),
    ]
    if state.get("caFile"):
        lines.append(("VREXA_CA_FILE", state["caFile"]))
    for key, value in lines:
        sys.stdout.write("%s='%s'\n" % (key, value.replace("'", "'\\''")))


def main(argv=None):
    parser = argparse.ArgumentParser(
        description="The local download network: nginx as manifest cache host and download "
                    "nodes, an analytics receiver, a geolocation answer and faulty nodes.")
    commands = parser.add_subparsers(dest="command", required=True)

    start_cmd = commands.add_parser(
        "start", help="start a network and print its addresses",
        description="Starts the network and prints its addresses as shell assignments "
                    "(or one JSON object with --json). Stop it with: localnet.py stop DIR.")
    start_cmd.add_argument("--tree", required=True,
                           help="the published tree (OUTPUT_DIR of vrexa-publish)")
    start_cmd.add_argument("--nodes", type=int, default=2, help="download nodes served by nginx (default 2)")
    start_cmd.add_argument("--faulty", type=int, default=0,
                           help="faulty nodes served by the fault-injecting test server (default 0)")
    start_cmd.add_argument("--fault", action="append", default=[], metavar="JSON",
                           help="a fault of the fault-injecting test server as a JSON object, e.g. "
                                "'{\"status\": 503}' or '{\"cutAfter\": 100, \"times\": 2}'; queued in order "
                                "for every published file on every faulty node (repeatable)")
    start_cmd.add_argument("--shape", action="append", default=[], metavar="JSON",
                           help="shape the next nginx node (first node1, then node2, ...) as a node far "
                                "away: '{\"rate\": BYTES_PER_S, \"delay_ms\": N, \"reset_share\": F}'. The rate "
                                "is shared by all of the node's connections (its uplink; 0 or absent: "
                                "unlimited); every request waits delay_ms before it reaches the node, and "
                                "every new connection once more; a share F of the connections is reset in "
                                "the middle of its first answer (\"seed\": N makes that choice repeatable). "
                                "A shaped node is served through a proxy; 'localnet.py node DIR ID "
                                "down|up' takes it down and back (repeatable)")
    start_cmd.add_argument("--partner", action="append", default=[],
                           help="serve this partner a node list of the network's nodes (repeatable)")
    start_cmd.add_argument("--publisher", help="the vrexa-publish program, which writes those node lists")
    start_cmd.add_argument("--country", default="SE", help="country of the geolocation answer (default SE)")
    start_cmd.add_argument("--dir", help="the network's own folder (default: a new temporary folder)")
    start_cmd.add_argument("--watch-pid", type=int,
                           help="stop the network by itself when this process ends")
    start_cmd.add_argument("--json", action="store_true", help="print the addresses as one JSON object")
    start_cmd.add_argument("--tls", action="store_true",
                           help="every server speaks HTTPS with a certificate from a throwaway authority "
                                "made for this network; its certificate is printed as VREXA_CA_FILE")

    stop_cmd = commands.add_parser("stop", help="stop a network and remove its folder")
    stop_cmd.add_argument("dir", help="the network folder that start printed")

    country_cmd = commands.add_parser("country", help="change the geolocation answer of a running network")
    country_cmd.add_argument("dir")
    country_cmd.add_argument("code")

    node_cmd = commands.add_parser("node", help="take a shaped node of a running network down or back up",
                                   description="down: the node's open connections are reset and new ones "
                                               "refused; up: it listens again on the same port.")
    node_cmd.add_argument("dir")
    node_cmd.add_argument("id", help="the node's id, e.g. node1")
    node_cmd.add_argument("state", choices=("down", "up"))

    watch_cmd = commands.add_parser("watch", help=argparse.SUPPRESS)
    watch_cmd.add_argument("dir")
    watch_cmd.add_argument("pid", type=int)

    args = parser.parse_args(argv)
    try:
        if args.command == "start":
            faults = []
            for text in args.fault:
                try:
                    fault = json.loads(text)
                except ValueError as error:
                    raise NetworkError("--fault %s is not JSON: %s" % (text, error))
                if not isinstance(fault, dict):
                    raise NetworkError("--fault %s is not a JSON object" % text)
                faults.append(fault)
            shapes = []
            for text in args.shape:
                try:
                    shapes.append(json.loads(text))
                except ValueError as error:
                    raise NetworkError("--shape %s is not JSON: %s" % (text, error))
            state = start(args.tree, nodes=args.nodes, faulty=args.faulty, faults=faults,
                          partners=args.partner, publisher=args.publisher, country=args.country,
                          network_dir=args.dir, watch_pid=args.watch_pid, tls=args.tls, shapes=shapes)
            print_addresses(state, args.json)
        elif args.command == "stop":
            stop(args.dir)
        elif args.command == "country":
            set_country(args.dir, args.code)
        elif args.command == "node":
            set_node(args.dir, args.id, args.state == "up")
        elif args.command == "watch":
            watch(args.dir, args.pid)
    except NetworkError as error:
        sys.stderr.write("localnet: %s\n" % error)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
