#!/usr/bin/env python3
"""Runs a command and appends one line to a file: its wall time in ns and
its user and system CPU time in seconds, to the microsecond (with those of
the children it waited for). GNU time gives CPU time in hundredths of a
second, as long as a whole short render takes. The wall time is taken
around the command alone, without this script's own start. (Peak memory is
left to GNU time: a child forked from here would count this interpreter's.)

    measure.py FILE COMMAND [ARG ...]

The command's standard output and error are left as they are; the exit
status is the command's."""
import os
import sys
import time


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    out, command = sys.argv[1], sys.argv[2:]
    start = time.monotonic_ns()
    pid = os.fork()
    if pid == 0:
        try:
            os.execvp(command[0], command)
        finally:
            os._exit(127)
    _, status, usage = os.wait4(pid, 0)
    wall = time.monotonic_ns() - start
    with open(out, "a") as f:
        f.write("%d %.6f %.6f\n" % (wall, usage.ru_utime, usage.ru_stime))
    sys.exit(os.waitstatus_to_exitcode(status))


if __name__ == "__main__":
    main()
