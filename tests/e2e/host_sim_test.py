#!/usr/bin/env python3
"""The host tool, the driver and the instrument simulator together, over
pseudo-terminals: every read, write and poll goes from mokta through
LORVANT.so to mokta-sim and back, as it would on a plant.

Usage: host_sim_test.py MOKTA MOKTA_SIM [unittest arguments]
"""

import fcntl
import json
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

MOKTA = ""
MOKTA_SIM = ""

# Generous bounds that only catch a hang; nothing here times the driver.
RUN_LIMIT = 60

EXIT_OK, EXIT_DRIVER, EXIT_USAGE, EXIT_REFUSED, EXIT_PORT = 0, 1, 2, 3, 4
EXIT_NO_REPLY, EXIT_PROTOCOL, EXIT_NO_PARAMETER = 5, 6, 7

BIT_PNO = 100
BIT_PATTERN = 0xA5C3


def truth(pno):
    """The test plant's instrument 01: a value and a format code per parameter."""
    if pno == BIT_PNO:
        return BIT_PATTERN, 0
    return (pno * 257 + 11) % 65536, pno % 5


def write_plant(path):
    lines = ["[[instrument]]", "id = 0x01", 'name = "test bench"', "[instrument.parameters]"]
    for pno in range(128):
        value, code = truth(pno)
        lines.append(f"{pno} = {{ value = {value}, format = {code} }}")
    lines += ["", "[[instrument]]", "id = 0x02", "[instrument.parameters]"]
    for pno in range(10):
        read_only = "true" if pno == 2 else "false"
        lines.append(f"{pno} = {{ value = {1000 + pno}, read_only = {read_only} }}")
    with open(path, "w", encoding="utf-8") as plant:
        plant.write("\n".join(lines) + "\n")


class Simulator:
    """mokta-sim on a pseudo-terminal of its own, reached through a link."""

    def __init__(self, folder, name, *options):
        self.link = os.path.join(folder, name)
        self.process = subprocess.Popen(
            [MOKTA_SIM, "--link", self.link, *options],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.port = None
        deadline = time.monotonic() + RUN_LIMIT
        while self.port is None and time.monotonic() < deadline:
            line = self.process.stdout.readline()
            if not line:
                raise RuntimeError("mokta-sim ended: " + self.process.stderr.read())
            if line.startswith("port: "):
                self.port = line.split(":", 1)[1].strip()
        while not os.path.islink(self.link) and time.monotonic() < deadline:
            time.sleep(0.01)

    def stop(self):
        self.process.send_signal(signal.SIGINT)
        try:
            _, errors = self.process.communicate(timeout=RUN_LIMIT)
        except subprocess.TimeoutExpired:
            self.process.kill()
            raise
        return self.process.returncode, errors


def mokta(*arguments, timeout=RUN_LIMIT):
    return subprocess.run([MOKTA, *arguments], capture_output=True, text=True, timeout=timeout)


def rows(result):
    return json.loads(result.stdout)


class HostToolTest(unittest.TestCase):
    """One simulator with the test plant for each test."""

    sim_options = ()

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="mokta-e2e-")
        self.plant = os.path.join(self.folder, "plant.toml")
        write_plant(self.plant)
        self.sim = Simulator(self.folder, "line", "--plant", self.plant, *self.sim_options)
        self.addCleanup(self.sim.stop)

    def read(self, *arguments):
        return mokta("--format", "json", "read", self.sim.link, *arguments)

    def assertExit(self, result, code):
        self.assertEqual(result.returncode, code, result.stdout + result.stderr)


