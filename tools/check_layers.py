#!/usr/bin/env python3
"""Fails on any #include that reaches upward or across the layers of the tree.

Every include of every C/C++ file is resolved the way the compiler resolves it
in the build: a quoted name first beside the including file, then along the
include directories of the target the file belongs to (the table SEARCH below
mirrors the target_include_directories of the CMake files; keep the two in
step). A quoted include that resolves nowhere fails: the check cannot place it.
An angle include that resolves nowhere is a system header and is ignored.

The rules, on the file an include resolves to:
  - algorithm/: a layer includes only from itself and the layers below it
    (LAYER_DEPS); nothing outside algorithm/. Inside algorithm/match/ the
    rooms (its subfolders, and match/ itself as "match") follow the same rule
    among themselves (MATCH_ROOM_DEPS).
  - platform/ (outside platform/sim/), driver/, adapters/: product code never
    includes a simulator header (platform/sim/ or a sim_* rig header);
    platform/ includes only platform/; driver/ and adapters/ include
    themselves and platform/ only, never each other.
  - bench/, testsupport/, fuzz/: never include from tests/.

Run: python3 tools/check_layers.py [ROOT]    (ROOT: the repository, default
the one holding this script). Exit status 1 on any violation.
"""
import os
import re
import sys
from pathlib import Path

SOURCE_SUFFIXES = {".h", ".hpp", ".c", ".cc", ".cpp", ".inc"}
SKIPPED_DIRS = {".git", ".ci", "tools"}

# Which algorithm layers each layer may include from (itself included).
LAYER_DEPS = {
    "math": {"math"},
    "imaging": {"math", "imaging"},
    "objects": {"math", "imaging", "objects"},
    "formats": {"math", "imaging", "objects", "formats"},
    "extract": {"math", "imaging", "objects", "formats", "extract"},
    "liveness": {"math", "imaging", "objects", "liveness"},
    "match": {"math", "imaging", "objects", "formats", "extract", "liveness", "match"},
    "api": {"math", "imaging", "objects", "formats", "extract", "liveness", "match", "api"},
}


def closure(deps):
    """Each key's own entry and everything below it, transitively."""
    def below(room, seen):
        for d in deps[room]:
            if d not in seen:
                seen.add(d)
                below(d, seen)
        return seen
    return {room: below(room, {room}) for room in deps}


# The rooms of algorithm/match/ (bottom to top) and the rooms each includes
# from directly; "match" is the folder itself (the algorithm object and the
# presets). Mirrors the rooms' link order in algorithm/CMakeLists.txt.
MATCH_ROOM_DEPS = closure({
    "chain": [],
    "linked_cluster": [],
    "fourier": ["chain"],
    "verifiers": ["chain", "linked_cluster", "fourier"],
    "extractors": ["chain"],
    "multitemplate": ["verifiers"],
    "verify": ["multitemplate"],
    "update": ["verify"],
    "match": ["update", "extractors"],
    "enroll": ["match"],
})

# The simulators (test rigs), wherever their files live: sim_host.h, ...
SIM_RIGS = {"sim_host", "sim_sensor", "sim_biometric_service", "sim_storage_adapter"}

# Include directories by area, as the build sets them (after the includer's
# own directory, which a quoted include searches first).
TEST_DIRS = ["testsupport", "algorithm", "platform", "platform/sim", "driver",
             "adapters/engine_adapter", "tools"]
SEARCH = {
    "algorithm": ["algorithm"],
    "platform": ["platform"],
    "sim": ["platform", "platform/sim"],
    "driver": ["driver", "platform"],
    "adapters": ["adapters/engine_adapter", "platform"],
    "tests": TEST_DIRS,
    "bench": ["testsupport", "algorithm", "platform", "platform/sim", "adapters/engine_adapter"],
    "testsupport": ["testsupport", "algorithm"],
    "fuzz": ["fuzz", "testsupport", "algorithm", "platform", "platform/sim", "driver",
             "adapters/engine_adapter"],
}

INCLUDE_RE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def area_of(rel):
    """The area of a repository-relative path (a tuple of parts), or None."""
    top = rel[0]
    if top == "algorithm":
        return "algorithm"
    if top == "platform":
        return "sim" if is_sim(rel) else "platform"
    if top in SEARCH:
        return top
    return None


