#!/bin/bash
# Tries the quick start as a new user would: makes a brand-new Debian 12 root file
# system holding only make, git, ca-certificates and sudo, clones the current branch
# of this repository into it (committed work only) and runs `make demo`, then
# `make test`, as root, each in fresh PID and mount namespaces with the host's dev and
# sys file systems and a proc of its own. Ends with how long each took, the Node.js
# version used and each command's last lines; exits non-zero if either failed.
# Needs root, mmdebstrap and about 6 GB free for ROOT.
# Usage: tools/fresh-debian-check.sh ROOT   (ROOT: a folder to create, outside the repo)
set -eu

LAST_LINES=8
SUITE=bookworm
MIRROR=http://deb.debian.org
# The package sources a Debian 12 installation has.
SOURCES=(
    "deb $MIRROR/debian $SUITE main"
    "deb $MIRROR/debian $SUITE-updates main"
    "deb $MIRROR/debian-security $SUITE-security main"
)
# Certificate authorities the local administrator added (Debian's local folder).
LOCAL_CAS=/usr/local/share/ca-certificates

root=${1:?usage: tools/fresh-debian-check.sh ROOT}
repo=$(cd "$(dirname "$0")/.." && pwd)
branch=$(git -C "$repo" rev-parse --abbrev-ref HEAD)
commit=$(git -C "$repo" rev-parse --short HEAD)

[ "$(id -u)" -eq 0 ] || { echo "fresh-debian-check: run as root (mmdebstrap and chroot need it)" >&2; exit 1; }
command -v mmdebstrap >/dev/null || { echo "fresh-debian-check: mmdebstrap is missing (apt-get install mmdebstrap)" >&2; exit 1; }
if [ -e "$root" ] && [ -n "$(ls -A "$root")" ]; then
    echo "fresh-debian-check: $root is not empty; give a new folder" >&2
    exit 1
fi
case "$(realpath -m "$root")/" in
"$repo"/*) echo "fresh-debian-check: put $root outside the repository" >&2; exit 1 ;;
esac
[ -z "$(git -C "$repo" status --porcelain --untracked-files=no)" ] ||
    echo "fresh-debian-check: uncommitted changes are not part of the check (commit $commit is)" >&2

echo "== making a $SUITE root file system in $root"
mmdebstrap --variant=minbase --include=make,git,ca-certificates,sudo "$SUITE" "$root" "${SOURCES[@]}"

# Reaching the registries may need the host's extra certificate authorities.
node_cas=()
if compgen -G "$LOCAL_CAS/*.crt" >/dev/null; then
    cp "$LOCAL_CAS"/*.crt "$root$LOCAL_CAS/"
    chroot "$root" update-ca-certificates
    node_cas=(NODE_EXTRA_CA_CERTS=/etc/ssl/certs/ca-certificates.crt)
fi

# Runs a command as root inside the new system with a clean login-like environment.
in_root() {  # COMMAND...
    unshare --pid --fork --mount-proc="$root/proc" /bin/sh -c \
        'mount --rbind /dev "$0/dev" && mount --rbind /sys "$0/sys" && exec chroot "$0" "$@"' \
        "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "${node_cas[@]}" "$@"
}

# The clone is made inside by the new system's own git, from a bundle of the branch.
git -C "$repo" bundle create "$root/root/emberpress.bundle" "$branch"
in_root git clone --branch "$branch" /root/emberpress.bundle /root/emberpress
rm "$root/root/emberpress.bundle"

declare -A took status
for target in demo test; do
    echo "== make $target"
    start=$SECONDS
    set +e
    in_root /bin/sh -c "cd /root/emberpress && make $target" 2>&1 | tee "$root/root/make-$target.log"
    status[$target]=${PIPESTATUS[0]}
    set -e
    took[$target]=$(((SECONDS - start) / 60))m$(((SECONDS - start) % 60))s
    echo "== make $target: exit status ${status[$target]} after ${took[$target]}"
done

echo
echo "== fresh $SUITE check of $branch at $commit in $root"
echo "Node.js: $(in_root /bin/sh -c 'node --version 2>&1 || echo none')"
for target in demo test; do
    echo "make $target: exit status ${status[$target]} after ${took[$target]}; its last lines:"
    tail -n "$LAST_LINES" "$root/root/make-$target.log" | sed 's/^/    /'
done
[ "${status[demo]}" -eq 0 ] && [ "${status[test]}" -eq 0 ]
