"""A partner of a running Korvane service, over the partner library's C
interface (korvane_partner.h) with ctypes.

    import korvane

    with korvane.Partner(service="demo") as p:
        events = p.send_command("1,2,3,4,5,100")   # [Event(kind='encoded', ...)]
        p.send_console(console_octets)            # the reports they complete
        p.send_keepalive()                        # [Event(kind='keepalive', ...)]

Every send is synchronous: it returns once the service has handled the
block, with the events the block caused, in the order the service sent
them. A failure raises PartnerError (a subclass per status) with `status`
(the C status, KORVANE_...) and `text` (the library's reason).

After a timeout (PartnerTimeout) the service may still handle the block;
what it sends for it later is never an event of a later send (the library
sets the abandoned request aside). Send the command again if it is still
wanted.

The library: the file named by the environment variable
KORVANE_PARTNER_LIBRARY, else libkorvane-partner.so.1 (korvane-partner.dll
on Windows) as the system's loader finds it.
"""

from __future__ import annotations

import ctypes
import os
import sys
from dataclasses import dataclass, field
from typing import List, Optional, Tuple, Type

__all__ = [
    "Event",
    "Partner",
    "PartnerError",
    "NoService",
    "PartnerTimeout",
    "BadArgument",
    "PartnerIOError",
    "SeveralServices",
    "ServiceGone",
    "Reentered",
    "library",
    "status_text",
    "version",
    "version_number",
    "KEEPALIVE",
]

# Statuses of korvane_partner.h.
OK = 0
NO_SERVICE = -1
TIMEOUT = -2
BAD_ARGUMENT = -3
IO_ERROR = -4
SEVERAL_SERVICES = -5
SERVICE_GONE = -6
REENTERED = -7

# Event kinds of korvane_partner.h, and their names here.
_KINDS = {1: "encoded", 2: "report", 3: "keepalive"}

#: The console's keep-alive, the 13-octet empty root, which the service echoes.
KEEPALIVE = bytes.fromhex("7F8FFFFED95C80308000000000")


class PartnerError(Exception):
    """A failed call: `status` is the C status, `text` the library's reason."""

    def __init__(self, status: int, text: str) -> None:
        self.status = status
        self.text = text
        super().__init__(f"{text} ({status_text(status)})" if text else status_text(status))


class NoService(PartnerError):
    """No service is running, or not the one named."""


class PartnerTimeout(PartnerError):
    """The service did not answer the block in time."""


class BadArgument(PartnerError, ValueError):
    """An argument out of range (a bad timeout, an empty console block, ...)."""


class PartnerIOError(PartnerError, OSError):
    """The endpoint could not be opened or used."""


class SeveralServices(PartnerError):
    """Several services run and none was named."""


class ServiceGone(PartnerError):
    """The service went away or refused the block."""


class Reentered(PartnerError):
    """A send on a Partner from inside one of its own sends."""


_ERRORS = {
    NO_SERVICE: NoService,
    TIMEOUT: PartnerTimeout,
    BAD_ARGUMENT: BadArgument,
    IO_ERROR: PartnerIOError,
    SEVERAL_SERVICES: SeveralServices,
    SERVICE_GONE: ServiceGone,
    REENTERED: Reentered,
}


@dataclass(frozen=True)
class Event:
    """One block the service sent during a send.

    kind: "encoded" (an Ember message for the console), "report" (a parameter
    report) or "keepalive" (the keep-alive came back).
    octets: the block as sent (for a report the 513-octet report field).
    report: a report's line as the service sent it ("1,2,3,4,5,100", a text
    report ends in a blank and a line feed), else None.
    path: a report's five path numbers, else None.
    value: a report's value, an int or a str (every "~" read as a blank),
    else None.
    """

    kind: str
    octets: bytes
    report: Optional[str] = None
    path: Optional[Tuple[int, int, int, int, int]] = None
    value: Optional[object] = field(default=None)


