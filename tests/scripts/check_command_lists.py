#!/usr/bin/env python3
"""Compares the command words of the help text (mex/kestmex.m), the command reference
(docs/commands.md) and the module itself (the rows of mex/KestMexFcn/CommandTable.cpp and the
words mex/KestMexEntry.cpp handles before the table). Fails naming every word one of them
lacks.

Usage: check_command_lists.py <source root>
"""
import re
import sys
from pathlib import Path


def words(path, line_pattern, word_pattern, first_block=False):
    found = set()
    lines = Path(path).read_text(encoding="utf-8").splitlines()
    if first_block:
        # `help` shows the first block of comment lines only: a blank line ends it.
        end = next((i for i, line in enumerate(lines) if not line.startswith("%")), len(lines))
        lines = lines[:end]
    for line in lines:
        if re.search(line_pattern, line):
            found.update(re.findall(word_pattern, line))
    return found


def main():
    root = Path(sys.argv[1])
    quoted = r"'([a-z0-9][a-z0-9-]*)'"
    sources = {
        # The command list of `help kestmex`: "%     'time'          - display latest PAX time".
        "help text (mex/kestmex.m)": words(root / "mex/kestmex.m", r"^%\s+'[^']+'\s+- ", quoted,
                                           first_block=True),
        # One heading per command: "### 'cont', 'cont-adc'".
        "reference (docs/commands.md)": words(root / "docs/commands.md", r"^### '", quoted),
        "command table and entry": (
            words(root / "mex/KestMexFcn/CommandTable.cpp", r'^\s*\{"', r'\{"([^"]+)",')
            | words(root / "mex/KestMexEntry.cpp", r'command == "', r'command == "([^"]+)"')),
    }
    failures = [f"{name}: no command words found" for name, found in sources.items() if not found]
    # The help file is one block of comments; a line that is not one hides the rest from `help`.
    help_lines = (root / "mex/kestmex.m").read_text(encoding="utf-8").splitlines()
    failures += [f"help text (mex/kestmex.m): line {i + 1} is not a comment; `help kestmex` "
                 "stops before it" for i, line in enumerate(help_lines) if not line.startswith("%")]
    every = set().union(*sources.values())
    for name, found in sources.items():
        missing = sorted(every - found)
        if missing:
            failures.append(f"{name} lacks: {', '.join(missing)}")
    if failures:
        print("\n".join(failures))
        return 1
    print(f"{len(every)} command words in all three")
    return 0


if __name__ == "__main__":
    sys.exit(main())
