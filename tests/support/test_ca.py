#!/usr/bin/env python3
"""A throwaway certificate authority for servers on this machine.

    test_ca.py DIR [--name NAME] [--host HOST ...]

Creates DIR/ca.pem (the authority's certificate, the file a client trusts),
and DIR/NAME.pem with DIR/NAME.key (a server certificate signed by it for the
given hosts: 127.0.0.1 and localhost by default), then prints one JSON object:
{"caFile": ..., "certFile": ..., "keyFile": ...}. An authority already in DIR
is reused, so several servers can share one. The authority's key stays in DIR
and nowhere else: trust in it ends when DIR is removed.

Uses the openssl command line tool; nothing is read from the network.
"""

import argparse
import ipaddress
import json
import os
import subprocess
import sys

DAYS = "7"


def run(args):
    result = subprocess.run(["openssl"] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if result.returncode != 0:
        raise RuntimeError("openssl %s failed: %s" % (args[0], result.stderr.strip()))


def subject_names(hosts):
    names = []
    for host in hosts:
        try:
            ipaddress.ip_address(host)
            names.append("IP:" + host)
        except ValueError:
            names.append("DNS:" + host)
    return ",".join(names)


def make_authority(folder):
    ca_file = os.path.join(folder, "ca.pem")
    ca_key = os.path.join(folder, "ca.key")
    if not (os.path.exists(ca_file) and os.path.exists(ca_key)):
        run(["req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
             "-keyout", ca_key, "-out", ca_file, "-days", DAYS, "-subj", "/CN=vrexa throwaway test CA",
             "-addext", "basicConstraints=critical,CA:TRUE",
             "-addext", "keyUsage=critical,keyCertSign,cRLSign"])
    return ca_file, ca_key


def make_server(folder, name, hosts, ca_file, ca_key):
    key_file = os.path.join(folder, name + ".key")
    cert_file = os.path.join(folder, name + ".pem")
    request = os.path.join(folder, name + ".csr")
    extensions = os.path.join(folder, name + ".ext")
    run(["req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
         "-keyout", key_file, "-out", request, "-subj", "/CN=" + hosts[0]])
    with open(extensions, "w") as f:
        f.write("basicConstraints=critical,CA:FALSE\n"
                "keyUsage=critical,digitalSignature\n"
                "extendedKeyUsage=serverAuth\n"
                "subjectAltName=%s\n" % subject_names(hosts))
    run(["x509", "-req", "-in", request, "-CA", ca_file, "-CAkey", ca_key, "-CAcreateserial",
         "-out", cert_file, "-days", DAYS, "-extfile", extensions])
    os.remove(request)
    os.remove(extensions)
    return cert_file, key_file


def make(folder, name="server", hosts=("127.0.0.1", "localhost")):
    os.makedirs(folder, mode=0o700, exist_ok=True)
    ca_file, ca_key = make_authority(folder)
    cert_file, key_file = make_server(folder, name, list(hosts), ca_file, ca_key)
    return {"caFile": ca_file, "certFile": cert_file, "keyFile": key_file}


def main(argv=None):
    parser = argparse.ArgumentParser(description="throwaway certificate authority for local test servers")
    parser.add_argument("dir")
    parser.add_argument("--name", default="server")
    parser.add_argument("--host", action="append", default=[])
    args = parser.parse_args(argv)
    try:
        made = make(args.dir, args.name, args.host or ["127.0.0.1", "localhost"])
    except (OSError, RuntimeError) as e:
        sys.stderr.write("test_ca.py: %s\n" % e)
        return 1
    sys.stdout.write(json.dumps(made) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