class ReadTest(HostToolTest):
    def test_single_values(self):
        result = self.read("01005", "01127", "02009")
        self.assertExit(result, EXIT_OK)
        self.assertEqual([row["value"] for row in rows(result)],
                         [truth(5)[0], truth(127)[0], 1009])

    def test_every_bit_of_a_value(self):
        addresses = [f"01{BIT_PNO:03d}{bit:X}" for bit in range(16)]
        result = self.read(*addresses)
        self.assertExit(result, EXIT_OK)
        self.assertEqual([row["value"] for row in rows(result)],
                         [(BIT_PATTERN >> bit) & 1 for bit in range(16)])

    def test_format_codes(self):
        result = self.read(*[f"01{pno:03d}." for pno in range(10, 15)])
        self.assertExit(result, EXIT_OK)
        self.assertEqual([row["value"] for row in rows(result)],
                         [truth(pno)[1] for pno in range(10, 15)])

    def test_a_block_of_127(self):
        result = self.read("01000", "--count", "127")
        self.assertExit(result, EXIT_OK)
        self.assertEqual([(row["pno"], row["value"]) for row in rows(result)],
                         [(pno, truth(pno)[0]) for pno in range(127)])

    def test_missing_parameter(self):
        result = self.read("02050")
        self.assertExit(result, EXIT_NO_PARAMETER)
        self.assertEqual(rows(result)[0]["value"], "")

    def test_silent_instrument(self):
        result = mokta("--format", "json", "read", self.sim.link, "33001", "--timeout", "50")
        self.assertExit(result, EXIT_NO_REPLY)
        self.assertEqual(rows(result)[0]["result"], 2)

    def test_refused_address(self):
        result = self.read("0A0A1")
        self.assertExit(result, EXIT_REFUSED)
        self.assertIn("Illegal character", rows(result)[0]["message"])

    def test_worst_outcome_decides_the_exit_code(self):
        result = self.read("01001", "02050", "0A0A1")
        self.assertExit(result, EXIT_NO_PARAMETER)
        self.assertEqual(rows(result)[0]["value"], truth(1)[0])


class WriteTest(HostToolTest):
    def test_value_bit_and_format_code_are_written_and_read_back(self):
        result = mokta("--format", "json", "write", self.sim.link,
                       "01020=1234", f"01{BIT_PNO:03d}F=0", "01030.=3", "02005=0x00FF")
        self.assertExit(result, EXIT_OK)
        self.assertEqual([row["before"] for row in rows(result)],
                         [truth(20)[0], BIT_PATTERN, truth(30)[1], 1005])
        back = self.read("01020", f"01{BIT_PNO:03d}", "01030.", "01030", "02005")
        self.assertExit(back, EXIT_OK)
        self.assertEqual([row["value"] for row in rows(back)],
                         [1234, BIT_PATTERN & 0x7FFF, 3, truth(30)[0], 0xFF])

    def test_read_only_parameter_is_refused_by_the_instrument(self):
        result = mokta("--format", "json", "write", self.sim.link, "02002=7")
        self.assertExit(result, EXIT_PROTOCOL)
        back = self.read("02002")
        self.assertEqual(rows(back)[0]["value"], 1002)

    def test_bad_assignment_is_a_usage_error(self):
        for assignment in ("01020", "01020=70000", "01020=x"):
            with self.subTest(assignment=assignment):
                result = mokta("write", self.sim.link, assignment)
                self.assertExit(result, EXIT_USAGE)
                self.assertIn("ADDRESS=VALUE", result.stderr)


# Each fault is injected into the first answer of the instrument. The
# expected ends are the driver's documented ones; no value that the tool
# reports is ever other than the instrument's.
FAULT_CASES = [
    # fault, addresses, extra read options, exit code
    ("bcc", ["01005"], [], EXIT_OK),
    ("nak", ["01005"], [], EXIT_OK),
    ("soh", ["01005"], [], EXIT_OK),
    ("silence", ["01005"], [], EXIT_OK),
    ("drop", ["01005"], [], EXIT_OK),
    ("extra", ["01005"], [], EXIT_OK),
    ("eot", ["01005"], [], EXIT_NO_PARAMETER),
    ("bcc", ["01000"], ["--count", "20"], EXIT_OK),
    ("drop", ["01000"], ["--count", "20"], EXIT_OK),
    ("order", ["01000"], ["--count", "20"], EXIT_OK),
]


