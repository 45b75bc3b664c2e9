"""Reads this process's memory figures from /proc/self/status (Linux)."""


def status_kib(field):
    """The value of a /proc/self/status field such as VmRSS or VmHWM, in KiB."""
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise RuntimeError(f"{field} missing from /proc/self/status")
