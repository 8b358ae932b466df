#!/usr/bin/python3
"""vemox-host as a Modbus TCP server, end to end: the real host, driver and simulator on a
pseudo-terminal, with real clients on loopback (mbpoll, pymodbus and a raw socket that
misbehaves).

Usage: modbus-clients.py HOST SIM DEMO_CONFIG MBPOLL [unittest options]
"""
import csv
import io
import json
import logging
import os
import re
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from pymodbus.client import ModbusTcpClient
from pymodbus.exceptions import ModbusException

HOST, SIM, DEMO, MBPOLL = sys.argv[1:5]
WAIT_S = 20  # conditions are met within seconds; the deadline is for a loaded machine

# The demo line with weights that stand still, so that two reads a moment apart agree.
CONTROLLERS = [
    "addr=1,serial=100001,decimals=2,net=23456,tare=15000,counter1=4200000,counter3=12345,"
    "outputs=0x0101,point0=1000:240000,state=0x01",
    "addr=2,serial=100002,decimals=1,net=-250,tare=500,inputs=0x8000,output-bytes=1,"
    "outputs=0x05,point2=100:4000,state=0x40",
    "addr=3,serial=123456,net=700,tare=320,counter1=61000,inputs=0x0A50,point8=50:950",
]
MBPOLL_TABLE = {"coils": "0", "discrete inputs": "1", "input registers": "3",
                "holding registers": "4"}
GATEWAY_FAILED = 0x0B
logging.getLogger("pymodbus").setLevel(logging.CRITICAL)  # refused connects while starting


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(condition, what, timeout=WAIT_S):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        result = condition()
        if result:
            return result
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


def words(value, form, order):
    """The registers of a 32-bit value as the map carries it."""
    raw = struct.pack(">f" if form == "float32" else ">i", value)
    high, low = struct.unpack(">HH", raw)
    return [high, low] if order == "big" else [low, high]


