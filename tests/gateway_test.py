#!/usr/bin/env python3
"""qx4-mqtt end to end: a real mosquitto on 127.0.0.1 (own configuration, free ports,
password file, TLS listener with certificates made here by openssl), qx4sim as the reader,
paho-mqtt as the peer."""
import getpass
import json
import os
import pty
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import paho.mqtt.client as mqtt
from paho.mqtt.packettypes import PacketTypes
from paho.mqtt.properties import Properties

BUILD = sys.argv.pop(1) if len(sys.argv) > 1 else "build"
GATEWAY = os.path.join(BUILD, "gateway", "qx4-mqtt")
QX4 = os.path.join(BUILD, "cli", "qx4")
QX4SIM = os.path.join(BUILD, "sim", "qx4sim")
MOSQUITTO = shutil.which("mosquitto") or "/usr/sbin/mosquitto"
USER, PASSWORD = "gateway", "s3cret word"
TAG_ONE, TAG_TWO, MYD = "E004010012345678", "E007000187654321", "E005109876543210"


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for(predicate, timeout, what):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True)


def make_ca(directory, name):
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
            "/CN=" + name, "-keyout", name + ".key", "-out", name + ".crt", cwd=directory)


class Broker:
    """mosquitto on free ports: plain and TLS listeners, passwords required, persistent
    sessions (so a subscriber's queue survives a restart)."""

    def __init__(self, directory):
        self.directory = directory
        self.port, self.tls_port = free_port(), free_port()
        make_ca(directory, "ca")
        make_ca(directory, "otherca")
        with open(os.path.join(directory, "san.cnf"), "w") as san:
            san.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n")
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-keyout",
                "server.key", "-out", "server.csr", cwd=directory)
        openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
                "-CAcreateserial", "-days", "2", "-extfile", "san.cnf", "-out", "server.crt",
                cwd=directory)
        self.passwords = os.path.join(directory, "passwords")
        open(self.passwords, "w").close()
        subprocess.run(["mosquitto_passwd", "-b", self.passwords, USER, PASSWORD], check=True)
        self.password_file = os.path.join(directory, "gateway.password")
        with open(self.password_file, "w") as out:
            out.write(PASSWORD + "\n")
        self.config = os.path.join(directory, "mosquitto.conf")
        with open(self.config, "w") as conf:
            # Run as whoever runs the test: root's mosquitto would switch to a user that
            # cannot read this directory.
            conf.write(f"""user {getpass.getuser()}
per_listener_settings false
allow_anonymous false
password_file {self.passwords}
persistence true
persistence_location {directory}/
autosave_interval 1
log_dest stderr
listener {self.port} 127.0.0.1
listener {self.tls_port} 127.0.0.1
cafile {directory}/ca.crt
certfile {directory}/server.crt
keyfile {directory}/server.key
""")
        self.process = None
        self.start()

    def start(self):
        self.log = open(os.path.join(self.directory, "mosquitto.log"), "a")
        self.process = subprocess.Popen([MOSQUITTO, "-c", self.config], stdout=self.log,
                                        stderr=subprocess.STDOUT)

        def listening():
            if self.process.poll() is not None:
                raise AssertionError("mosquitto ended: see " + self.log.name)
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=0.2).close()
                return True
            except OSError:
                return False
        wait_for(listening, 10, "mosquitto to listen")

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)
        self.log.close()


class Peer:
    """A paho client that records every message it gets."""

    def __init__(self, broker, topics, version=mqtt.MQTTv311, client_id="", clean=True):
        self.messages = []
        self.lock = threading.Lock()
        if version == mqtt.MQTTv5:
            self.client = mqtt.Client(client_id=client_id, protocol=version)
        else:
            self.client = mqtt.Client(client_id=client_id, clean_session=clean, protocol=version)
        self.client.username_pw_set(USER, PASSWORD)
        self.client.on_message = self._on_message
        self.topics = topics
        self.client.on_connect = lambda client, *rest: [client.subscribe(t, qos=1)
                                                        for t in self.topics]
        self.client.reconnect_delay_set(1, 2)
        self.client.connect("127.0.0.1", broker.port)
        self.client.loop_start()

    def _on_message(self, client, userdata, message):
        with self.lock:
            self.messages.append(message)

    def payloads(self, topic):
        # A message the broker redelivers is marked "dup", for the tests that must tell
        # a redelivery from a repeat.
        with self.lock:
            return [dict(json.loads(m.payload), **({"dup": True} if m.dup else {}))
                    for m in self.messages if m.topic == topic]

    def last(self, topic, predicate=lambda p: True):
        found = [p for p in self.payloads(topic) if predicate(p)]
        return found[-1] if found else None

    def close(self):
        self.client.loop_stop()
        self.client.disconnect()


