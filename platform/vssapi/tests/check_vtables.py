"""The stand-in's interface declarations list each interface's methods in the
order of the system headers (mingw-w64's), so virtual tables match slot for slot.

usage: check_vtables.py OUR_HEADER SYSTEM_INCLUDE_DIR
"""
import re
import sys

INTERFACES = {
    "vss.h": ["IVssAsync"],
    "vswriter.h": ["IVssWMFiledesc", "IVssWMDependency", "IVssComponent", "IVssWriterComponents"],
    "vsbackup.h": ["IVssWMComponent", "IVssExamineWriterMetadata", "IVssBackupComponents"],
}
METHOD = re.compile(r"virtual\s+\w+\s+STDMETHODCALLTYPE\s+(\w+)\s*\(")


def methods(text, name, start_pattern):
    match = re.search(start_pattern % re.escape(name), text, re.M)
    if not match:
        return None
    body = text[match.end():]
    body = body[: body.index("};")]
    return METHOD.findall(body)


def main():
    ours = open(sys.argv[1], encoding="utf-8").read()
    failures = 0
    for header, names in INTERFACES.items():
        system = open(f"{sys.argv[2]}/{header}", encoding="utf-8").read()
        for name in names:
            theirs = methods(system, name, r"^%s(\s*:\s*public\s+IUnknown)?\s*\n\{")
            mine = methods(ours, name, r"^struct %s(\s*:\s*public\s+IUnknown)?\s*\{")
            if not theirs or not mine:
                print(f"{name}: not found ({'system' if not theirs else 'ours'})")
                failures += 1
            elif theirs != mine:
                print(f"{name}: method order differs\n  system: {theirs}\n  ours:   {mine}")
                failures += 1
            else:
                print(f"{name}: {len(mine)} methods in the system's order")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