def is_sim(rel):
    return rel[:2] == ("platform", "sim") or Path(rel[-1]).stem in SIM_RIGS


def layer_of(rel):
    return rel[1] if rel[0] == "algorithm" and len(rel) > 2 else None


def match_room_of(rel):
    """The room of a file under algorithm/match/ ("match" for the folder itself)."""
    return rel[2] if len(rel) > 3 else "match"


def violation(src, dst):
    """Why the include of dst (relative parts) from src breaks a rule, or None."""
    area, target_area = area_of(src), area_of(dst)
    if area == "algorithm":
        if target_area != "algorithm":
            return f"algorithm/ includes from {dst[0]}/"
        layer, target_layer = layer_of(src), layer_of(dst)
        if layer not in LAYER_DEPS:
            return f"algorithm/{layer or ''} is not a layer"
        if target_layer not in LAYER_DEPS[layer]:
            return f"layer {layer} includes from layer {target_layer} (upward or across)"
        if layer == "match" and target_layer == "match":
            room, target_room = match_room_of(src), match_room_of(dst)
            if room not in MATCH_ROOM_DEPS:
                return f"algorithm/match/{room} is not a room of match"
            if target_room not in MATCH_ROOM_DEPS[room]:
                return f"match room {room} includes from room {target_room} (upward or across)"
        return None
    if area in ("platform", "driver", "adapters"):
        if is_sim(dst):
            return f"product code in {src[0]}/ includes the simulator header {dst[-1]}"
        allowed = {"platform": {"platform"}, "driver": {"driver", "platform"},
                   "adapters": {"adapters", "platform"}}[area]
        if target_area in allowed:
            return None
        return f"{src[0]}/ includes from {dst[0]}/"
    if area in ("bench", "testsupport", "fuzz") and target_area == "tests":
        return f"{src[0]}/ includes from tests/"
    return None


def resolve(root, src_path, src_area, quoted, name):
    """The file the compiler opens for the include, or None."""
    dirs = [src_path.parent] if quoted else []
    dirs += [root / d for d in SEARCH[src_area]]
    for d in dirs:
        candidate = Path(os.path.normpath(d / name))
        if candidate.is_file():
            return candidate
    return None


def source_files(root):
    for dirpath, dirnames, filenames in os.walk(root):
        rel_dir = Path(dirpath).relative_to(root)
        dirnames[:] = sorted(d for d in dirnames
                             if not (rel_dir == Path(".") and (d in SKIPPED_DIRS or d.startswith("build")))
                             and not d.startswith("."))
        for f in sorted(filenames):
            if Path(f).suffix in SOURCE_SUFFIXES:
                yield Path(dirpath) / f


def check(root):
    root = Path(os.path.abspath(root))
    errors = []
    checked = 0
    for path in source_files(root):
        src = path.relative_to(root).parts
        area = area_of(src)
        if area is None:
            errors.append(f"{path.relative_to(root)}: no include rules for the folder {src[0]}/")
            continue
        with open(path, encoding="utf-8", errors="replace") as f:
            for line_no, line in enumerate(f, 1):
                m = INCLUDE_RE.match(line)
                if not m:
                    continue
                quoted, name = m.group(1) == '"', m.group(2)
                closing = '"' if quoted else ">"
                where = f"{path.relative_to(root)}:{line_no}: #include {m.group(1)}{name}{closing}"
                target = resolve(root, path, area, quoted, name)
                if target is None:
                    if quoted:
                        errors.append(f"{where}: cannot place it on the include path of {src[0]}/")
                    continue
                try:
                    dst = target.relative_to(root).parts
                except ValueError:
                    errors.append(f"{where}: resolves outside the repository")
                    continue
                checked += 1
                why = violation(src, dst)
                if why:
                    errors.append(f"{where}: {why}")
    return errors, checked


def main(argv):
    root = argv[1] if len(argv) > 1 else Path(__file__).resolve().parent.parent
    errors, checked = check(root)
    for e in errors:
        print(e)
    if errors:
        print(f"check_layers: {len(errors)} include(s) break the layering")
        return 1
    print(f"check_layers: {checked} includes follow the layering")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