class FaultTest(unittest.TestCase):
    def test_each_fault_ends_as_documented(self):
        folder = tempfile.mkdtemp(prefix="mokta-e2e-")
        plant = os.path.join(folder, "plant.toml")
        write_plant(plant)
        for fault, addresses, options, code in FAULT_CASES:
            with self.subTest(fault=fault, addresses=addresses, options=options):
                sim = Simulator(folder, "line-" + fault, "--plant", plant, "--fault-script", "1:" + fault)
                try:
                    result = mokta("--format", "json", "read", sim.link, *addresses, *options,
                                   "--timeout", "100")
                finally:
                    sim.stop()
                self.assertEqual(result.returncode, code, result.stdout + result.stderr)
                for row in rows(result):
                    if row["value"] != "":
                        # A word the instrument did not deliver keeps its
                        # previous contents, 0 for a fresh read.
                        self.assertIn(row["value"], (truth(row["pno"])[0], 0), row)

    def test_faults_on_a_writes_answer(self):
        # Answer 1 is the block of the write's read, answers 2 and on the answers
        # to the write frame. A fault only changes what goes out: the
        # instrument has stored the value even when its ACK was lost.
        folder = tempfile.mkdtemp(prefix="mokta-e2e-")
        plant = os.path.join(folder, "plant.toml")
        write_plant(plant)
        cases = [("2:nak", EXIT_OK), ("2:silence", EXIT_OK), ("2:eot", EXIT_OK),
                 ("2:nak,3:nak,4:nak", EXIT_PROTOCOL), ("2:silence,3:silence,4:silence", EXIT_NO_REPLY),
                 ("1:eot", EXIT_NO_PARAMETER)]
        for script, code in cases:
            with self.subTest(script=script):
                sim = Simulator(folder, "line-w", "--plant", plant, "--fault-script", script)
                try:
                    result = mokta("--format", "json", "write", sim.link, "01020=4321", "--timeout", "100")
                    back = mokta("--format", "json", "read", sim.link, "01020")
                finally:
                    sim.stop()
                self.assertEqual(result.returncode, code, result.stdout + result.stderr)
                written = code != EXIT_NO_PARAMETER
                self.assertEqual(rows(back)[0]["value"], 4321 if written else truth(20)[0])

    def test_random_faults_never_give_a_wrong_value(self):
        folder = tempfile.mkdtemp(prefix="mokta-e2e-")
        plant = os.path.join(folder, "plant.toml")
        write_plant(plant)
        sim = Simulator(folder, "line", "--plant", plant, "--fault-rate", "0.3", "--fault-seed", "7")
        try:
            result = mokta("--format", "json", "poll", sim.link, "01001", "01050", "01100",
                           "01100.", "--interval", "0", "--rounds", "15", "--timeout", "100")
        finally:
            sim.stop()
        self.assertIn(result.returncode, (EXIT_OK, EXIT_NO_REPLY, EXIT_PROTOCOL, EXIT_NO_PARAMETER))
        readings = [json.loads(line) for line in result.stdout.splitlines()]
        self.assertEqual(len(readings), 60)
        good = [r for r in readings if r["result"] == 0]
        self.assertGreater(len(good), 0)
        for reading in good:
            pno = int(reading["gate"][2:5])
            expected = truth(pno)[1] if reading["gate"].endswith(".") else truth(pno)[0]
            expected_text = ("format " if reading["gate"].endswith(".") else "") + str(expected)
            self.assertEqual(reading["value"], expected_text, reading)


