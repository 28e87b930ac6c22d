#!/bin/sh
# Disconnects Claude Code from Meterly by hand, for when the app cannot do it itself:
#   1. takes the proxy's base URL out of Claude Code's settings file, putting back a base URL that
#      the backup ("settings.json.meterly-backup") holds, and removes the backup;
#   2. stops the proxy's systemd user unit and removes its unit file;
#   3. removes the "Launch at login" autostart entry;
#   4. removes the installed Meterly.app (the one the unit or the autostart entry starts, or the
#      one given as the argument).
# The settings file is replaced in one step (a temporary file renamed over it), keeps every other
# key and its permissions, and is read back before the script goes on; a file it does not
# understand is left alone and nothing else is done. METERLY_INSTALL=dev selects the development
# installation, as in the app.
#
# Usage: scripts/uninstall.sh [path/to/Meterly.app]
set -eu

if ! command -v python3 >/dev/null 2>&1; then
    echo "uninstall.sh needs python3 to edit Claude Code's settings file safely." >&2
    exit 1
fi

exec python3 - "$@" <<'PYTHON'
import json, os, shutil, subprocess, sys, tempfile
from urllib.parse import urlsplit

development = os.environ.get("METERLY_INSTALL") == "dev"
label = "com.meterly.proxy.dev" if development else "com.meterly.proxy"
claude_folder = ".claude-meterly-dev" if development else ".claude"
home = os.environ.get("HOME", "")
if not home.startswith("/"):
    sys.exit("HOME is not set to an absolute path.")
config_home = os.environ.get("XDG_CONFIG_HOME", "")
if not config_home.startswith("/"):
    config_home = os.path.join(home, ".config")

unit = label + ".service"
unit_file = os.path.join(config_home, "systemd", "user", unit)
settings = os.path.join(home, claude_folder, "settings.json")
backup = settings + ".meterly-backup"
autostart = os.path.join(config_home, "autostart", "meterly.desktop")
key = "ANTHROPIC_BASE_URL"


def say(text):
    print(text, flush=True)


class Number(str):
    """A JSON number kept as the text it was written as."""


class Object(list):
    """A JSON object as its members in order (duplicates kept)."""

    def get(self, name):
        for member, value in reversed(self):
            if member == name:
                return value
        return None

    def has(self, name):
        return any(member == name for member, _ in self)

    def put(self, name, value):
        for index, (member, _) in enumerate(self):
            if member == name:
                self[index] = (name, value)
                return
        self.append((name, value))

    def drop(self, name):
        self[:] = [(member, value) for member, value in self if member != name]


class Refusal(Exception):
    pass


def reject(constant):
    raise ValueError("%s is not a JSON value" % constant)


def parse(path):
    """The file's root object, an empty Object when it is blank, None when it is missing."""
    if not os.path.exists(path):
        return None
    with open(path, "rb") as stream:
        raw = stream.read()
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError:
        raise Refusal(path + " is not valid UTF-8. Refusing to touch it.")
    if not text.strip():
        return Object()
    try:
        root = json.loads(text.lstrip("\ufeff"), object_pairs_hook=Object,
                          parse_int=Number, parse_float=Number, parse_constant=reject)
    except ValueError as error:
        raise Refusal("%s is not valid JSON (%s). Refusing to touch it." % (path, error))
    if not isinstance(root, Object):
        raise Refusal(path + " does not contain a JSON object at its root. Refusing to touch it.")
    return root


def base_url(root, path):
    env = root.get("env") if root.has("env") else None
    if env is None:
        return None
    if not isinstance(env, Object):
        raise Refusal(path + " has an 'env' key that is not a JSON object. Refusing to touch it.")
    if not env.has(key):
        return None
    value = env.get(key)
    if not isinstance(value, str) or isinstance(value, Number):
        raise Refusal(path + " has an 'env.ANTHROPIC_BASE_URL' that is not a string. "
                      "Refusing to touch it.")
    return value


def is_loopback(url):
    try:
        host = urlsplit(url).hostname
    except ValueError:
        return False
    if not host:
        return False
    host = host.strip("[]").lower()
    if host in ("localhost", "::1"):
        return True
    parts = host.split(".")
    if len(parts) != 4 or not all(part.isdigit() and part.isascii() for part in parts):
        return False
    numbers = [int(part) for part in parts]
    return all(number <= 255 for number in numbers) and numbers[0] == 127


def render(value, level=0):
    pad = "  " * (level + 1)
    if isinstance(value, Number):
        return str(value)
    if isinstance(value, str):
        return json.dumps(value, ensure_ascii=False)
    if value is True:
        return "true"
    if value is False:
        return "false"
    if value is None:
        return "null"
    if isinstance(value, Object):
        if not value:
            return "{}"
        members = [pad + json.dumps(name, ensure_ascii=False) + ": " + render(item, level + 1)
                   for name, item in value]
        return "{\n" + ",\n".join(members) + "\n" + "  " * level + "}"
    if not value:
        return "[]"
    items = [pad + render(item, level + 1) for item in value]
    return "[\n" + ",\n".join(items) + "\n" + "  " * level + "]"


