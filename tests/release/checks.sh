# Sourced by the release's checks, after both-editions.sh: a work folder,
# gone at the end, one line per check with the counts kept, and both
# editions' installs. A check signs only as it says: signing settings of
# the caller's environment are cleared.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
unset ZELBIN_SIGN_PKCS12 ZELBIN_SIGN_CERT ZELBIN_SIGN_KEY ZELBIN_SIGN_PASSWORD ZELBIN_SIGN_PASSWORD_FILE \
    ZELBIN_SIGN_TIMESTAMP_URL
passed=0
failed=0
skipped=0
check() { # name status [log file]
    if [ "$2" -eq 0 ]; then
        passed=$((passed + 1)); echo "ok   $1"
    else
        failed=$((failed + 1)); echo "FAIL $1"; [ -n "${3:-}" ] && tail -15 "$3" | sed 's/^/     /'
    fi
}
# Each edition's build installed into DIR/x86 and DIR/x64, as make dist does.
install_editions() { # DIR
    local install
    for install in "$x86_build:x86" "$x64_build:x64"; do
        cmake --install "${install%%:*}" --prefix "$1/${install#*:}" >"$1.log" 2>&1 || { cat "$1.log"; exit 1; }
    done
}