class PollTest(HostToolTest):
    def test_config_file_polls_two_channels_in_parallel(self):
        second = Simulator(self.folder, "second", "--plant", self.plant)
        self.addCleanup(second.stop)
        config = os.path.join(self.folder, "poll.toml")
        with open(config, "w", encoding="utf-8") as out:
            out.write(f'interval = 10\nrounds = 3\n'
                      f'[[channel]]\nport = "{self.sim.link}"\ngates = ["01001", "01002:4"]\n'
                      f'[[channel]]\nport = "{second.link}"\ntimeout = 200\ngates = ["02003"]\n')
        result = mokta("--format", "json", "poll", "--config", config)
        self.assertExit(result, EXIT_OK)
        readings = [json.loads(line) for line in result.stdout.splitlines()]
        self.assertEqual(sorted({r["port"] for r in readings}), sorted([self.sim.link, second.link]))
        self.assertEqual(len(readings), 3 * 3)
        self.assertIn("poll statistics", result.stderr)
        self.assertIn("6 transactions", result.stderr)
        self.assertIn("3 transactions", result.stderr)

    def test_bad_config_names_file_and_line(self):
        config = os.path.join(self.folder, "bad.toml")
        with open(config, "w", encoding="utf-8") as out:
            out.write('[[channel]]\nport = "x"\ngates = ["01001"]\nspeed = 3\n')
        result = mokta("poll", "--config", config)
        self.assertExit(result, EXIT_USAGE)
        self.assertIn(config + ":4:", result.stderr)
        self.assertIn("speed", result.stderr)

    def test_ctrl_c_closes_the_channel_and_prints_statistics(self):
        process = subprocess.Popen([MOKTA, "poll", self.sim.link, "01001", "--interval", "20"],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        time.sleep(1.0)
        process.send_signal(signal.SIGINT)
        out, errors = process.communicate(timeout=RUN_LIMIT)
        self.assertEqual(process.returncode, EXIT_OK, out + errors)
        self.assertIn("poll statistics", out)
        self.assertRegex(out, r"\d+ transactions, \d+ ok, 0 failed")
        # The port was released: the next program gets it at once.
        self.assertExit(self.read("01001"), EXIT_OK)

    def test_trace_shows_bytes_rts_edges_and_turnaround(self):
        trace = os.path.join(self.folder, "wire.trace")
        result = mokta("--format", "json", "--trace", trace, "read", self.sim.link, "01005")
        self.assertExit(result, EXIT_OK)
        self.assertNotEqual(rows(result)[0]["turnaround_ms"], "")
        with open(trace, encoding="utf-8") as text:
            events = [line.split(None, 2)[2].strip() for line in text if not line.startswith("#")]
        self.assertIn("tx 04 81 85 84 05", events)
        self.assertTrue(any(e.startswith("rts-on") for e in events))
        self.assertTrue(any(e.startswith("rts-off") for e in events))
        self.assertIn("rx 02", events)


class PortTest(unittest.TestCase):
    def test_missing_port(self):
        result = mokta("read", "/nonexistent/ttyX", "01001")
        self.assertEqual(result.returncode, EXIT_PORT)
        self.assertIn("does not exist", result.stderr)

    def test_busy_port(self):
        folder = tempfile.mkdtemp(prefix="mokta-e2e-")
        sim = Simulator(folder, "line")
        try:
            holder = os.open(sim.port, os.O_RDWR | os.O_NOCTTY)
            fcntl.flock(holder, fcntl.LOCK_EX | fcntl.LOCK_NB)
            try:
                result = mokta("read", sim.link, "01001")
            finally:
                os.close(holder)
        finally:
            sim.stop()
        self.assertEqual(result.returncode, EXIT_PORT)
        self.assertIn("busy", result.stderr)

    def test_bad_command_lines(self):
        for arguments in ([], ["read"], ["read", "NUL"], ["poll", "NUL"], ["frobnicate"],
                          ["read", "NUL", "01001", "--parity", "sideways"], ["decode", "zz"]):
            with self.subTest(arguments=arguments):
                self.assertEqual(mokta(*arguments).returncode, EXIT_USAGE)


class ToolTest(unittest.TestCase):
    def test_info_shows_the_announcement(self):
        result = mokta("--format", "json", "info")
        self.assertEqual(result.returncode, EXIT_OK, result.stderr)
        fields = {row["field"]: row["value"] for row in json.loads(result.stdout)}
        self.assertIn("MOKTA", fields["banner"])
        self.assertEqual(fields["baudRate"], 9600)

    def test_decode_explains_frames_and_checks_their_bcc(self):
        result = mokta("--format", "json", "decode", "04 81 85 84 05", "02 85 84 81 82 03 81", "06")
        self.assertEqual(result.returncode, EXIT_OK, result.stderr)
        self.assertEqual([row["bcc"] for row in json.loads(result.stdout)], ["ok", "ok", "-"])
        wrong = mokta("decode", "04818585", "05")
        self.assertEqual(wrong.returncode, EXIT_PROTOCOL)
        self.assertIn("wrong", wrong.stdout)

    def test_demo_polls_the_built_in_plant(self):
        result = mokta("demo", "--rounds", "3", "--interval", "50", "--no-live")
        self.assertEqual(result.returncode, EXIT_OK, result.stdout + result.stderr)
        self.assertIn("round 3", result.stdout)
        self.assertIn("poll statistics", result.stdout)


if __name__ == "__main__":
    MOKTA, MOKTA_SIM = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0], *sys.argv[3:]], verbosity=2)