def replace_file(path, data):
    """Puts `data` at `path` in one step, with the old file's permissions."""
    target = os.path.realpath(path)
    mode = os.stat(target).st_mode & 0o7777
    folder = os.path.dirname(target)
    handle, temporary = tempfile.mkstemp(prefix=".settings.json.", dir=folder)
    try:
        os.fchmod(handle, mode)
        with os.fdopen(handle, "wb") as stream:
            stream.write(data)
            stream.flush()
            os.fsync(stream.fileno())
        os.rename(temporary, target)
    except BaseException:
        if os.path.exists(temporary):
            os.unlink(temporary)
        raise


def disconnect_settings():
    root = parse(settings)
    if root is None:
        say("Claude Code's settings file %s does not exist: nothing to take out." % settings)
        return
    current = base_url(root, settings)
    if current is None:
        say("Claude Code's settings do not name a base URL: nothing to take out.")
    elif not is_loopback(current):
        say("Claude Code's settings point at %s, which is not Meterly's proxy: left alone." % current)
        return
    else:
        previous = None
        backup_root = None
        try:
            backup_root = parse(backup)
            previous = base_url(backup_root, backup) if backup_root is not None else None
        except (Refusal, OSError):
            backup_root = None
        env = root.get("env") if root.has("env") else Object()
        if previous is not None and previous != current:
            env.put(key, previous)
            expected = previous
        else:
            env.drop(key)
            expected = None
        if env or (backup_root is not None and backup_root.has("env")):
            root.put("env", env)
        else:
            root.drop("env")
        try:
            data = (render(root) + "\n").encode("utf-8")
        except UnicodeEncodeError:
            raise Refusal(settings + " holds text that cannot be written back as UTF-8. "
                          "Refusing to touch it.")
        with open(settings, "rb") as stream:
            original = stream.read()
        replace_file(settings, data)
        try:
            if parse(settings) != root or base_url(root, settings) != expected:
                raise Refusal("the file did not read back as written")
        except Refusal as failure:
            replace_file(settings, original)
            raise Refusal("Post-write verification of %s failed (%s). The original file was "
                          "restored." % (settings, failure))
        if expected is None:
            say("Took Meterly's base URL %s out of %s." % (current, settings))
        else:
            say("Put the earlier base URL %s back into %s." % (expected, settings))
    if os.path.exists(backup):
        os.unlink(backup)
        say("Removed the backup %s." % backup)


def systemctl(*arguments):
    try:
        return subprocess.run(["systemctl", "--user"] + list(arguments), stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=30).returncode
    except (OSError, subprocess.TimeoutExpired) as error:
        say("systemctl --user %s did not run: %s" % (" ".join(arguments), error))
        return -1


def bundle_of(executable):
    """The Meterly.app folder around an executable in its Contents/MacOS folder, if it is one."""
    macos = os.path.dirname(executable)
    contents = os.path.dirname(macos)
    bundle = os.path.dirname(contents)
    if (os.path.basename(macos) == "MacOS" and os.path.basename(contents) == "Contents"
            and os.path.basename(bundle) == "Meterly.app" and bundle.startswith("/")):
        return bundle
    return None


def first_word(line):
    """The first word of an ExecStart= or Exec= value, with its quotes and escapes undone."""
    line = line.strip()
    if not line.startswith('"'):
        return line.split()[0] if line.split() else ""
    word, index = "", 1
    while index < len(line) and line[index] != '"':
        if line[index] == "\\" and index + 1 < len(line):
            index += 1
        word += line[index]
        index += 1
    return word


def executable_in(path, prefix, unescape_string):
    try:
        with open(path, encoding="utf-8") as stream:
            for line in stream:
                if line.startswith(prefix):
                    value = line[len(prefix):].rstrip("\n")
                    if unescape_string:
                        value = value.replace("\\\\", "\\")
                    return first_word(value).replace("%%", "%")
    except (OSError, UnicodeDecodeError):
        pass
    return None


given_bundles = []
for given in sys.argv[1:]:
    given = os.path.abspath(given.rstrip("/"))
    if os.path.basename(given) != "Meterly.app" or not os.path.isdir(os.path.join(given, "Contents")):
        sys.exit("%s is not a Meterly.app bundle. Nothing was changed." % given)
    given_bundles.append(given)

try:
    disconnect_settings()
except (Refusal, OSError) as failure:
    sys.exit("%s\nNothing else was changed." % failure)

bundles = []
for found in (executable_in(unit_file, "ExecStart=", False),
              executable_in(autostart, "Exec=", True)):
    bundle = bundle_of(found) if found else None
    if bundle and bundle not in bundles:
        bundles.append(bundle)
for given in given_bundles:
    if given not in bundles:
        bundles.append(given)

systemctl("disable", unit)
systemctl("stop", unit)
if os.path.lexists(unit_file):
    os.unlink(unit_file)
    say("Removed the proxy's unit %s." % unit_file)
systemctl("daemon-reload")

if os.path.lexists(autostart):
    os.unlink(autostart)
    say("Removed the autostart entry %s." % autostart)

for bundle in bundles:
    if os.path.isdir(bundle) and not os.path.islink(bundle):
        shutil.rmtree(bundle)
        say("Removed %s." % bundle)

say("Meterly is disconnected. Restart running Claude Code sessions to stop using the proxy.")
PYTHON
