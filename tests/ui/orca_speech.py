#!/usr/bin/python3
"""Splits what Orca spoke into the steps of a walk through an application.

Orca's debug log (orca --debug-file=LOG) records each utterance it hands to the speech server as
a line "HH:MM:SS.ffffff - SPEECH OUTPUT: 'the words'" followed by the voice used. The steps file
has one line per step, "HH:MM:SS.fffffffff NAME", the time the step began, in order (as written
by `date +%H:%M:%S.%N`); an utterance belongs to the last step that began before it.

Usage: orca_speech.py LOG STEPS OUT
Writes into the folder OUT one file per step, named after it, with what was spoken during the
step, one utterance a line with its runs of blanks made one blank; and the file "walk" with every
step's name followed by its utterances, indented, for reading.
"""

import os
import re
import sys

SPEECH = re.compile(r"^(\d\d):(\d\d):(\d\d\.\d+) - SPEECH OUTPUT: '(.*)$")
# What follows the closing quote: an optional voice name and the voice's settings.
VOICE = re.compile(r"'\s*(voice=\S+)?\s*\{.*\}\s*$")
CONTINUATION = " " * 18  # how Orca indents the further lines of one utterance
HALF_DAY = 12 * 3600


def seconds(hours, minutes, rest):
    return int(hours) * 3600 + int(minutes) * 60 + float(rest)


def after(base):
    """Seconds from midnight before `base`, made to count on from it: a walk may cross midnight
    (but lasts much less than half a day)."""
    return lambda time: time + 24 * 3600 if time < base - HALF_DAY else time


def utterances(log_path):
    """(seconds from midnight, words) for each utterance in the log, in order."""
    pending = None
    with open(log_path, encoding="utf-8", errors="replace") as log:
        for line in log:
            line = line.rstrip("\n")
            if pending is not None and line.startswith(CONTINUATION):
                pending[1] += " " + line.strip()
                continue
            if pending is not None:
                yield finish(*pending)
                pending = None
            match = SPEECH.match(line)
            if match:
                pending = [seconds(*match.group(1, 2, 3)), match.group(4)]
    if pending is not None:
        yield finish(*pending)


def finish(time, text):
    text = VOICE.sub("", text)
    if text.endswith("'"):
        text = text[:-1]
    return time, " ".join(text.split())


def steps(steps_path):
    """(seconds from midnight, name) for each step, in order."""
    result = []
    with open(steps_path, encoding="utf-8") as lines:
        for line in lines:
            stamp, name = line.split(maxsplit=1)
            result.append((seconds(*stamp.split(":")), name.strip()))
    return result


def main():
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    log_path, steps_path, out = sys.argv[1:]
    walk = steps(steps_path)
    if not walk:
        return 1
    on = after(walk[0][0])
    walk = [(on(start), name) for start, name in walk]
    spoken = {name: [] for _, name in walk}
    for time, words in utterances(log_path):
        time = on(time)
        current = None
        for start, name in walk:
            if start <= time:
                current = name
        if current is not None:
            spoken[current].append(words)
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "walk"), "w", encoding="utf-8") as everything:
        for _, name in walk:
            with open(os.path.join(out, name), "w", encoding="utf-8") as step:
                step.writelines(words + "\n" for words in spoken[name])
            everything.write(name + "\n")
            everything.writelines("    " + words + "\n" for words in spoken[name])
    return 0


if __name__ == "__main__":
    sys.exit(main())
