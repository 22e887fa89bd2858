"""The Python package korvane (python/) against a real `korvane serve` in a
runtime folder of the test's own. KORVANE_CLI names the korvane program,
KORVANE_PARTNER_LIBRARY the partner library; python/ is on the path."""

import os
import signal
import subprocess
import tempfile
import time

import pytest

import korvane

SERVICE = "pytest"


def console(tree_hex: str) -> bytes:
    """A console message: the root holding the tree."""
    return bytes.fromhex("7F8FFFFED95C803080" + tree_hex.replace(" ", "") + "00000000")


# Ctx 7 > Ctx 1 > Ctx 2 > Ctx 3 > Ctx 4 > Prv 5 > Integer 100, and the same
# with the UTF8String "Main out".
VALUE_100 = console("A71B3119 A1173115 A2133111 A30F310D A40B3109 E5073105 6303020164")
MAIN_OUT = console(
    "A7223120 A11E311C A21A3118 A3163114 A4123110 E50E310C 630A0C08 4D61696E206F7574"
)
ENCODED_100 = bytes.fromhex(
    "7F8FFFFED95C80308000000000 7F8FFFFED95C803080 A1173115A2133111A30F310DA40B3109"
    "E50731056303020164 00000000".replace(" ", "")
)


@pytest.fixture
def runtime(monkeypatch):
    with tempfile.TemporaryDirectory(prefix="korvane-py-") as folder:
        monkeypatch.setenv("KORVANE_RUNTIME_DIR", folder)
        yield folder


@pytest.fixture
def service(runtime):
    process = subprocess.Popen(
        [os.environ["KORVANE_CLI"], "serve", SERVICE],
        stdin=subprocess.DEVNULL,
        stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL,
    )
    until = time.monotonic() + 20
    while not os.path.exists(os.path.join(runtime, "Korvane_" + SERVICE)):
        assert time.monotonic() < until, "the service never came up"
        assert process.poll() is None, "the service ended"
        time.sleep(0.02)
    yield process
    process.send_signal(signal.SIGCONT)
    process.terminate()
    process.wait(timeout=20)


def test_every_event_kind(service):
    with korvane.Partner(service=SERVICE) as p:
        assert p.service == "Korvane_" + SERVICE
        assert p.send_command("1,2,3,4,5,100") == [korvane.Event("encoded", ENCODED_100)]
        assert p.send_command("1,2,3") == []  # no value: nothing comes back
        reports = p.send_console(VALUE_100 + MAIN_OUT)
        assert [(e.kind, e.report, e.path, e.value) for e in reports] == [
            ("report", "1,2,3,4,5,100", (1, 2, 3, 4, 5), 100),
            ("report", "1,2,3,4,5,Main~out \n", (1, 2, 3, 4, 5), "Main out"),
        ]
        assert len(reports[0].octets) == 513
        assert p.send_keepalive() == [korvane.Event("keepalive", korvane.KEEPALIVE)]


def test_no_service(runtime):
    with pytest.raises(korvane.NoService) as failure:
        korvane.Partner(service=SERVICE)
    assert failure.value.status == -1
    assert "no service Korvane_pytest is running" in failure.value.text
    with pytest.raises(korvane.NoService):
        korvane.Partner()


def test_a_timeout_then_only_own_events(service):
    with korvane.Partner(service=SERVICE, timeout_ms=1000) as p:
        service.send_signal(signal.SIGSTOP)  # cannot answer: the send gives up
        with pytest.raises(korvane.PartnerTimeout) as failure:
            p.send_command("1,2,3,4,5,100")
        assert failure.value.status == -2
        assert str(failure.value).endswith("(timeout)")
        service.send_signal(signal.SIGCONT)
        # The late encoded block of the abandoned command is no event here.
        assert [e.kind for e in p.send_keepalive()] == ["keepalive"]


@pytest.mark.parametrize(
    "call",
    [
        lambda p: p.send_console(b""),
        lambda p: p.send_console(bytes(65536)),
        lambda p: p.send_command(""),
        lambda p: p.send_command("1,2\0"),
        lambda p: p.send_command(b"1,2,3,4,5,1"),
    ],
)
def test_bad_arguments(service, call):
    with korvane.Partner(service=SERVICE) as p:
        with pytest.raises(korvane.BadArgument) as failure:
            call(p)
        assert failure.value.status == -3


@pytest.mark.parametrize("timeout", [0, 3600001, -5])
def test_bad_timeouts(service, timeout):
    with pytest.raises(korvane.BadArgument) as failure:
        korvane.Partner(service=SERVICE, timeout_ms=timeout)
    assert "timeout" in failure.value.text


def test_statuses_and_version():
    assert korvane.status_text(-7) == "called from its own callback"
    assert korvane.status_text(42) == "unknown status"
    number = korvane.version_number()
    major, minor, patch = (int(x) for x in korvane.version().split(".")[:3])
    assert number == major * 1000000 + minor * 1000 + patch
