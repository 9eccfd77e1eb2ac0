#!/usr/bin/python3
"""package_test.py DEB ZIP TREE [DEB_AGAIN]: patchtool as publishers get it. The Debian package, unpacked
into a throwaway root, and the Windows zip, unpacked outside the source tree (its patchtool.exe run under
Wine), each build a patch of the sample releases (tools/make_sample_game.py) from a folder of their own
without --stub and verify it; the package declares what its tool links; the manual page renders and names
every command and option; 'cmake --install' of the release tree TREE gives the package's layout; a second
package build of the same commit (DEB_AGAIN) is the same byte for byte. Prints one line per check and
'N passed, M failed'."""
import os
import re
import struct
import subprocess
import sys
import tempfile
import traceback
import zipfile
from pathlib import Path

SOURCE = Path(__file__).resolve().parent.parent
LAYOUT = {"bin/patchtool", "share/man/man1/patchtool.1.gz", "share/doc/vennholt-patchtool/README.md",
          "share/vennholt-patch/setup.exe"}
I686 = 0x14C


def run(*command, cwd=None, status=0):
    result = subprocess.run([str(part) for part in command], cwd=cwd, capture_output=True, timeout=900,
                            env=os.environ | {"LC_ALL": "C.UTF-8", "MANWIDTH": "100"})
    out, err = (stream.decode("utf-8", "replace").replace("\r\n", "\n") for stream in (result.stdout, result.stderr))
    assert result.returncode == status, f"{command}: exit status {result.returncode}, not {status}: {err}{out[-2000:]}"
    return out, err


def files(folder):
    return {path.relative_to(folder).as_posix() for path in Path(folder).rglob("*") if path.is_file()}


def pe_machine(image):
    return struct.unpack_from("<H", image, struct.unpack_from("<I", image, 0x3C)[0] + 4)[0]


def owner(library):
    """The package that holds a library, under either of the names a merged /usr gives it."""
    real = os.path.realpath(library)
    for path in (library, real, real.replace("/usr/lib/", "/lib/", 1)):
        found = subprocess.run(["dpkg-query", "-S", path], capture_output=True, text=True)
        if found.returncode == 0:
            return found.stdout.split(":")[0]
    return f"no package holds {library}"


def build_and_verify(patchtool, work):
    """A patch of the sample releases beside `work`, built in `work` by the stub patchtool finds itself."""
    work.mkdir()
    out = run(*patchtool, "build", "--base", "../releases/release-1", "--from", "../releases/game", "--out",
              "setup.exe", cwd=work)[0]
    assert "setup.exe: 8 entries" in out, out
    run(*patchtool, "verify", "setup.exe", cwd=work)
    return (work / "setup.exe").read_bytes()


