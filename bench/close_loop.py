#!/usr/bin/python3
"""Starts Voxtape, closes it with F9 and Enter as a person would, N times in a row, and counts the
exit statuses and any X error it printed. Run inside scripts/testenv:

    scripts/testenv -- bench/close_loop.py 200
"""

from __future__ import annotations

import os
import sys
import tempfile
from collections import Counter
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))
import vtharness as vt  # noqa: E402


def main() -> int:
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 200
    if not os.environ.get("VT_TESTENV_DIR"):
        print("run inside scripts/testenv", file=sys.stderr)
        return 2
    work = Path(tempfile.mkdtemp(prefix="vt-close-loop-"))
    folder = vt.copy_program_folder(work / "voxtape")
    statuses: Counter[int] = Counter()
    x_errors = 0
    for i in range(runs):
        program = vt.Program(folder / "voxtape", log_dir=work / "logs")
        try:
            program.wait_window()
            program.key("F9")
            vt.press_keys("Return", wid=program.wait_window("^Exit Voxtape$"))
            status = program.wait_exit(timeout=10)
        except vt.HarnessError as e:
            print(f"run {i + 1}: {e}", file=sys.stderr)
            status = -1
        finally:
            program.kill()
        statuses[status] += 1
        if "X Error" in program.output():
            x_errors += 1
            print(f"run {i + 1}: {program.output().strip()}", file=sys.stderr)
    print(f"{runs} closes: exit statuses {dict(statuses)}, X errors printed in {x_errors}")
    return 0 if statuses == Counter({0: runs}) and x_errors == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