def _parse_report(line: str) -> Tuple[Optional[Tuple[int, int, int, int, int]], Optional[object]]:
    parts = line.split(",", 5)
    if len(parts) != 6:
        return None, None
    try:
        path = tuple(int(p) for p in parts[:5])
    except ValueError:
        return None, None
    rest = parts[5]
    if rest.endswith(" \n"):
        return path, rest[:-2].replace("~", " ")  # type: ignore[return-value]
    try:
        return path, int(rest)  # type: ignore[return-value]
    except ValueError:
        return None, None


class _CEvent(ctypes.Structure):
    _fields_ = [
        ("kind", ctypes.c_int),
        ("octets", ctypes.POINTER(ctypes.c_uint8)),
        ("count", ctypes.c_size_t),
        ("report", ctypes.c_char_p),
    ]


_CALLBACK = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.POINTER(_CEvent))

_library: Optional[ctypes.CDLL] = None


def library() -> ctypes.CDLL:
    """The partner library, loaded on first use."""
    global _library
    if _library is not None:
        return _library
    path = os.environ.get("KORVANE_PARTNER_LIBRARY")
    if not path:
        path = "korvane-partner.dll" if sys.platform == "win32" else "libkorvane-partner.so.1"
    try:
        lib = ctypes.CDLL(path)
    except OSError as error:
        raise PartnerError(IO_ERROR, f"cannot load the partner library {path}: {error}") from None
    handle = ctypes.c_void_p
    lib.korvane_partner_version.restype = ctypes.c_char_p
    lib.korvane_partner_version.argtypes = []
    lib.korvane_partner_version_number.restype = ctypes.c_int
    lib.korvane_partner_version_number.argtypes = []
    lib.korvane_partner_status_text.restype = ctypes.c_char_p
    lib.korvane_partner_status_text.argtypes = [ctypes.c_int]
    lib.korvane_partner_open.restype = ctypes.c_int
    lib.korvane_partner_open.argtypes = [
        ctypes.c_char_p,
        ctypes.c_char_p,
        ctypes.c_int,
        ctypes.POINTER(handle),
    ]
    lib.korvane_partner_send_command.restype = ctypes.c_int
    lib.korvane_partner_send_command.argtypes = [handle, ctypes.c_char_p, _CALLBACK, ctypes.c_void_p]
    lib.korvane_partner_send_console.restype = ctypes.c_int
    lib.korvane_partner_send_console.argtypes = [
        handle,
        ctypes.POINTER(ctypes.c_uint8),
        ctypes.c_size_t,
        _CALLBACK,
        ctypes.c_void_p,
    ]
    lib.korvane_partner_send_keepalive.restype = ctypes.c_int
    lib.korvane_partner_send_keepalive.argtypes = [handle, _CALLBACK, ctypes.c_void_p]
    lib.korvane_partner_last_error.restype = ctypes.c_char_p
    lib.korvane_partner_last_error.argtypes = [handle]
    lib.korvane_partner_service.restype = ctypes.c_char_p
    lib.korvane_partner_service.argtypes = [handle]
    lib.korvane_partner_close.restype = ctypes.c_int
    lib.korvane_partner_close.argtypes = [handle]
    _library = lib
    return lib


def _text(raw: Optional[bytes]) -> str:
    return raw.decode("utf-8", "replace") if raw else ""


def status_text(status: int) -> str:
    """The library's fixed text of a status ("timeout", ...; "unknown status")."""
    return _text(library().korvane_partner_status_text(status))


def version() -> str:
    """The loaded library's version, "MAJOR.MINOR.PATCH.BUILD"."""
    return _text(library().korvane_partner_version())


def version_number() -> int:
    """The loaded library's version as MAJOR * 1000000 + MINOR * 1000 + PATCH."""
    return int(library().korvane_partner_version_number())


def _error(status: int, text: str) -> PartnerError:
    kind: Type[PartnerError] = _ERRORS.get(status, PartnerError)
    return kind(status, text)