class Sim:
    """qx4sim serving raw TCP, with its console for moving tags."""

    def __init__(self, port=None, *args):
        self.port = port or free_port()
        self.process = subprocess.Popen([QX4SIM, "--listen", f"127.0.0.1:{self.port}", *args],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.process.stdout.readline()
        self.process.stdout.readline()
        self.url = f"tcp://127.0.0.1:{self.port}"

    def command(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        return self.process.stdout.readline()

    def kill(self):
        self.process.kill()
        self.process.wait(timeout=10)

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=10)
        self.process.stdin.close()
        self.process.stdout.close()


class Gateway:
    def __init__(self, broker, name, *args, tls=False, password=True, terminal=None):
        port = broker.tls_port if tls else broker.port
        command = [GATEWAY, "-h", "127.0.0.1", "-p", str(port), "--name", name,
                   "--leave-after", "1000", "--heartbeat", "2", *args]
        if password is True:
            command += ["-u", USER, "--password-file", broker.password_file]
        elif password:
            command += ["-u", USER, "--password-file", password]
        self.stderr = open(os.path.join(broker.directory, f"{name}-{time.monotonic_ns()}.log"), "w")
        self.process = subprocess.Popen(command, stderr=self.stderr, stdin=terminal)

    def log(self):
        with open(self.stderr.name, errors="replace") as log:
            return log.read()

    def stop(self, sig=signal.SIGTERM):
        if self.process.poll() is None:
            self.process.send_signal(sig)
            return self.process.wait(timeout=10)
        return self.process.returncode

    def close(self):
        self.stop(signal.SIGKILL)
        self.stderr.close()
        # Under the sanitizer builds a finding is only on the gateway's standard error.
        with open(self.stderr.name, errors="replace") as log:
            text = log.read()
        if "Sanitizer" in text or "runtime error:" in text:
            raise AssertionError(self.stderr.name + ":\n" + text[-4000:])


def events(peer, name):
    return peer.payloads(f"qx4/{name}/event")


class GatewayTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.directory = tempfile.mkdtemp(prefix="qx4-mqtt-test-")
        cls.broker = Broker(cls.directory)

    @classmethod
    def tearDownClass(cls):
        cls.broker.stop()
        shutil.rmtree(cls.directory, ignore_errors=True)

    def setUp(self):
        self.cleanups = []

    def tearDown(self):
        for cleanup in reversed(self.cleanups):
            cleanup()

    def start(self, name, *args, sim=None, sim_args=(), **kwargs):
        sim = sim or Sim(None, *sim_args)
        self.cleanups.append(sim.close)
        gateway = Gateway(self.broker, name, "--device", sim.url, *args, **kwargs)
        self.cleanups.append(gateway.close)
        return sim, gateway

    def peer(self, topics, **kwargs):
        peer = Peer(self.broker, topics, **kwargs)
        self.cleanups.append(peer.close)
        return peer

    def online(self, peer, name):
        return wait_for(lambda: peer.last(f"qx4/{name}/state",
                                          lambda p: p.get("reader") == "connected"),
                        20, name + " online")

    def request(self, peer, name, command, body, timeout=15):
        response_topic = f"qx4/{name}/response/{command}"
        transaction = f"t-{time.monotonic_ns()}"
        body = dict(body, transaction=transaction)
        peer.client.publish(f"qx4/{name}/request/{command}", json.dumps(body), qos=1)
        return wait_for(lambda: peer.last(response_topic,
                                          lambda p: p.get("transaction") == transaction),
                        timeout, command + " response")

    def test_retained_topics_events_in_order_and_clean_stop(self):
        sim, gateway = self.start("door1")
        time.sleep(2)
        late = self.peer(["qx4/door1/#"])
        self.online(late, "door1")
        info = wait_for(lambda: late.last("qx4/door1/info"), 10, "info")
        self.assertEqual(info["allowWrites"], False)
        self.assertIn("model", info["reader"])
        field = wait_for(lambda: late.last("qx4/door1/field", lambda p: len(p["tags"]) == 3),
                         10, "field of three tags")
        self.assertEqual({t["uid"] for t in field["tags"]}, {TAG_ONE, TAG_TWO, MYD})
        self.assertTrue(all(t["lastSeen"].endswith("Z") and t["reads"] > 0
                            for t in field["tags"]))
        for _ in range(2):
            sim.command("leave " + TAG_TWO)
            time.sleep(2.2)
            sim.command("enter " + TAG_TWO)
            time.sleep(1.5)
        moves = [e for e in events(late, "door1")
                 if e.get("uid") == TAG_TWO and e["event"] != "data"]
        self.assertEqual([e["event"] for e in moves], ["leave", "enter", "leave", "enter"])
        seqs = [e["seq"] for e in events(late, "door1")]
        self.assertEqual(seqs, list(range(seqs[0], seqs[0] + len(seqs))))
        self.assertEqual(len({e["runId"] for e in events(late, "door1")}), 1)
        heartbeat = wait_for(lambda: late.last("qx4/door1/heartbeat"), 10, "heartbeat")
        self.assertEqual(heartbeat["dropped"], 0)
        self.assertGreaterEqual(heartbeat["eventsPublished"], 4)
        started = time.monotonic()
        self.assertEqual(gateway.stop(), 0)
        self.assertLess(time.monotonic() - started, 1.5)
        wait_for(lambda: late.last("qx4/door1/state") == {"state": "offline"}, 5, "offline")
        sim_mode = subprocess.run([QX4, "--device", sim.url, "--json", "op-mode"],
                                  capture_output=True, text=True, timeout=30)
        self.assertEqual(json.loads(sim_mode.stdout).get("mode"), 0, sim_mode.stdout)

    def test_last_will_on_sigkill(self):
        sim, gateway = self.start("door2")
        peer = self.peer(["qx4/door2/state"])
        self.online(peer, "door2")
        gateway.stop(signal.SIGKILL)
        wait_for(lambda: peer.last("qx4/door2/state") == {"state": "offline"}, 10,
                 "last will")

    def test_read_commands_answer_as_qx4_does(self):
        sim, gateway = self.start("desk")
        peer = self.peer(["qx4/desk/response/#"])
        self.online(self.peer(["qx4/desk/state"]), "desk")
        cases = [("version", {}, ["version"]), ("model", {}, ["model"]),
                 ("power-state", {}, ["power-state"]), ("error-status", {}, ["error-status"]),
                 ("io-read", {}, ["io-read"]), ("tag-mode", {}, ["tag-mode"]),
                 ("afi-register", {}, ["afi-register"]), ("param-read", {"number": 3},
                                                          ["param-read", "3"]),
                 ("info", {"uid": TAG_ONE}, ["--uid", TAG_ONE, "info"]),
                 ("read", {"block": 0, "count": 4, "uid": TAG_ONE}, ["--uid", TAG_ONE, "read", "0", "4"]),
                 ("read-bytes", {"block": "1", "count": "0x6", "uid": TAG_TWO},
                  ["--uid", TAG_TWO, "read-bytes", "1", "0x6"]),
                 ("security", {"block": 0, "count": 8, "uid": TAG_ONE},
                  ["--uid", TAG_ONE, "security", "0", "8"]),
                 ("eeprom-read", {"address": 12, "count": 4}, ["eeprom-read", "12", "4"]),
                 ("myd-read", {"block": 2, "uid": MYD}, ["--uid", MYD, "myd-read", "2"])]
        for command, body, words in cases:
            with self.subTest(command=command):
                got = self.request(peer, "desk", command, body)
                del got["transaction"]
                local = subprocess.run([QX4, "--simulate", "--json", *words],
                                       capture_output=True, text=True, timeout=30)
                self.assertEqual(got, json.loads(local.stdout))
                self.assertTrue(got["ok"], got)

    def test_mqtt5_response_topic_and_correlation_data(self):
        sim, gateway = self.start("desk5")
        self.online(self.peer(["qx4/desk5/state"]), "desk5")
        peer = self.peer(["replies/mine"], version=mqtt.MQTTv5)
        time.sleep(0.5)
        props = Properties(PacketTypes.PUBLISH)
        props.ResponseTopic = "replies/mine"
        props.CorrelationData = b"\x00\x01corr"
        peer.client.publish("qx4/desk5/request/version", "{}", qos=1, properties=props)
        wait_for(lambda: peer.payloads("replies/mine"), 15, "response on the response topic")
        message = peer.messages[-1]
        self.assertEqual(message.properties.CorrelationData, b"\x00\x01corr")
        self.assertTrue(json.loads(message.payload)["ok"])

    def test_writes_and_locks_need_permission_and_a_uid(self):
        sim, gateway = self.start("safe")
        peer = self.peer(["qx4/safe/response/#"])
        self.online(self.peer(["qx4/safe/state"]), "safe")
        for command, body in [("write", {"block": 3, "hexbytes": "11223344", "uid": TAG_ONE}),
                              ("lock", {"block": 3, "uid": TAG_ONE}),
                              ("eeprom-init", {}), ("op-mode", {"mode": 0, "second": 0,
                                                               "flags": 0, "value": 0}),
                              ("write-afi", {"value": 1, "uid": TAG_ONE}), ("raw", {"hexbytes": "2B00"})]:
            with self.subTest(command=command):
                got = self.request(peer, "safe", command, body)
                self.assertFalse(got["ok"])
                self.assertIn("refused", got["error"])
        self.assertTrue(self.request(peer, "safe", "op-mode", {})["ok"])  # reading is served
        gateway.close()

        sim2, writer = self.start("writer", "--allow-writes", sim=sim)
        peer2 = self.peer(["qx4/writer/response/#"])
        self.online(self.peer(["qx4/writer/state"]), "writer")
        got = self.request(peer2, "writer", "write", {"block": 3, "hexbytes": "11223344"})
        self.assertFalse(got["ok"])
        self.assertIn("uid", got["error"])
        got = self.request(peer2, "writer", "write",
                           {"block": 3, "hexbytes": "11223344", "uid": TAG_ONE})
        self.assertTrue(got["ok"], got)
        got = self.request(peer2, "writer", "read", {"block": 3, "uid": TAG_ONE})
        self.assertEqual(got["blocks"], [{"block": 3, "data": "11223344"}])
        got = self.request(peer2, "writer", "lock", {"block": 3, "uid": TAG_ONE})
        self.assertFalse(got["ok"])
        self.assertIn("locks", got["error"])

    def test_ndef_requests_and_enter_events_with_their_records(self):
        example = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples",
                               "ndef-tags.json")
        with open(example) as f:
            field = json.load(f)
        blank = "E0040100BBBBBBBB"
        field["tags"].append(dict(field["tags"][0], uid=blank,
                                  blocks=[{"data": "00000000", "locked": False}] * 28))
        path = os.path.join(self.directory, "ndef-field.json")
        with open(path, "w") as f:
            json.dump(field, f)
        small = "E00401004E444546"
        peer = self.peer(["qx4/ndef1/#"])
        sim, gateway = self.start("ndef1", "--allow-writes", "--read-ndef",
                                  sim=Sim(None, "--field", path))
        self.online(peer, "ndef1")
        enters = wait_for(lambda: (lambda e: e if len(e) == 3 else None)(
            [e for e in events(peer, "ndef1") if e["event"] == "enter"]), 20, "three enters")
        by_uid = {e["uid"]: e for e in enters}
        self.assertEqual(by_uid[small]["ndef"][0]["uri"], "https://example.com/qx4")
        self.assertIn("capability container", by_uid[blank]["ndefError"])
        got = self.request(peer, "ndef1", "ndef-write",
                           {"uid": small, "records": [{"text": "dock 3", "language": "en"}]})
        self.assertTrue(got["ok"], got)
        got = self.request(peer, "ndef1", "ndef-read", {"uid": small})
        self.assertEqual(got["records"][0]["text"], "dock 3")
        for body in ({"records": [{"uri": "http://a"}]},  # no uid
                     {"uid": small, "records": [{"mime": "a/b", "dataFile": "/etc/passwd"}]},
                     {"uid": small, "records": []}):
            self.assertFalse(self.request(peer, "ndef1", "ndef-write", body)["ok"], body)
        # Read once per entry: leaving and coming back reads again.
        sim.command("leave " + small)
        time.sleep(2.2)
        sim.command("enter " + small)
        again = wait_for(lambda: [e for e in events(peer, "ndef1")
                                  if e["event"] == "enter" and e["uid"] == small][1:], 20,
                         "enter again")
        self.assertEqual(again[0]["ndef"][0]["text"], "dock 3")

    def test_bad_payloads_get_error_responses(self):
        sim, gateway = self.start("rough")
        peer = self.peer(["qx4/rough/response/#"])
        self.online(self.peer(["qx4/rough/state"]), "rough")
        cases = [("read", b"{not json", "not valid JSON"),
                 ("read", b"[1,2]", "JSON object"),
                 ("read", b'{"block": [1]}', "number or a string"),
                 ("read", b'{"block": 1.5}', "number or a string"),
                 ("read", b'{"blok": 1}', "unknown key"),
                 ("read", b'{"count": 2}', "without"),
                 ("read", b'{"block": 999}', "BLOCK"),
                 ("read", b'{"block": 0, "uid": "XYZ"}', "uid"),
                 ("read", b'{"block": "' + b"9" * 70000 + b'"}', "larger than 65536"),
                 ("read", b"[" * 5000, "nested"),
                 ("frobnicate", b"{}", "no command"),
                 ("dump", b'{"file": "x"}', "not served")]
        for command, payload, error in cases:
            with self.subTest(payload=payload[:40]):
                count = len(peer.payloads(f"qx4/rough/response/{command}"))
                peer.client.publish(f"qx4/rough/request/{command}", payload, qos=1)
                got = wait_for(lambda: peer.payloads(f"qx4/rough/response/{command}")[count:],
                               15, "error response")[0]
                self.assertFalse(got["ok"])
                self.assertIn(error, got["error"])
        self.assertTrue(self.request(peer, "rough", "version", {})["ok"])
        self.assertIsNone(gateway.process.poll())

    def test_events_kept_while_the_broker_is_away(self):
        sim, gateway = self.start("queue")
        peer = self.peer(["qx4/queue/event"], client_id="queue-watcher", clean=False)
        self.online(self.peer(["qx4/queue/state"]), "queue")
        time.sleep(1.5)
        self.broker.stop()
        try:
            for _ in range(5):
                sim.command("leave " + TAG_TWO)
                time.sleep(2.2)
                sim.command("enter " + TAG_TWO)
                time.sleep(1.5)
            time.sleep(30 - 5 * 3.7)
        finally:
            self.broker.start()
        wait_for(lambda: sum(e.get("uid") == TAG_TWO for e in events(peer, "queue")) >= 10, 60,
                 "every queued event")
        # A redelivery the broker marks as such (its session outlived a PUBACK) is the
        # consumer's to drop by seq; anything else seen twice is the gateway's fault.
        got, seen = [], set()
        for event in events(peer, "queue"):
            if event["seq"] in seen and event.get("dup"):
                continue
            seen.add(event["seq"])
            got.append(event)
        seqs = [e["seq"] for e in got]
        self.assertEqual(seqs, list(range(seqs[0], seqs[0] + len(seqs))))
        moves = [e["event"] for e in got if e.get("uid") == TAG_TWO and e["event"] != "data"]
        if moves[0] == "enter":  # the tag entering at the start, when the peer was early
            moves.pop(0)
        self.assertEqual(moves, ["leave", "enter"] * 5)

    def test_reader_lost_and_back(self):
        sim, gateway = self.start("flaky")
        peer = self.peer(["qx4/flaky/state", "qx4/flaky/event"])
        self.online(peer, "flaky")
        sim.kill()
        wait_for(lambda: peer.last("qx4/flaky/state", lambda p: p.get("reader") == "lost"),
                 10, "reader lost")
        seen = len(events(peer, "flaky"))
        again = Sim(sim.port)
        self.cleanups.append(again.close)
        wait_for(lambda: peer.last("qx4/flaky/state") == {"state": "online",
                                                         "reader": "connected"},
                 30, "reader connected again")
        wait_for(lambda: [e for e in events(peer, "flaky")[seen:] if e["event"] == "enter"],
                 10, "events after the reopen")

    def test_tls_with_password_and_wrong_ca(self):
        sim, gateway = self.start("secure", "--cafile", os.path.join(self.directory, "ca.crt"),
                                  tls=True)
        peer = self.peer(["qx4/secure/state", "qx4/wrongca/state", "qx4/nopass/state"])
        self.online(peer, "secure")
        self.start("wrongca", "--cafile", os.path.join(self.directory, "otherca.crt"), tls=True)
        self.start("nopass", password=False)
        time.sleep(4)
        self.assertIsNone(peer.last("qx4/wrongca/state"))
        self.assertIsNone(peer.last("qx4/nopass/state"))

    def test_no_served_command_stops_the_events(self):
        sim, gateway = self.start("every", "--allow-writes", "--allow-locks", "--heartbeat", "1")
        peer = self.peer(["qx4/every/#"])
        self.online(peer, "every")
        wait_for(lambda: peer.last("qx4/every/field", lambda p: len(p["tags"]) == 3), 10, "field")
        eight = "0102030405060708"
        served = [("version", {}), ("model", {}), ("restart", {}), ("carrier", {"value": "on"}),
                  ("power-state", {}), ("error-status", {}), ("led", {"first": 1, "second": 0,
                                                                    "third": 0}),
                  ("buzzer", {"first": 5, "second": 1}), ("io-read", {}),
                  ("io-write", {"first": 1, "second": 0}), ("simple-read", {}), ("op-mode", {}),
                  ("tag-mode", {}), ("eeprom-read", {"address": 12, "count": 4}),
                  ("eeprom-init", {}), ("param-read", {"number": 3}),
                  ("param-write", {"number": 3, "value": 7}), ("uid-register", {}),
                  ("uid-list", {}), ("afi-register", {}), ("tag-data", {"text": "hello"}),
                  ("inventory", {}), ("scan", {}), ("findafi", {}),
                  ("select", {"uid": TAG_ONE}), ("reset", {"uid": TAG_ONE}),
                  ("read", {"block": 0, "count": 4, "uid": TAG_ONE}),
                  ("write", {"block": 3, "hexbytes": "11223344", "uid": TAG_ONE}),
                  ("read-bytes", {"block": 1, "count": 6, "uid": TAG_ONE}),
                  ("write-bytes", {"block": 1, "hexbytes": "AABB", "uid": TAG_ONE}),
                  ("security", {"block": 0, "count": 8, "uid": TAG_ONE}),
                  ("write-afi", {"value": 0, "uid": TAG_ONE}),
                  ("write-dsfid", {"value": 0, "uid": TAG_ONE}), ("info", {"uid": TAG_TWO}),
                  ("read", {"block": 0, "uid": TAG_TWO, "blockSize": 8}),
                  ("myd-read", {"block": 2, "uid": MYD}),
                  ("myd-write", {"block": 2, "hexbytes": eight, "uid": MYD}),
                  ("myd-write-byte", {"block": 2, "byte1": 5, "byte2": 1, "uid": MYD}),
                  ("myd-write-reread", {"block": 2, "hexbytes": eight, "uid": MYD}),
                  ("ndef-read", {"uid": TAG_ONE}),
                  ("raw", {"hexbytes": "2B00", "uid": TAG_ONE, "confirm": True}),
                  ("lock", {"block": 3, "uid": TAG_ONE}), ("quiet", {"uid": MYD})]
        for command, body in served:
            with self.subTest(command=command):
                self.request(peer, "every", command, body, timeout=30)
                # The gateway's own window still gets every notification: reads go on.
                reads = {t["uid"]: t["reads"] for t in peer.last("qx4/every/field")["tags"]}
                wait_for(lambda: peer.last("qx4/every/field", lambda p: any(
                    t["uid"] == TAG_ONE and t["reads"] > reads.get(TAG_ONE, 0)
                    for t in p["tags"])), 10, "reads after " + command)
        time.sleep(1.5)
        leaves = [e["uid"] for e in events(peer, "every") if e["event"] == "leave"]
        self.assertEqual(leaves, [MYD])  # quiet: the one tag asked to be silent
        sim.command("leave " + TAG_TWO)
        wait_for(lambda: [e for e in events(peer, "every")
                          if e["event"] == "leave" and e["uid"] == TAG_TWO], 10, "a leave")
        sim.command("enter " + TAG_TWO)
        wait_for(lambda: [e for e in events(peer, "every")
                          if e["event"] == "enter" and e["uid"] == TAG_TWO], 10, "an enter")
        state = peer.last("qx4/every/state")
        self.assertEqual(state["reader"], "connected")

    def test_a_named_tag_is_never_written_unaddressed(self):
        sim, gateway = self.start("named", "--allow-writes")
        peer = self.peer(["qx4/named/response/#"])
        self.online(self.peer(["qx4/named/state"]), "named")
        sim.command("leave " + TAG_TWO)
        sim.command("leave " + MYD)
        before = self.request(peer, "named", "read", {"block": 3, "uid": TAG_ONE})["blocks"]
        got = self.request(peer, "named", "write", {"block": 3, "hexbytes": "CAFEBABE",
                                                    "uid": TAG_TWO, "unaddressed": True})
        self.assertFalse(got["ok"])
        self.assertIn("exclude each other", got["error"])
        self.assertEqual(self.request(peer, "named", "read", {"block": 3, "uid": TAG_ONE})["blocks"],
                         before)

    def test_retained_and_empty_messages_never_run(self):
        writer = self.peer([])
        writer.client.publish("qx4/stale/request/write", json.dumps(
            {"block": 3, "hexbytes": "DEADBEEF", "uid": TAG_ONE}), qos=1, retain=True)
        self.cleanups.append(lambda: writer.client.publish("qx4/stale/request/write", b"",
                                                           qos=1, retain=True))
        for version in ("mqttv5", "mqttv311"):
            with self.subTest(version=version):
                sim, gateway = self.start("stale", "--allow-writes", "-V", version)
                peer = self.peer(["qx4/stale/response/#"])
                self.online(self.peer(["qx4/stale/state"]), "stale")
                time.sleep(1)
                got = self.request(peer, "stale", "read", {"block": 3, "uid": TAG_ONE})
                self.assertNotEqual(got["blocks"][0]["data"], "DEADBEEF")
                self.assertEqual(peer.payloads("qx4/stale/response/write"), [])
                # Clearing a retained message the usual way sends an empty one.
                peer.client.publish("qx4/stale/request/eeprom-init", b"", qos=1, retain=True)
                time.sleep(2)
                self.assertEqual(peer.payloads("qx4/stale/response/eeprom-init"), [])
                gateway.close()
                sim.close()

    def test_a_wrong_password_is_retried_slowly_said_once_and_ends(self):
        wrong = os.path.join(self.directory, "wrong.password")
        with open(wrong, "w") as out:
            out.write("not the password\n")
        os.chmod(wrong, 0o644)
        with open(self.broker.log.name) as log:
            start = len(log.read())
        began = time.monotonic()
        sim, gateway = self.start("badpass", password=wrong)
        time.sleep(10)
        with open(self.broker.log.name) as log:
            connects = log.read()[start:].count("New connection from")
        self.assertLessEqual(connects, 6)
        self.assertEqual(gateway.process.wait(timeout=60), 1)
        # Five tries with pauses of at least 0.5, 1, 2 and 4 s between them.
        self.assertGreaterEqual(time.monotonic() - began, 7.5)
        text = gateway.log()
        self.assertEqual(text.count("refused the connection"), 1, text)
        self.assertIn("others can read the password file", text)
        self.assertIn("giving up", text)

    def test_two_gateways_with_one_name_do_not_fight(self):
        peer = self.peer(["qx4/twin/state"])
        first_sim, first = self.start("twin")
        self.online(peer, "twin")
        second_sim, second = self.start("twin")
        # Each takes the session from the other, less and less often, and says so.
        time.sleep(15)
        count = len(peer.payloads("qx4/twin/state"))
        time.sleep(10)
        self.assertLessEqual(len(peer.payloads("qx4/twin/state")) - count, 8)
        text = first.log()
        self.assertIn("same --name", text)
        self.assertLessEqual(text.count("same --name"), 6, text)

    def test_locks_never_ask_and_are_confirmed_in_the_request(self):
        controller, terminal = pty.openpty()
        self.cleanups.append(lambda: os.close(controller))
        sim, gateway = self.start("locker", "--allow-writes", "--allow-locks", terminal=terminal)
        os.close(terminal)
        peer = self.peer(["qx4/locker/response/#"])
        self.online(self.peer(["qx4/locker/state"]), "locker")
        got = self.request(peer, "locker", "lock", {"block": 3, "uid": TAG_ONE})
        self.assertFalse(got["ok"])
        self.assertIn('"confirm":true', got["error"])
        self.assertTrue(self.request(peer, "locker", "version", {})["ok"])
        got = self.request(peer, "locker", "lock", {"block": 3, "uid": TAG_ONE, "confirm": True})
        self.assertTrue(got["ok"], got)
        got = self.request(peer, "locker", "write", {"block": 3, "hexbytes": "00000000",
                                                     "uid": TAG_ONE})
        self.assertFalse(got["ok"])  # locked for good
        self.assertEqual(gateway.stop(), 0)

    def test_a_version_that_is_not_utf8_is_replaced(self):
        sim, gateway = self.start("odd", "--homeassistant",
                                  sim_args=("--rom-version", b"QX4 \xff\xfe Ver1"))
        peer = self.peer(["homeassistant/tag/#", "qx4/odd/info"])
        config = wait_for(lambda: peer.last("homeassistant/tag/qx4-odd/scanner/config"), 20,
                          "discovery")
        self.assertIn("\ufffd", config["device"]["sw_version"])
        self.assertEqual(config["qos"], 1)
        self.assertIsNone(gateway.process.poll())
        self.assertEqual(gateway.stop(), 0)

    def test_a_reader_that_stops_answering_is_said_so(self):
        sim, gateway = self.start("mute")
        peer = self.peer(["qx4/mute/state"])
        self.online(peer, "mute")
        sim.process.send_signal(signal.SIGSTOP)
        try:
            wait_for(lambda: peer.last("qx4/mute/state",
                                       lambda p: p.get("reader") == "not answering"),
                     20, "not answering")
        finally:
            sim.process.send_signal(signal.SIGCONT)
        wait_for(lambda: peer.last("qx4/mute/state") == {"state": "online",
                                                        "reader": "connected"},
                 20, "answering again")

    def test_sigterm_answers_queued_requests_stopping(self):
        sim, gateway = self.start("busy")
        peer = self.peer(["qx4/busy/response/#"])
        self.online(self.peer(["qx4/busy/state"]), "busy")
        for number in range(10):
            peer.client.publish("qx4/busy/request/findafi",
                                json.dumps({"transaction": number}), qos=1)
        time.sleep(1)
        started = time.monotonic()
        self.assertEqual(gateway.stop(), 0)
        self.assertLess(time.monotonic() - started, 4)
        got = wait_for(lambda: len(peer.payloads("qx4/busy/response/findafi")) == 10 and
                       peer.payloads("qx4/busy/response/findafi"), 10, "ten responses")
        self.assertTrue(any("stopping" in r.get("error", "") for r in got), got)
        mode = subprocess.run([QX4, "--device", sim.url, "--json", "op-mode"],
                              capture_output=True, text=True, timeout=30)
        self.assertEqual(json.loads(mode.stdout).get("mode"), 0, mode.stdout)

        # A reader gone mute (SIGSTOP): still within the unit's 5 s stop time.
        sim, gateway = self.start("mute")
        peer = self.peer(["qx4/mute/response/#"])
        self.online(self.peer(["qx4/mute/state"]), "mute")
        sim.process.send_signal(signal.SIGSTOP)
        try:
            for number in range(10):
                peer.client.publish("qx4/mute/request/findafi",
                                    json.dumps({"transaction": number}), qos=1)
            time.sleep(1)
            started = time.monotonic()
            gateway.stop()
            self.assertLess(time.monotonic() - started, 4.5)
            wait_for(lambda: len(peer.payloads("qx4/mute/response/findafi")) == 10, 10,
                     "ten responses from the mute reader's gateway")
        finally:
            sim.process.send_signal(signal.SIGCONT)

    def test_state_and_info_once_at_start_and_heartbeats_without_bursts(self):
        peer = self.peer(["qx4/once/state", "qx4/once/info", "qx4/once/heartbeat"])
        sim, gateway = self.start("once", "--heartbeat", "1")
        self.online(peer, "once")
        time.sleep(2.5)
        self.assertEqual(len(peer.payloads("qx4/once/info")), 1)
        states = peer.payloads("qx4/once/state")
        self.assertEqual([p.get("reader") for p in states], ["connected"], states)
        # A request that holds the loop (a mute reader's time-outs) is not made up after.
        beats = len(peer.payloads("qx4/once/heartbeat"))
        sim.process.send_signal(signal.SIGSTOP)
        try:
            asker = self.peer(["qx4/once/response/#"])
            self.request(asker, "once", "version", {}, timeout=30)
        finally:
            sim.process.send_signal(signal.SIGCONT)
        time.sleep(0.5)
        self.assertLessEqual(len(peer.payloads("qx4/once/heartbeat")) - beats, 2)

    def test_response_topics_stay_out_of_the_gateways_topics(self):
        sim, gateway = self.start("rr")
        watcher = self.peer(["qx4/rr/state", "qx4/rr/response/#"])
        self.online(watcher, "rr")
        asker = self.peer([], version=mqtt.MQTTv5)
        states = len(watcher.payloads("qx4/rr/state"))
        props = Properties(PacketTypes.PUBLISH)
        props.ResponseTopic = "qx4/rr/state"
        asker.client.publish("qx4/rr/request/version", "{}", qos=1, properties=props)
        got = wait_for(lambda: watcher.payloads("qx4/rr/response/version"), 15, "refusal")[0]
        self.assertIn("refused", got["error"])
        self.assertEqual(len(watcher.payloads("qx4/rr/state")), states)

    def test_names_and_prefixes_home_assistant_would_drop_are_refused(self):
        for args in (["--name", "door.1"], ["--name", "d\x7f"], ["--name", "tür"],
                     ["--name", "ok", "--discovery-prefix", "home/#"]):
            with self.subTest(args=args):
                out = subprocess.run([GATEWAY, "--simulate", *args], capture_output=True,
                                     timeout=30)
                self.assertEqual(out.returncode, 2, out.stderr)

    def test_home_assistant_discovery(self):
        sim, gateway = self.start("ha", "--homeassistant")
        peer = self.peer(["homeassistant/tag/#"])
        config = wait_for(lambda: peer.last("homeassistant/tag/qx4-ha/scanner/config",
                                            lambda p: "model" in p["device"]),
                          20, "discovery")
        self.assertEqual(config["topic"], "qx4/ha/event")
        self.assertEqual(config["device"]["identifiers"], ["qx4-ha"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
