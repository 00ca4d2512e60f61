#!/usr/bin/env python3
"""Checks the include lines of the source tree against the layering rules:

1. Source/Stream/Framework includes no other subsystem folder of Source/Stream.
2. Source/Stream/Network includes no stream code: nothing of Source/Stream outside Network.
3. Only the plug-in entry itself (the files at the root of Source/Stream) includes those root files
   (StreamPlugin, StreamAlgorithmFactory, StreamAlgorithmControllerFactory, StreamDataAnnotationFactory).
4. Apps/ includes nothing under Source/Stream.

Usage: check_layering.py ROOT      prints "<file>:<line>: <rule broken>: <include>" per offence, exit 1
       check_layering.py --self-test  builds a tree that breaks each rule once and checks the report
"""
import os
import re
import sys
import tempfile

INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]')
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".cu", ".inl")


def stream_path(include):
    """The include as a path below Source/Stream ("Framework/Stream.h"), or None for other headers."""
    for prefix in ("Source/Stream/", "Stream/"):
        if include.startswith(prefix):
            return include[len(prefix):]
    return None


def offences(root):
    found = []
    for top in ("Source", "Apps"):
        for directory, _, files in os.walk(os.path.join(root, top)):
            for name in sorted(files):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.join(directory, name)
                relative = os.path.relpath(path, root).replace(os.sep, "/")
                with open(path, encoding="utf-8", errors="replace") as f:
                    for number, text in enumerate(f, 1):
                        match = INCLUDE.match(text)
                        if not match:
                            continue
                        target = stream_path(match.group(1))
                        if target is None:
                            continue
                        rule = broken_rule(relative, target)
                        if rule:
                            found.append("%s:%d: %s: %s" % (relative, number, rule, match.group(1)))
    return found


def broken_rule(relative, target):
    in_stream = relative.startswith("Source/Stream/")
    own = relative[len("Source/Stream/"):] if in_stream else None
    own_folder = own.split("/")[0] if own and "/" in own else ""
    target_folder = target.split("/")[0] if "/" in target else ""
    if relative.startswith("Apps/"):
        return "the host application includes plug-in code (reach it through the host's registries)"
    if not in_stream:
        return None
    if target_folder == "" and own_folder != "":
        return "only the plug-in entry includes its root files"
    if own_folder == "Framework" and target_folder not in ("", "Framework"):
        return "Framework includes another subsystem (%s)" % target_folder
    if own_folder == "Network" and target_folder != "Network":
        return "Network includes stream code"
    return None


def self_test():
    cases = {
        "Source/Stream/Framework/Good.cpp": '#include "Stream/Framework/Stream.h"\n#include "Host/Core/Log.h"\n',
        "Source/Stream/Framework/Bad.cpp": '// one include\n#include "Stream/Simulated/FakeImageStream.h"\n',
        "Source/Stream/Network/Bad.h": '#pragma once\n#include "Stream/Network/Other.h"\n#include <Stream/Framework/StreamData.h>\n',
        "Source/Stream/Simulated/Bad.cpp": '#include "Stream/StreamPlugin.h"\n',
        "Source/Stream/StreamPlugin.cpp": '#include "Stream/StreamAlgorithmFactory.h"\n#include "Stream/Simulated/X.h"\n',
        "Apps/corvexis/Bad.cpp": '#include "Host/Lib/FactoryRegistry.h"\n\n  #  include "Stream/Framework/Stream.h"\n',
        "Source/Host/Lib/Fine.cpp": '#include "Host/Lib/Algorithm.h"\n',
    }
    expected = [
        "Apps/corvexis/Bad.cpp:3: the host application includes plug-in code",
        "Source/Stream/Framework/Bad.cpp:2: Framework includes another subsystem (Simulated)",
        "Source/Stream/Network/Bad.h:3: Network includes stream code",
        "Source/Stream/Simulated/Bad.cpp:1: only the plug-in entry includes its root files",
    ]
    with tempfile.TemporaryDirectory() as root:
        for relative, text in cases.items():
            path = os.path.join(root, relative)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as f:
                f.write(text)
        found = offences(root)
    ok = len(found) == len(expected) and all(f.startswith(e) for f, e in zip(sorted(found), expected))
    if not ok:
        print("self-test failed; expected:\n  " + "\n  ".join(expected) + "\nfound:\n  " + "\n  ".join(sorted(found)))
        return 1
    print("self-test passed: %d offences found as expected" % len(found))
    return 0


if __name__ == "__main__":
    if len(sys.argv) == 2 and sys.argv[1] == "--self-test":
        sys.exit(self_test())
    if len(sys.argv) != 2:
        print(__doc__)
        sys.exit(2)
    report = offences(sys.argv[1])
    for line in report:
        print(line)
    if report:
        print("%d include line(s) break the layering rules" % len(report))
        sys.exit(1)
    print("layering rules hold")
