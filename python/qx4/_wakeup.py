"""Wakes a thread waiting for notifications as soon as the library's receive thread has
bytes (``QX4SetReceivedHook``), instead of polling.

The hook runs on the receive thread and must neither block nor call into the library, so
no Python runs there: the hook is libc's ``sem_post`` on a semaphore of ours (it has the
hook's shape, one pointer in), and the waiting thread sleeps in ``sem_timedwait`` with
the GIL released. Where libc has no POSIX semaphores the waiter polls instead."""

from __future__ import annotations

import contextlib
import ctypes
import time

_SEM_T_SIZE = 64  # glibc's sem_t is 32 bytes on 64-bit systems, 16 on 32-bit ones


class _Timespec(ctypes.Structure):
    _fields_ = [("tv_sec", ctypes.c_long), ("tv_nsec", ctypes.c_long)]


class Wakeup:
    """One per process: the library has one received hook."""

    def __init__(self) -> None:
        self.hook: int | None = None
        self.user: int | None = None
        self._semaphore = ctypes.create_string_buffer(_SEM_T_SIZE)
        with contextlib.suppress(OSError, AttributeError):
            libc = ctypes.CDLL(None)
            post, wait, try_wait = libc.sem_post, libc.sem_timedwait, libc.sem_trywait
            if libc.sem_init(self._semaphore, 0, 0) == 0:
                wait.argtypes = [ctypes.c_void_p, ctypes.POINTER(_Timespec)]
                try_wait.argtypes = [ctypes.c_void_p]
                self._wait, self._try_wait = wait, try_wait
                self.hook = ctypes.cast(post, ctypes.c_void_p).value
                self.user = ctypes.addressof(self._semaphore)

    def wait(self, seconds: float) -> None:
        """Returns when bytes arrived, a signal came, or after ``seconds``."""
        if self.hook is None:
            time.sleep(min(seconds, 0.05))
            return
        deadline = time.time() + max(0.0, seconds)
        whole = int(deadline)
        self._wait(self.user, ctypes.byref(_Timespec(whole, int((deadline - whole) * 1e9))))
        while self._try_wait(self.user) == 0:  # one wake for everything that came
            pass

    def wake(self) -> None:
        """Wakes the waiter from this process (a close, say)."""
        if self.hook is not None:
            ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p)(self.hook)(self.user)


WAKEUP = Wakeup()
