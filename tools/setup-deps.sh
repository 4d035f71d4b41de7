#!/bin/sh
# Installs the Debian packages a make target needs, only when some are missing, and
# for the page group the page's test tooling from the npm registry (page/package-lock.json).
# Quiet when it succeeds; a failing step shows the tool's own error lines and what to do.
# Usage: tools/setup-deps.sh GROUP...
#   build    native compilers and build tools, GoogleTest, libsndfile
#   windows  mingw-w64 cross compiler and Wine
#   lv2      LV2 headers, the lilv host library and the Debian LV2 hosts/validators
#   fuzz     clang with the sanitizer and libFuzzer runtimes
#   bench    Google Benchmark and valgrind
#   page     Chromium and Node.js for the editor page's tests, then `npm ci` in page/
#   hosts    a real VST3 host (Ardour's headless session tool) for the VST3 module's tests
#   editor   the Linux editor: GTK 3 and WebKitGTK 4.1 for its helper program, XCB for the
#            in-host side, xdg-open for links; Xvfb, xdotool and ImageMagick (screenshots)
#            for its tests and the demo
set -e
here=$(cd "$(dirname "$0")" && pwd)

pkgs_build="build-essential cmake ninja-build pkg-config git googletest libgtest-dev libgmock-dev libsndfile1-dev libpng-dev python3"
pkgs_windows="g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine wine64"
pkgs_lv2="lv2-dev liblilv-dev lilv-utils lv2file jalv jackd2 sordi"
pkgs_fuzz="clang libclang-rt-dev"
pkgs_bench="libbenchmark-dev valgrind"
pkgs_page="chromium nodejs"
pkgs_hosts="ardour"
pkgs_editor="libwebkit2gtk-4.1-dev libgtk-3-dev libx11-dev libxcb1-dev xdg-utils xvfb xdotool imagemagick"

want=""
for group in "$@"; do
    eval "list=\$pkgs_$group"
    if [ -z "$list" ]; then
        echo "setup-deps: unknown group '$group'" >&2
        exit 2
    fi
    want="$want $list"
done

# A Node.js build from outside Debian carries its own npm (and conflicts with
# Debian's npm package): ask for npm only when no npm command exists.
case " $want " in
*" nodejs "*) command -v npm >/dev/null 2>&1 || want="$want npm" ;;
esac

missing=""
for p in $want; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    case "$status" in
    *" installed") ;;
    *) missing="$missing $p" ;;
    esac
done

if [ -n "$missing" ]; then
    if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
    echo "setup-deps: installing$missing"
    # A brand-new machine has empty package lists: refresh them before the first install.
    # Quietened this way apt-get still prints its warnings and errors, such as a source
    # it could not reach, which explain a failing install below.
    $sudo apt-get update -qq || {
        echo "setup-deps: apt-get could not refresh the package lists; check the network and the sources in /etc/apt/sources.list and /etc/apt/sources.list.d, then run make again" >&2
        exit 1
    }
    "$here/run-step.sh" "setup-deps: apt-get could not install$missing; mend what apt-get says above (network, package sources, held or broken packages), then run make again" \
        $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $missing
fi

# The page's test tooling, exactly the versions pinned in page/package-lock.json.
case " $* " in
*" page "*)
    cd "$here/../page"
    "$here/run-step.sh" "setup-deps: npm ci could not install the page's test tooling; check that the npm registry (npm config get registry) is reachable (behind a proxy that re-signs TLS, set NODE_EXTRA_CA_CERTS to its certificate file), then run make again" \
        npm ci --no-audit --no-fund
    ;;
esac
