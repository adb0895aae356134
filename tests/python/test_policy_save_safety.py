"""save_policy under crashes, races and hostile paths: killed saves, concurrent
saves, a full disk, links and files planted by another user, /proc links, ACLs."""
import errno
import json
import os
import pathlib
import shutil
import struct
import subprocess
import sys
import tempfile
import textwrap
import time

import pytest

import ferolin

sys.path.insert(0, str(pathlib.Path(__file__).parents[1] / "stress"))
import save_races  # noqa: E402  (the same loops, longer, on demand)
from save_races import POLICY  # noqa: E402

PAGES_POLICY = dict(POLICY, version="x" * 5000)
NOBODY = 65534
PERMISSION_DENIED = "IO error: Permission denied (os error 13)"
NO_SPACE = "JSON error: No space left on device (os error 28)"


def policy_bytes(policy, folder):
    return save_races.policy_bytes(policy, str(folder))


def as_nobody(*command):
    subprocess.run(command, user=NOBODY, group=NOBODY, extra_groups=[], check=True)


@pytest.fixture
def sticky_dir():
    """A world-writable sticky directory owned by root, like /tmp."""
    if os.geteuid() != 0:
        pytest.skip("needs root to act as another user")
    folder = tempfile.mkdtemp(prefix="ferolin-sticky-")
    os.chmod(folder, 0o1777)
    yield folder
    shutil.rmtree(folder)


def kernel_protects(name):
    try:
        with open(f"/proc/sys/fs/protected_{name}") as setting:
            return int(setting.read()) >= 1
    except OSError:
        return False


@pytest.mark.parametrize("planted, protection", [
    ("link to a file", "symlinks"),
    ("dangling link", "symlinks"),
    ("regular file", "regular"),
])
def test_sticky_directory_entries_of_another_user_are_refused(sticky_dir, tmp_path, planted,
                                                               protection):
    if not kernel_protects(protection):
        pytest.skip(f"fs.protected_{protection} is 0")
    victim = tmp_path / "victim.json"
    if planted == "link to a file":
        victim.write_text("victim")
    path = os.path.join(sticky_dir, "policy.json")
    if planted == "regular file":
        as_nobody("sh", "-c", 'printf theirs > "$0"', path)
    else:
        as_nobody("ln", "-s", str(victim), path)
    with pytest.raises(RuntimeError) as caught:
        ferolin.save_policy(path, POLICY)
    assert str(caught.value) == PERMISSION_DENIED
    # The kernel refuses Python's own open() the same way.
    with pytest.raises(PermissionError):
        os.close(os.open(path, os.O_WRONLY | os.O_CREAT))
    assert os.listdir(sticky_dir) == ["policy.json"]
    if planted == "regular file":
        assert pathlib.Path(path).read_text() == "theirs"
    else:
        assert os.path.islink(path)
        assert [p.read_text() for p in tmp_path.iterdir()] == (
            ["victim"] if planted == "link to a file" else [])


def test_dev_stdout_in_a_redirection_writes_among_the_other_output(tmp_path):
    script = f"import ferolin; ferolin.save_policy('/dev/stdout', {POLICY!r})"
    subprocess.run(["bash", "-c", '{ echo before; "$PY" -c "$SCRIPT"; echo after; } > out.txt'],
                   cwd=tmp_path, check=True, env=dict(os.environ, PY=sys.executable,
                                                      SCRIPT=script))
    expected = b"before\n" + policy_bytes(POLICY, tmp_path) + b"after\n"
    assert (tmp_path / "out.txt").read_bytes() == expected


def test_descriptor_of_a_deleted_file_is_written_through(tmp_path):
    log = tmp_path / "log.txt"
    fd = os.open(log, os.O_RDWR | os.O_CREAT)
    try:
        os.write(fd, b"start\n")
        log.unlink()
        ferolin.save_policy(f"/proc/self/fd/{fd}", POLICY)
        assert os.listdir(tmp_path) == []
        assert os.pread(fd, 4096, 0) == b"start\n" + policy_bytes(POLICY, tmp_path)
    finally:
        os.close(fd)


ACL_VERSION = 2
ACL_USER_OBJ, ACL_USER, ACL_GROUP_OBJ, ACL_MASK, ACL_OTHER = 0x01, 0x02, 0x04, 0x10, 0x20
UNDEFINED_ID = 0xFFFFFFFF


def acl(*entries):
    """The system.posix_acl_access value of (tag, permission bits, id) entries."""
    return struct.pack("<I", ACL_VERSION) + b"".join(
        struct.pack("<HHI", tag, bits, UNDEFINED_ID if uid is None else uid)
        for tag, bits, uid in entries)


