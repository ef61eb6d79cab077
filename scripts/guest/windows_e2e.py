"""The Windows end-to-end tests, as CTest runs them for the 64-bit program,
run against the 32-bit release in the guest.

  windows_e2e.py plan BUILD_DIR PROGRAM PLAN NAME...
      Writes to PLAN (JSON) the EndToEnd tests NAME... (EndToEnd.NAME) of the
      build folder BUILD_DIR (the mingw-x86_64 preset's), in CTest's order,
      with each one's command, working folder and environment, in which
      PROGRAM takes the place of the program under test.
  windows_e2e.py run PLAN WINEPREFIX
      Runs the planned tests one by one with WINEPREFIX as their Wine
      prefix; exits with 1 if any failed.
"""
import json
import os
import subprocess
import sys
import time


def plan(build_dir, program, plan_path, *names):
    listing = json.loads(subprocess.run(["ctest", "--test-dir", build_dir, "--show-only=json-v1"],
                                        check=True, capture_output=True, text=True).stdout)
    tests = []
    for test in listing["tests"]:
        if test["name"].removeprefix("EndToEnd.") not in names:
            continue
        properties = {item["name"]: item["value"] for item in test.get("properties", [])}
        environment = dict(entry.split("=", 1) for entry in properties.get("ENVIRONMENT", []))
        environment["QUORVANE_PROGRAM"] = program
        command = test["command"]
        # The host's interpreter may live where the guest has none.
        if os.path.basename(command[0]).startswith("python3"):
            command = ["python3", *command[1:]]
        tests.append({"name": test["name"], "command": command,
                      "cwd": properties.get("WORKING_DIRECTORY", build_dir), "environment": environment})
    missing = set(names) - {test["name"].removeprefix("EndToEnd.") for test in tests}
    if missing:
        raise SystemExit(f"{build_dir} registers no EndToEnd test named {', '.join(sorted(missing))}")
    with open(plan_path, "w", encoding="utf-8") as stream:
        json.dump(tests, stream, indent=1, ensure_ascii=False)


def run(plan_path, prefix):
    with open(plan_path, encoding="utf-8") as stream:
        tests = json.load(stream)
    failed = []
    for test in tests:
        environment = {**os.environ, **test["environment"], "QUORVANE_WINEPREFIX": prefix}
        # A prefix path in a command (the prefix fixture's) is the host's.
        host_prefix = test["environment"].get("QUORVANE_WINEPREFIX")
        command = [prefix if word == host_prefix else word for word in test["command"]]
        started = time.monotonic()
        print(f"--- {test['name']}", flush=True)
        code = subprocess.run(command, cwd=test["cwd"], env=environment, stdin=subprocess.DEVNULL).returncode
        print(f"--- {test['name']}: {'passed' if code == 0 else f'FAILED ({code})'}"
              f" in {time.monotonic() - started:.0f} s", flush=True)
        if code != 0:
            failed.append(test["name"])
    if failed:
        print("failed: " + " ".join(failed), flush=True)
    return 1 if failed else 0


if __name__ == "__main__":
    if len(sys.argv) >= 6 and sys.argv[1] == "plan":
        plan(*sys.argv[2:])
    elif len(sys.argv) == 4 and sys.argv[1] == "run":
        sys.exit(run(*sys.argv[2:]))
    else:
        sys.exit(__doc__)
