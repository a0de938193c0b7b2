"""A TCP proxy between a program and `qx4sim --listen` that gives the field the faults of a
real one: a rule looks at every request frame and may let it through, answer it with the
reader's NACK after the simulator carried it out (the tag's reply lost on the air), or
answer it with a NACK without passing it on (no tag heard it)."""
import socket
import threading

STX, ETX, CR = 0x02, 0x03, 0x0D
ACK, NACK = 0x30, 0x31


def frame(kind, data):
    head = bytes([STX, 0x00, kind, len(data)]) + bytes(data) + bytes([ETX])
    return head + bytes([sum(head) & 0xFF, CR])


def nack(code, iso=None):
    return frame(NACK, [code] if iso is None else [code, iso])


class Request:
    """One request frame: its command byte, data field and, for a tag request (0x78),
    the ISO 15693 code, the parameters after it and whether it carries a UID."""

    def __init__(self, raw):
        self.raw = raw
        self.command = raw[2]
        self.data = raw[4:4 + raw[3]]
        tag = self.command == 0x78 and len(self.data) > 0
        self.code = self.data[0] if tag else None
        self.addressed = tag and len(self.data) >= 10 and self.data[-9] & 0x03 == 0x01

    def block_range(self):
        """First and last block of a block read or write, else None."""
        if self.code in (0x20, 0x21):
            return self.data[1], self.data[1]
        if self.code in (0x23, 0x24):
            return self.data[1], self.data[1] + self.data[2]
        return None


class FaultProxy:
    """Serves tcp://127.0.0.1:PORT (`url`), one client at a time, each passed on to the
    simulator at `upstream` (its tcp:// URL). `rule(request)` returns None (pass it on),
    ("lost", code[, iso]) (pass it on, answer with that NACK instead) or ("absent",
    code[, iso]) (answer with that NACK, pass nothing on). `requests` lists every request
    seen, in order."""

    def __init__(self, upstream, rule=None):
        host, port = upstream.split("//", 1)[1].rsplit(":", 1)
        self.upstream = (host, int(port))
        self.rule = rule or (lambda request: None)
        self.requests = []
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(1)
        self.url = "tcp://127.0.0.1:%d" % self.listener.getsockname()[1]
        self.closed = False
        threading.Thread(target=self._serve, daemon=True).start()

    def close(self):
        self.closed = True
        self.listener.close()

    def tag_requests(self, code=None):
        return [r for r in self.requests if r.code is not None and (code is None or r.code == code)]

    def _serve(self):
        while not self.closed:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            with client, socket.create_connection(self.upstream, timeout=10) as upstream:
                self._relay(client, upstream)

    @staticmethod
    def _frames(sock, pending):
        """Whole frames from a socket, by the length byte; None when it closed."""
        while True:
            start = pending.find(bytes([STX]))
            if start > 0:
                del pending[:start]
            if len(pending) >= 4 and len(pending) >= pending[3] + 7:
                length = pending[3] + 7
                whole = bytes(pending[:length])
                del pending[:length]
                return whole
            try:
                chunk = sock.recv(4096)
            except OSError:
                return None
            if not chunk:
                return None
            pending.extend(chunk)

    def _relay(self, client, upstream):
        from_client, from_sim = bytearray(), bytearray()
        while True:
            raw = self._frames(client, from_client)
            if raw is None:
                return
            request = Request(raw)
            self.requests.append(request)
            verdict = self.rule(request)
            if verdict and verdict[0] == "absent":
                client.sendall(nack(*verdict[1:]))
                continue
            upstream.sendall(raw)
            while True:  # notifications pass; the request's own answer is the ACK or NACK
                reply = self._frames(upstream, from_sim)
                if reply is None:
                    return
                if reply[2] in (ACK, NACK):
                    break
                client.sendall(reply)
            client.sendall(nack(*verdict[1:]) if verdict else reply)