def check_package(deb, zip_path, tree, deb_again, scratch):
    info = run("dpkg-deb", "-I", deb)[0]
    fields = dict(re.findall(r"^ (\S+): (.*)$", info, re.M))
    version = fields["Version"]
    yield "file names", deb.name == f"vennholt-patchtool_{version}_amd64.deb" and \
        zip_path.name == f"vennholt-patchtool-{version}-win64.zip", f"{deb.name}, {zip_path.name}"

    root = scratch / "root"
    run("dpkg", "-x", deb, root)
    yield "layout", files(root) == {f"usr/{name}" for name in LAYOUT}, sorted(files(root))
    stub = (root / "usr/share/vennholt-patch/setup.exe").read_bytes()
    yield "the stub is the shipping i686 setup.exe", pe_machine(stub) == I686, hex(pe_machine(stub))
    patchtool = root / "usr/bin/patchtool"
    # Every library the tool links is declared, by the package that holds it.
    owners = {owner(library) for library in re.findall(r"^\s*\S+ => (/\S+)", run("ldd", patchtool)[0], re.M)}
    depends = set(re.findall(r"(?:^|,)\s*([\w.+-]+)", fields.get("Depends", "")))
    yield "dependencies declared", owners and owners <= depends, f"links {sorted(owners)}, Depends: {fields.get('Depends')}"

    identity = run(patchtool, "--version")[0]
    commit = run("git", "-C", SOURCE, "rev-parse", "HEAD")[0].strip() if (SOURCE / ".git").exists() else r"[0-9a-f]{40}"
    yield "--version", re.fullmatch(rf"patchtool {re.escape(version)} \(commit {commit}\)\n", identity), identity

    run(sys.executable, SOURCE / "tools/make_sample_game.py", scratch / "releases")
    patch = build_and_verify([patchtool], scratch / "deb")
    yield "the package's patchtool builds and verifies a patch", patch.startswith(stub), "the packaged stub first"
    (root / "usr/share/vennholt-patch/setup.exe").unlink()
    err = run(patchtool, "build", "--dry-run", "--from", ".", cwd=scratch / "deb", status=2)[1]
    yield "without a stub, the places looked at are named", \
        f"{root}/usr/share/vennholt-patch/setup.exe" in err and f"{scratch}/deb/build/win32/setup.exe" in err, err

    page = root / "usr/share/man/man1/patchtool.1.gz"
    text, warnings = run("man", "--warnings", "-l", page)
    helps = run(patchtool, "--help")[0]
    commands = re.findall(r"^  ([a-z]+)  ", helps, re.M)
    options = set(re.findall(r"(?<![\w-])--[a-z][a-z0-9-]*", helps + "".join(
        run(patchtool, command, "--help")[0] for command in commands)))
    missing = [name for name in commands + sorted(options) if not re.search(rf"(?<![\w-]){name}(?![\w-])", text)]
    yield "the manual page renders, with every command and option", \
        not warnings and "EXIT STATUS" in text and len(commands) >= 7 and not missing, warnings + f"missing {missing}"

    prefix = scratch / "prefix"
    run("cmake", "--install", tree, "--prefix", prefix)
    yield "cmake --install gives the package's layout", files(prefix) == LAYOUT, sorted(files(prefix))

    readme = (SOURCE / "README.md").read_bytes().replace(b"\n", b"\r\n")
    with zipfile.ZipFile(zip_path) as archive:
        names = set(archive.namelist())
        archive.extractall(scratch / "zip")
    top = zip_path.name.removesuffix(".zip")
    yield "the zip's files", names == {f"{top}/{name}" for name in ("patchtool.exe", "setup.exe", "README.txt")}, names
    unpacked = scratch / "zip" / top
    yield "the zip's README has CRLF line ends", (unpacked / "README.txt").read_bytes() == readme, "not README.md with CR LF"
    windows_tool = [SOURCE / "scripts/wine-run", unpacked / "patchtool.exe"]
    patch = build_and_verify(windows_tool, scratch / "wine")
    yield "the zip's patchtool.exe builds and verifies a patch under Wine", \
        patch.startswith((unpacked / "setup.exe").read_bytes()) and pe_machine(patch) == I686, "its own stub first"
    yield "patchtool.exe --version", run(*windows_tool, "--version")[0] == identity, identity

    if deb_again:
        again = deb_again.read_bytes()
        first = deb.read_bytes()
        differs = next((i for i, (a, b) in enumerate(zip(first, again)) if a != b), min(len(first), len(again)))
        yield "a second package build is the same", first == again, f"first difference at byte {differs}"


def main(argv):
    if len(argv) not in (4, 5):
        print(__doc__.strip())
        return 2
    results = []
    with tempfile.TemporaryDirectory(prefix="vennholt-package-") as scratch:
        try:
            for name, ok, detail in check_package(*(Path(arg).resolve() for arg in argv[1:4]),
                                                  argv[4:] and Path(argv[4]), Path(scratch)):
                results.append((name, bool(ok), detail))
        except Exception:  # noqa: BLE001 - a check that cannot go on is one failure, with its reason
            results.append(("the checks ran to the end", False, traceback.format_exc()))
    for name, ok, detail in results:
        print(f"{'ok  ' if ok else 'FAIL'} {name}{'' if ok else f' ({detail})'}")
    failed = sum(not ok for _, ok, _ in results)
    print(f"{len(results) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
