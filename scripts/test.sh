#!/usr/bin/env bash
# On a fresh Debian 12 machine: installs what is missing, builds, and runs every
# test inside a private D-Bus session with a real gnome-keyring-daemon, a
# throw-away home and Qt's offscreen platform, so no test touches this
# machine's own keyring or preferences. The tray tests get an Xvfb display of
# their own through QUILLO_TEST_DISPLAY.
#
# scripts/test.sh --sanitize builds the whole suite with AddressSanitizer and
# UndefinedBehaviorSanitizer into build-sanitize/ and runs it the same way;
# the programs the tests start are sanitized too. scripts/test.sh --tsan
# builds only the tests labelled "threads" (the renderer's decoding thread,
# the agent's steps as its background threads run them) with ThreadSanitizer
# into build-tsan/ and runs them: Qt and GLib are not instrumented, so the
# handoffs of the delegate's thread pool are invisible to it and every test
# through them would report races that are not there. Other arguments go to
# ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build
select=()
sanitize=""
targets=()
case "${1:-}" in
--sanitize)
    shift
    build=build-sanitize
    sanitize=address,undefined
    # One check cannot hold for a sanitized tree, which is never shipped: the
    # sanitizers' runtime warns on standard error before any option applies
    # when /proc is hidden.
    select=(-E '^ProgramEntry\.EveryModeFailsClosedWithoutItsInstallFolder$')
    ;;
--tsan)
    shift
    build=build-tsan
    sanitize=thread
    targets=(--target kit_tests agent_tests)
    select=(-L '^threads$')
    ;;
esac
scripts/install-deps.sh
if [ -z "$sanitize" ]; then
    scripts/build.sh
else
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLO_SANITIZE="$sanitize" \
        -DQUILLO_BUILD_BENCH=OFF >/dev/null
    cmake --build "$build" -j "$(nproc)" "${targets[@]}"
    # Every report stops the program that makes it, children included, with
    # a status no test expects, and is written to a file of its own: a test
    # that only looks at a child's output or status cannot hide it. Leaks
    # inside libraries built without the sanitizers are suppressed by name in
    # tests/sanitizers/lsan.supp, each with its reason.
    reports=$PWD/$build/sanitizer-reports
    rm -rf "$reports"
    mkdir -p "$reports"
    common="exitcode=86:log_path=$reports/report"
    export ASAN_OPTIONS="$common:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
    export UBSAN_OPTIONS="$common:print_stacktrace=1:halt_on_error=1"
    export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0"
    export TSAN_OPTIONS="$common:halt_on_error=1:second_deadlock_stack=1"
fi

# Everything private lives in one folder only this user can enter.
sandbox=$(mktemp -d /tmp/quillo-tests.XXXXXX)
xvfb=""
status=0
trap '[ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null; rm -rf "$sandbox"' EXIT
mkdir -p "$sandbox/home" "$sandbox/runtime" "$sandbox/bus"
chmod 700 "$sandbox/runtime"
cat >"$sandbox/bus.conf" <<CONF
<busconfig>
  <type>session</type>
  <keep_umask/>
  <listen>unix:dir=$sandbox/bus</listen>
  <auth>EXTERNAL</auth>
  <standard_session_servicedirs/>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF

# Xvfb writes its display number once it accepts clients.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x800x24 3>"$sandbox/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do
    [ -s "$sandbox/display" ] && break
    sleep 0.1
done
[ -s "$sandbox/display" ] || { echo "Xvfb did not start" >&2; exit 1; }

# Whatever outlives the run (a daemon of a test that died, say) is named and
# ended by tests/support/no_leftovers.py, and fails the run.
tests/support/no_leftovers.py env -u DBUS_SESSION_BUS_ADDRESS -u DISPLAY -u WAYLAND_DISPLAY \
    HOME="$sandbox/home" \
    XDG_CONFIG_HOME="$sandbox/home/.config" \
    XDG_DATA_HOME="$sandbox/home/.local/share" \
    XDG_CACHE_HOME="$sandbox/home/.cache" \
    XDG_RUNTIME_DIR="$sandbox/runtime" \
    QT_QPA_PLATFORM=offscreen \
    QUILLO_TEST_DISPLAY=":$(head -n1 "$sandbox/display")" \
    dbus-run-session --config-file="$sandbox/bus.conf" -- scripts/with-keyring.sh \
    ctest --test-dir "$build" --output-on-failure -j "$(nproc)" "${select[@]}" "$@" || status=$?

# Warnings have no summary line; reports do.
if [ -n "${reports:-}" ] && grep -l '^SUMMARY: ' "$reports"/* >/dev/null 2>&1; then
    for report in $(grep -l '^SUMMARY: ' "$reports"/*); do
        echo "== $report" >&2
        cat "$report" >&2
    done
    status=1
fi
exit "$status"