class Gateway(unittest.TestCase):
    """The demo configuration with a [modbus] section, served by `run` against one simulator
    that stays up for the whole test."""

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="vemox-modbus-")
        self.addCleanup(self.dir.cleanup)
        args = [SIM]
        for controller in CONTROLLERS:
            args += ["--controller", controller]
        self.sim = subprocess.Popen(args, stdout=subprocess.PIPE, text=True)
        self.addCleanup(self.sim.stdout.close)
        self.addCleanup(self.stop, self.sim)
        self.pty = self.sim.stdout.readline().removeprefix("pty: ").strip()
        self.host = None
        self.port = free_port()

    @staticmethod
    def stop(process):
        if process.poll() is None:
            process.send_signal(signal.SIGCONT)
            process.terminate()
            process.wait(WAIT_S)

    def config(self, keys, decimals=False):
        """Writes the configuration: the demo's, Hopper and Belt given their decimals when
        `decimals` (so that int32 carries hundredths and tenths), then [modbus] with `keys`."""
        with open(DEMO, encoding="utf-8") as demo:
            text = demo.read()
        if decimals:
            text = text.replace("address = 1\n", "address = 1\ndecimals = 2\n", 1)
            text = text.replace("address = 2\n", "address = 2\ndecimals = 1\n", 1)
        text += ('\n[[item]]\nnode = "Hopper"\nname = "last_good"\n'
                 'operation = "Диагностика связи"\ncounter = "last_good_reply"\n')
        text += f'\n[modbus]\nlisten = "127.0.0.1:{self.port}"\nmax_clients = 32\n{keys}\n'
        path = os.path.join(self.dir.name, "gateway.toml")
        with open(path, "w", encoding="utf-8") as out:
            out.write(text)
        return path

    def vemox(self, config, *command):
        return [HOST, "--config", config, "--device", "COM1=" + self.pty, *command]

    def stop_serving(self):
        if self.host:
            self.stop(self.host)

    def serve(self, config):
        """Starts `run --plain`; returns once unit 1 answers with a good net weight and the
        link items, read before the first reply, have been read again."""
        self.stop_serving()
        self.log = open(os.path.join(self.dir.name, "host.log"), "w+", encoding="utf-8")
        self.addCleanup(self.log.close)
        self.host = subprocess.Popen(self.vemox(config, "run", "--plain"), stdout=self.log,
                                     stderr=subprocess.STDOUT)
        self.addCleanup(self.stop, self.host)
        self.client = ModbusTcpClient("127.0.0.1", port=self.port, timeout=3)
        self.addCleanup(self.client.close)

        def served():
            try:
                return not self.client.read_input_registers(0, 2, slave=1).isError()
            except ModbusException:
                return False
        wait_for(served, "the first good read served")
        wait_for(lambda: "Hopper.link = true" in self.host_log(), "the link read up")

    def map(self, config):
        rows = subprocess.run([HOST, "modbus-map", config, "--csv"], capture_output=True,
                              text=True, check=True).stdout
        return {row["item"]: row for row in csv.DictReader(io.StringIO(rows))}

    def host_log(self):
        self.log.seek(0)
        return self.log.read()

    def test_mbpoll_reads_what_read_once_reports(self):
        for order in ("big", "little"):
            for form in ("float32", "int32"):
                with self.subTest(word_order=order, format=form):
                    config = self.config(f'word_order = "{order}"\nformat = "{form}"',
                                         decimals=form == "int32")
                    self.stop_serving()  # the line is the host's while it runs
                    once = subprocess.run(self.vemox(config, "read", "--once", "--json"),
                                          capture_output=True, text=True, check=True)
                    items = {item["name"]: item for item in json.loads(once.stdout)["items"]}
                    self.serve(config)
                    checked = 0
                    rows = self.map(config)
                    for name, row in rows.items():
                        item = items.get(name)
                        # The diagnostic counts move with every exchange; the link stays.
                        if not item or (row["type"] == "uint32" and not name.endswith("link")):
                            continue
                        value = self.mbpoll(row, order)
                        self.check_value(name, row, item["value"], value)
                        checked += 1
                    self.assertGreaterEqual(checked, 20)
                    # A date-time as seconds since 1970, as the diagnostics block has it.
                    self.assertAlmostEqual(self.mbpoll(rows["Hopper.last_good"], order),
                                           self.mbpoll(rows["Hopper.$last_good_reply"], order),
                                           delta=5)

    def mbpoll(self, row, order):
        kind = {"bool": "", "float32": ":float"}.get(row["type"], ":int")
        table = MBPOLL_TABLE[row["table"]] + kind
        out = subprocess.run(
            [MBPOLL, "-m", "tcp", "-p", str(self.port), "-a", row["unit"], "-0", "-r",
             row["address"], "-t", table, "-1", "-o", "3", *(["-B"] if order == "big" else []),
             "127.0.0.1"], capture_output=True, text=True)
        found = re.search(r"^\[\d+\]:\s+(\S+)", out.stdout, re.M)
        self.assertTrue(found, f"{row['item']}: {out.stdout}{out.stderr}")
        return float(found.group(1))

    def check_value(self, name, row, expected, got):
        if row["type"] == "bool":
            self.assertEqual(got, 1.0 if expected else 0.0, name)
        elif row["type"] == "float32":
            self.assertAlmostEqual(got, expected, delta=abs(expected) * 1e-6, msg=name)
        else:
            scale = float(row["scale"])
            self.assertEqual(got, round(expected / scale), name)

    def test_pymodbus_writes_go_through_the_gate(self):
        config = self.config('writable = ["Hopper.output8", "Hopper.point0_low", '
                             '"Hopper.point0_high"]')
        self.serve(config)
        rows = self.map(config)
        coil = int(rows["Hopper.output8"]["address"])
        low = int(rows["Hopper.point0_low"]["address"])
        high = int(rows["Hopper.point0_high"]["address"])
        self.assertEqual(rows["Hopper.point0_high"]["table"], "holding registers")
        self.assertEqual(high, low + 2, "the levels of one point stand side by side")
        c = self.client

        def holding(address):
            reply = c.read_holding_registers(address, 2, slave=1)
            return None if reply.isError() else struct.unpack(
                ">f", struct.pack(">HH", *reply.registers))[0]

        def code(reply):
            return getattr(reply, "exception_code", None)

        # Listed: the controller takes them, and the next reads bring them back.
        self.assertFalse(c.write_coil(coil, False, slave=1).isError())
        self.assertFalse(c.write_registers(high, words(1234.5, "float32", "big"),
                                           slave=1).isError())
        wait_for(lambda: holding(high) == 1234.5, "the new upper level read back")
        wait_for(lambda: c.read_coils(coil, 1, slave=1).bits[0] is False,
                 "the output read back off")

        # Not listed, refused by the gate, and a write of two items with one bad value.
        self.assertEqual(code(c.write_coil(coil - 1, True, slave=1)), 0x01, "output0")
        self.assertEqual(code(c.write_registers(low, words(float("nan"), "float32", "big"),
                                                slave=1)), 0x03, "NaN level")
        both = words(20.0, "float32", "big") + words(float("nan"), "float32", "big")
        self.assertEqual(code(c.write_registers(low, both, slave=1)), 0x03, "half bad")
        time.sleep(2.5)  # two scans of Hopper: a level written by mistake would show by now
        self.assertEqual(holding(low), 10.0, "nothing of the refused write applied")
        self.assertEqual(holding(high), 1234.5)

    def test_silent_controller_answers_gateway_failed_then_recovers(self):
        config = self.config("")
        self.serve(config)
        net = int(self.map(config)["Hopper.net"]["address"])
        self.sim.send_signal(signal.SIGSTOP)
        wait_for(lambda: re.search(r"Hopper\.net = \S+ \[bad", self.host_log()),
                 "the driver's bad quality")
        # Served from the latest read, which is bad now: within Hopper's poll period of 1 s.
        wait_for(lambda: getattr(self.client.read_input_registers(net, 2, slave=1),
                                 "exception_code", None) == GATEWAY_FAILED,
                 "exception 0x0B", timeout=1.0)
        self.sim.send_signal(signal.SIGCONT)
        wait_for(lambda: not self.client.read_input_registers(net, 2, slave=1).isError(),
                 "good values after the controller returns")

    def test_twenty_clients_and_a_rogue_one(self):
        self.serve(self.config(""))
        rate_alone = self.poll_rate(10)
        stop = threading.Event()
        failures, reads, dropped = [], [], []

        def good_client():
            with ModbusTcpClient("127.0.0.1", port=self.port, timeout=3) as c:
                done = 0
                while not stop.is_set():
                    reply = c.read_input_registers(0, 2, slave=1)
                    if reply.isError():
                        failures.append(str(reply))
                    done += 1
                    stop.wait(0.1)
                reads.append(done)

        def rogue_client():
            request = struct.pack(">HHHBBHH", 1, 0, 6, 1, 4, 0, 2)
            # (bytes, whether the server must close the connection on them)
            cases = [(b"\x13\x37" * 40, True), (b"GET / HTTP/1.0\r\n\r\n", True),
                     (request[:5], False)]  # half a frame, then the client goes
            while not stop.is_set():
                for junk, closes in cases:
                    with socket.create_connection(("127.0.0.1", self.port), timeout=3) as s:
                        s.sendall(junk)
                        if closes:
                            try:
                                dropped.append(s.recv(64) == b"")
                            except ConnectionResetError:
                                dropped.append(True)
                            except socket.timeout:
                                dropped.append(False)
                stop.wait(0.05)

        clients = [threading.Thread(target=good_client) for _ in range(20)]
        clients.append(threading.Thread(target=rogue_client))
        for thread in clients:
            thread.start()
        try:
            rate_loaded = self.poll_rate(10)
        finally:
            stop.set()
            for thread in clients:
                thread.join(WAIT_S)
        self.assertEqual(failures, [])
        self.assertEqual(len(reads), 20)
        self.assertGreater(min(reads), 50, "each client polled all along")
        self.assertTrue(dropped and all(dropped), "garbage is dropped")
        self.assertLess(abs(rate_loaded - rate_alone), 0.05 * rate_alone,
                        f"poll rate {rate_loaded:.1f}/s with clients, {rate_alone:.1f}/s alone")

    def poll_rate(self, seconds):
        """Good replies a second over all units, from their diagnostics blocks. The schedule
        repeats every 10 s (scans of 1, 2 and 5 s), so a 10 s window counts the same
        exchanges wherever it starts."""
        def replies():
            total = 0
            for unit in (1, 2, 3):
                registers = self.client.read_input_registers(9002, 2, slave=unit).registers
                total += registers[0] << 16 | registers[1]
            return total
        before, started = replies(), time.monotonic()
        time.sleep(seconds)
        return (replies() - before) / (time.monotonic() - started)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[5:], verbosity=2)