class Partner:
    """One partner session: its endpoint `name` (default TEST_RX) and the
    service found (`service` "ARG" for Korvane_ARG or a full name; None: the
    only one running). Every send waits at most `timeout_ms`.

    Use it from the thread that made it. Close it (or use `with`) to remove
    the endpoint.
    """

    def __init__(
        self, service: Optional[str] = None, name: Optional[str] = None, timeout_ms: int = 5000
    ) -> None:
        lib = library()
        if not isinstance(timeout_ms, int) or isinstance(timeout_ms, bool):
            raise BadArgument(BAD_ARGUMENT, f"timeout_ms must be an int, not {timeout_ms!r}")
        self._lib = lib
        self._handle = ctypes.c_void_p()
        self._sending = False
        status = lib.korvane_partner_open(
            _encode(name, "name"), _encode(service, "service"), timeout_ms, ctypes.byref(self._handle)
        )
        if status != OK:
            raise _error(status, _text(lib.korvane_partner_last_error(None)))

    @property
    def service(self) -> str:
        """The full name of the service found ("Korvane_...")."""
        return _text(self._lib.korvane_partner_service(self._open()))

    def send_command(self, line: str) -> List[Event]:
        """Sends one command line ("1,2,3,4,5,100"); returns its encoded
        message as an event. A line without a value gives no event."""
        if not isinstance(line, str):
            raise BadArgument(BAD_ARGUMENT, f"a command line is a str, not {type(line).__name__}")
        if "\0" in line:
            raise BadArgument(BAD_ARGUMENT, "a command line holds no NUL")
        encoded = line.encode("utf-8")
        return self._send(lambda h, cb: self._lib.korvane_partner_send_command(h, encoded, cb, None))

    def send_console(self, octets: bytes) -> List[Event]:
        """Sends console octets (1 to 65535) as one block; returns the
        reports they complete. 13 octets are a keep-alive: its echo."""
        data = bytes(octets)
        buffer = (ctypes.c_uint8 * max(len(data), 1)).from_buffer_copy(data or b"\0")
        return self._send(
            lambda h, cb: self._lib.korvane_partner_send_console(h, buffer, len(data), cb, None)
        )

    def send_keepalive(self) -> List[Event]:
        """Sends the keep-alive; returns its echo."""
        return self._send(lambda h, cb: self._lib.korvane_partner_send_keepalive(h, cb, None))

    def close(self) -> None:
        """Removes the endpoint; closing twice is harmless."""
        if self._sending:
            raise Reentered(REENTERED, "close() from inside a send of this Partner")
        if self._handle:
            self._lib.korvane_partner_close(self._handle)
            self._handle = ctypes.c_void_p()

    def __enter__(self) -> "Partner":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:
            pass

    def _open(self) -> ctypes.c_void_p:
        if not self._handle:
            raise PartnerIOError(IO_ERROR, "the Partner is closed")
        return self._handle

    def _send(self, call) -> List[Event]:  # type: ignore[no-untyped-def]
        handle = self._open()
        events: List[Event] = []

        def deliver(_context: Optional[int], event_p: "ctypes._Pointer[_CEvent]") -> None:
            event = event_p.contents
            octets = ctypes.string_at(event.octets, event.count) if event.count else b""
            kind = _KINDS.get(event.kind)
            if kind is None:
                return  # a kind of a newer library
            if kind == "report":
                line = _text(event.report)
                path, value = _parse_report(line)
                events.append(Event(kind, octets, line, path, value))
            else:
                events.append(Event(kind, octets))

        callback = _CALLBACK(deliver)
        self._sending = True
        try:
            status = call(handle, callback)
        finally:
            self._sending = False
        if status != OK:
            raise _error(status, _text(self._lib.korvane_partner_last_error(handle)))
        return events


def _encode(text: Optional[str], what: str) -> Optional[bytes]:
    if text is None:
        return None
    if not isinstance(text, str) or "\0" in text:
        raise BadArgument(BAD_ARGUMENT, f"{what} must be a str without NUL")
    return text.encode("utf-8")
