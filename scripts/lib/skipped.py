#!/usr/bin/env python3
"""Prints each test that ctest skipped in the given build folders, with the
reason the test gave (GoogleTest's "Skipped" message, or a test script's last
line of output)."""
import pathlib
import re
import sys


def skipped(log_text):
    # ctest's LastTest.log: a block per test, its output between "Output:"
    # and "<end of output>", then its outcome.
    for block in re.split(r'\n\d+/\d+ Testing: ', log_text)[1:]:
        # A skip is reported as "Test Skipped." (a skip return code) or as a
        # pass for which the skip expression (GoogleTest's [  SKIPPED ]) was found.
        if '\nTest Skipped.' not in block and '\nSkip regular expression found' not in block:
            continue
        name = block.split('\n', 1)[0].split('  # GetParam()')[0].strip()
        output = block.split('<end of output>')[0].split('Output:\n', 1)[-1].splitlines()[1:]
        reason = ''
        for i, line in enumerate(output):
            if line.endswith(': Skipped') and i + 1 < len(output):
                reason = output[i + 1].strip()
                break
        if not reason and output:
            reason = output[-1].strip()
        yield name, reason or '(no reason given)'


def main():
    for folder in sys.argv[1:]:
        log = pathlib.Path(folder) / 'Testing' / 'Temporary' / 'LastTest.log'
        if log.exists():
            for name, reason in skipped(log.read_text(errors='replace')):
                print(f'  {pathlib.Path(folder).name}: {name}: {reason}')


if __name__ == '__main__':
    main()