def test_acl_and_extended_attributes_are_kept(tmp_path):
    path = tmp_path / "p.json"
    path.write_text("old")
    # Group r--, mask rw-: the group bits of the mode (660) show the mask.
    access = acl((ACL_USER_OBJ, 6, None), (ACL_USER, 6, NOBODY), (ACL_GROUP_OBJ, 4, None),
                 (ACL_MASK, 6, None), (ACL_OTHER, 0, None))
    try:
        os.setxattr(path, "system.posix_acl_access", access)
        os.setxattr(path, "user.origin", b"calibration run 7")
        os.setxattr(tmp_path, "system.posix_acl_default", access)
    except OSError as error:
        if error.errno in (errno.ENOTSUP, errno.EOPNOTSUPP):
            pytest.skip("the file system has no ACLs or user attributes")
        raise
    (tmp_path / "plain.json").touch()  # takes the default ACL
    os.removexattr(tmp_path / "plain.json", "system.posix_acl_access")
    before = {name: os.getxattr(path, name) for name in os.listxattr(path)}
    mode = os.stat(path).st_mode
    for target in (path, tmp_path / "plain.json"):
        ferolin.save_policy(str(target), POLICY)
    assert {name: os.getxattr(path, name) for name in os.listxattr(path)} == before
    assert os.stat(path).st_mode == mode
    assert path.read_bytes() == policy_bytes(POLICY, tmp_path)
    # A replacement takes no ACL from the directory that the old file lacked.
    assert "system.posix_acl_access" not in os.listxattr(tmp_path / "plain.json")


@pytest.mark.parametrize("hard_link", [False, True])
def test_killed_saves_leave_a_whole_policy_and_nothing_else(tmp_path, hard_link):
    kills = 40
    torn, leftovers, _ = save_races.kill_saves(str(tmp_path), kills, hard_link)
    assert torn == []
    # A temporary file has a name only between its link and its rename.
    assert leftovers <= kills // 20
    assert os.stat(tmp_path / "p.json").st_nlink == (2 if hard_link else 1)


def test_concurrent_saves_never_show_a_reader_a_partial_policy(tmp_path):
    reads, wrong = save_races.read_during_saves(str(tmp_path), seconds=0.7, writers=3)
    assert wrong == []
    assert reads > 100


FULL_DISK_SCRIPT = textwrap.dedent("""
    import json, os, sys, ferolin
    folder, policy, long_policy = sys.argv[1], json.loads(sys.argv[2]), json.loads(sys.argv[3])
    os.chdir(folder)
    ferolin.save_policy("p.json", policy)
    ferolin.save_policy("h.json", policy)
    os.link("h.json", "h2.json")
    with open("filler", "wb", buffering=0) as filler:
        try:
            while True:
                filler.write(b"." * 4096)
        except OSError:
            pass
    answers = {}
    for name in ("p.json", "h.json", "new.json"):
        try:
            ferolin.save_policy(name, long_policy)
            answers[name] = "saved"
        except RuntimeError as error:
            answers[name] = str(error)
    answers["files"] = {name: open(name, "rb").read().decode() for name in sorted(os.listdir())
                        if name != "filler"}
    print(json.dumps(answers))
""")


def test_full_disk_leaves_every_old_policy_whole(tmp_path):
    if os.geteuid() != 0 or not shutil.which("unshare"):
        pytest.skip("needs root and unshare to mount a small tmpfs")
    mounted = tmp_path / "disk"
    mounted.mkdir()
    command = ('mount -t tmpfs -o size=256k tmpfs "$1" || exit 77; shift; exec "$@"')
    result = subprocess.run(
        ["unshare", "--mount", "--propagation", "private", "sh", "-c", command, "sh",
         str(mounted), sys.executable, "-c", FULL_DISK_SCRIPT, str(mounted), json.dumps(POLICY),
         json.dumps(PAGES_POLICY)], capture_output=True, text=True)
    if result.returncode == 77 or "unshare failed" in result.stderr:
        pytest.skip("cannot mount a tmpfs here: " + result.stderr.strip())
    assert result.returncode == 0, result.stderr
    answers = json.loads(result.stdout)
    old = policy_bytes(POLICY, tmp_path).decode()
    assert answers == {"p.json": NO_SPACE, "h.json": NO_SPACE, "new.json": NO_SPACE,
                       "files": {"h.json": old, "h2.json": old, "p.json": old}}


def test_a_link_swapped_during_saves_stays_a_link(tmp_path):
    for name in ("a.json", "b.json"):
        (tmp_path / name).write_text("old")
    link = tmp_path / "link.json"
    link.symlink_to("a.json")
    swapper = subprocess.Popen([sys.executable, "-c", textwrap.dedent(f"""
        import os
        os.chdir({str(tmp_path)!r})
        print(flush=True)
        while True:
            for target in ("a.json", "b.json"):
                os.symlink(target, "swap")
                os.replace("swap", "link.json")
    """)], stdout=subprocess.PIPE)
    try:
        swapper.stdout.readline()
        deadline = time.monotonic() + 0.3
        while time.monotonic() < deadline:
            ferolin.save_policy(str(link), POLICY)
    finally:
        swapper.kill()
        swapper.wait()
        swapper.stdout.close()
    assert link.is_symlink()
    new = policy_bytes(POLICY, tmp_path)
    assert {(tmp_path / name).read_bytes() for name in ("a.json", "b.json")} <= {b"old", new}
    assert set(os.listdir(tmp_path)) - {"swap"} == {"a.json", "b.json", "link.json"}
