"""Two homes on a test internet, each a LAN behind a router that translates its addresses and may
forward ports on request (miniupnpd), made with the LAN helper (lan.Lan) in the test's private
network namespace, which plays the internet's switch (at .254) and the homes' too.

    homes = Homes(h, upnp=True, natpmp=True)   # before any display, as lan.Lan
    master = homes.lan.program(homes.master)   # a program on the master's machine
    homes.outside[0]                           # "100.64.0.1": the master's router, seen outside
    homes.mappings(0)                          # [(31211, "192.168.1.10", 31211)] while mapped
    homes.wait_for_mappings(0, [])             # fails after `timeout` s unless the table empties

Home 0 is the master's (LAN 192.168.1.0/24, machine .10, router .1), home 1 the slave's
(192.168.2.0/24); the routers are .1 and .2 of the internet, `internet` (a shared range by
default, or a private one: a test's internet must not be a public range), where a STUN server
(.200 and .201) tells them that their address is their outside one, without which miniupnpd
forwards nothing on such a range. upnp and natpmp turn the daemon's two ways on; both off: no
daemon. Each home machine's default route is its router. A stranger from the internet is a
machine of its own, homes.lan.machine("100.64.0.50"): the test's namespace is on the homes' LANs
too."""

import os
import re
import subprocess

from harness.checks import WAIT, check, poll
from .lan import Lan, nft, run

LANS = ("192.168.1", "192.168.2")
# miniupnpd's rules as nft lists them: ... th dport 31211 dnat ip to 192.168.1.10:31211
MAPPED = re.compile(r"dport (\d+) dnat ip to ([\d.]+):(\d+)")


class Homes:
    def __init__(self, h, upnp=True, natpmp=True, internet="100.64.0"):
        self.lan, self.daemons = Lan(h, internet, *LANS), []
        h.cleanups.append(self.stop)
        self.folder = h.scratch
        stun = self.lan.machine(f"{internet}.200", f"{internet}.201")
        self.start(stun, ["stund", "-h", f"{internet}.200", "-a", f"{internet}.201"], "stun")
        self.routers, self.outside, machines = [], [], []
        for n, home in enumerate(LANS):
            outside = f"{internet}.{n + 1}"
            router = self.lan.machine(outside, f"{home}.1")
            run(router, "sysctl", "-q", "net.ipv4.ip_forward=1")
            # The forward chain drops what no rule or mapping lets through; lan to lan is
            # accepted for bridges whose frames netfilter sees (br_netfilter).
            nft(router, "table inet filter {\nchain forward {\ntype filter hook forward priority 0;"
                " policy drop;\nct state established,related accept\niifname eth1 accept\n"
                "jump miniupnpd\n}\nchain miniupnpd {\n}\nchain prerouting {\ntype nat hook"
                " prerouting priority -100;\njump prerouting_miniupnpd\n}\nchain postrouting {\n"
                "type nat hook postrouting priority 100;\njump postrouting_miniupnpd\n"
                "oifname eth0 masquerade\n}\nchain prerouting_miniupnpd {\n}\n"
                "chain postrouting_miniupnpd {\n}\n}\n")
            if upnp or natpmp:
                self.daemon(router, n, home, upnp, natpmp, f"{internet}.200")
            machine = self.lan.machine(f"{home}.10")
            run(machine, "ip", "route", "add", "default", "via", f"{home}.1")
            self.routers.append(router)
            self.outside.append(outside)
            machines.append(machine)
        self.master, self.slave = machines

    def start(self, machine, command, name, ready=None):
        """Starts `command` in `machine`, its output in a log of its own; with `ready`, waits
        for that text in the log."""
        log = os.path.join(self.folder, f"{name}.log")
        with open(log, "w", encoding="utf-8") as out:
            self.daemons.append(subprocess.Popen(
                ["nsenter", f"--net=/proc/{machine}/ns/net", "--", *command],
                stdout=out, stderr=subprocess.STDOUT))
        for _ in poll(WAIT, f"{name}: {ready!r} in its log") if ready else ():
            check(self.daemons[-1].poll() is None, f"{name} ended: {open(log).read()}")
            if ready in open(log, encoding="utf-8", errors="replace").read():
                break

    def daemon(self, router, n, home, upnp, natpmp, stun):
        yes = {True: "yes", False: "no"}
        conf = os.path.join(self.folder, f"miniupnpd{n}.conf")
        with open(conf, "w", encoding="utf-8") as f:
            f.write(f"ext_ifname=eth0\nlistening_ip=eth1\nport=0\nenable_upnp={yes[upnp]}\n"
                    f"enable_natpmp={yes[natpmp]}\nsecure_mode=yes\nsystem_uptime=no\n"
                    f"lease_file={self.folder}/leases{n}\nuuid=fc4ec57e-b051-11db-88f8-0060085db3f{n}\n"
                    f"ext_perform_stun=yes\next_stun_host={stun}\next_stun_port=3478\n"
                    f"allow 1024-65535 {home}.0/24 1024-65535\ndeny 0-65535 0.0.0.0/0 0-65535\n")
        ready = "Listening for NAT-PMP/PCP traffic" if natpmp else "HTTP listening on port"
        self.start(router, ["miniupnpd", "-d", "-f", conf, "-P", f"{self.folder}/miniupnpd{n}.pid"],
                   f"miniupnpd{n}", ready)

    def mappings(self, home):
        """The ports that home's router forwards: (outside port, inside address, inside port)."""
        out = run(self.routers[home], "nft", "list", "chain", "inet", "filter",
                  "prerouting_miniupnpd", capture_output=True, text=True).stdout
        return [(int(a), b, int(c)) for a, b, c in MAPPED.findall(out)]

    def wait_for_mappings(self, home, want, timeout=3):
        for _ in poll(timeout, f"router {home}'s mappings {want}"):
            if self.mappings(home) == want:
                break

    def stop(self):
        for daemon in self.daemons:
            daemon.terminate()
            try:
                daemon.wait(timeout=5)
            except subprocess.TimeoutExpired:
                daemon.kill()
                daemon.wait()
