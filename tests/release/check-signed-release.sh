#!/usr/bin/env bash
# The release signed with Authenticode, by a throwaway CA and code-signing
# certificate made here with openssl (in a temporary folder, gone after):
# every PE file of the zip verifies against that CA with osslsigncode, the
# .debug files are left unsigned and still match their DLL's debuglink;
# removing the signatures gives back the unsigned release's files byte for
# byte; the signed zip passes the release zip's own checks (checksums, bill
# of materials of the signed bytes, the CMake hosts of both editions run
# under Wine over the signed DLL and stand-in io.dll), and the Wine suite's
# comm-port tests run over the signed key library and comm-port io.dll.
# Certificates that can't sign (a wrong password, no code-signing usage,
# expired, not yet valid, a missing key file, another certificate's key) and
# a time-stamp server that doesn't answer each stop the release with their
# message, before anything is signed, leaving no zip (an older one of the
# same name is gone too) and the unsigned tree as it was.
# Usage: check-signed-release.sh SOURCE_DIR X86_BUILD_DIR X64_BUILD_DIR WINEPREFIX
set -uo pipefail
src="$(realpath "$1")"
prefix="$4"
. "$(dirname "$0")/both-editions.sh" "$2" "$3"
. "$(dirname "$0")/checks.sh"

# The throwaway CA and its certificates. `openssl ca` sets any validity
# period, past or future, which `openssl x509 -req` can't.
pki="$work/pki"
mkdir -p "$pki/issued"
touch "$pki/index.txt"
cat >"$pki/ca.cnf" <<EOF
[ca]
default_ca = throwaway
[throwaway]
database = $pki/index.txt
new_certs_dir = $pki/issued
certificate = $pki/ca.pem
private_key = $pki/ca.key
default_md = sha256
policy = anything
unique_subject = no
rand_serial = yes
[anything]
commonName = supplied
[code_signing]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
[web_server]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
EOF
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$pki/ca.key" -out "$pki/ca.pem" -days 2 \
    -subj "/CN=Zelbin test CA" -addext basicConstraints=critical,CA:TRUE \
    -addext keyUsage=critical,keyCertSign,cRLSign >"$pki/log" 2>&1 || { cat "$pki/log"; exit 1; }
issue() { # name extensions start end [key password]
    local name="$1" extensions="$2" start="$3" end="$4" password="${5:-}"
    if [ -n "$password" ]; then
        openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -aes-256-cbc -pass "pass:$password" \
            -out "$pki/$name.key" 2>>"$pki/log"
    else
        openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$pki/$name.key" 2>>"$pki/log"
    fi
    openssl req -new -key "$pki/$name.key" -passin "pass:$password" -subj "/CN=Zelbin test $name" \
        -out "$pki/$name.csr" 2>>"$pki/log" &&
        openssl ca -batch -config "$pki/ca.cnf" -extensions "$extensions" -startdate "$start" -enddate "$end" \
            -in "$pki/$name.csr" -out "$pki/$name.pem" >>"$pki/log" 2>&1 ||
        { cat "$pki/log"; exit 1; }
}
now="$(date -u +%s)"
stamp() { date -u -d "@$(($now + $1))" +%Y%m%d%H%M%SZ; }
issue signer code_signing "$(stamp -3600)" "$(stamp 86400)" "key password"
issue web web_server "$(stamp -3600)" "$(stamp 86400)"
issue expired code_signing 20200101000000Z 20210101000000Z
issue future code_signing "$(stamp 86400)" "$(stamp 172800)"
openssl pkcs12 -export -inkey "$pki/signer.key" -passin "pass:key password" -in "$pki/signer.pem" \
    -certfile "$pki/ca.pem" -passout "pass:pfx password" -out "$pki/signer.p12" >>"$pki/log" 2>&1 ||
    { cat "$pki/log"; exit 1; }
printf 'key password\n' >"$pki/key-password"

install_editions "$work/installs"
release() { # out-dir tree-dir (the signing settings in the environment)
    "$src/scripts/release.sh" --zip "$work/installs" "$1" "$2"
}
unsigned_zip="$(release "$work/unsigned" "$work/unsigned-tree")" || exit 1
name="$(basename "$unsigned_zip" .zip)"

# Signed twice: from the PKCS#12 file with its password in the environment,
# and from the PEM pair with the key's password in a file.
signed_zip="$(ZELBIN_SIGN_PKCS12="$pki/signer.p12" ZELBIN_SIGN_PASSWORD="pfx password" \
    release "$work/signed" "$work/signed-tree" 2>"$work/signed.log")"
check "a release signed from a PKCS#12 file, its password in the environment" $? "$work/signed.log"
pem_zip="$(ZELBIN_SIGN_CERT="$pki/signer.pem" ZELBIN_SIGN_KEY="$pki/signer.key" \
    ZELBIN_SIGN_PASSWORD_FILE="$pki/key-password" release "$work/pem" "$work/pem-tree" 2>"$work/pem.log")"
check "a release signed from a PEM pair, the key's password in a file" $? "$work/pem.log"
grep -q "signed 12 files as CN=Zelbin test signer" "$work/signed.log"
check "the release says what it signed, and as whom: $(cat "$work/signed.log")" $?

for tree in signed-tree pem-tree; do
    unverified=""
    count=0
    while IFS= read -r file; do
        count=$((count + 1))
        osslsigncode verify -CAfile "$pki/ca.pem" -in "$work/$tree/$file" >"$work/verify.log" 2>&1 &&
            grep -q '^Signature verification: ok' "$work/verify.log" || unverified+=" $file"
    done < <(cd "$work/$tree" && find . -type f \( -name '*.dll' -o -name '*.exe' \) | sed 's|^\./||' | sort)
    [ -z "$unverified" ] && [ "$count" -eq 12 ]
    check "$tree: all $count PE files, both editions, verify against the throwaway CA${unverified:+ (not:$unverified)}" $? \
        "$work/verify.log"
done

# Zelbin_Serial.dll.debug stays unsigned: the DLL's debuglink holds its CRC-32.
for arch in x86 x64; do
    /usr/bin/python3 - "$work/signed-tree/$arch/Zelbin_Serial.dll" >"$work/debuglink.log" 2>&1 <<'EOF'
import sys, zlib
import pefile
dll = pefile.PE(sys.argv[1])
# The debuglink section: the .debug file's name, padded to 4 bytes, then its CRC-32.
data = next(s.get_data() for s in dll.sections if s.get_data().startswith(b"Zelbin_Serial.dll.debug\0"))
name = data[:data.index(b"\0")].decode()
crc = int.from_bytes(data[(len(name) + 4) & ~3:][:4], "little")
with open(sys.argv[1].rsplit("/", 1)[0] + "/" + name, "rb") as debug:
    actual = zlib.crc32(debug.read())
print(f"{name}: debuglink CRC {crc:08x}, file {actual:08x}")
sys.exit(0 if crc == actual else 1)
EOF
    status=$?
    ! osslsigncode verify -CAfile "$pki/ca.pem" -in "$work/signed-tree/$arch/Zelbin_Serial.dll.debug" >/dev/null 2>&1 &&
        [ "$status" -eq 0 ]
    check "$arch/Zelbin_Serial.dll.debug is not signed and still matches the signed DLL's debuglink" $? "$work/debuglink.log"
done

# The signatures taken off again: the unsigned release's files, byte for byte.
differ=""
while IFS= read -r file; do
    osslsigncode remove-signature -in "$work/signed-tree/$file" -out "$work/removed" >/dev/null 2>&1 &&
        cmp -s "$work/removed" "$work/unsigned-tree/$file" || differ+=" $file"
    rm -f "$work/removed"
done < <(cd "$work/signed-tree" && find . -type f \( -name '*.dll' -o -name '*.exe' \) | sed 's|^\./||' | sort)
[ -z "$differ" ]
check "removing every signature gives back the unsigned release's files byte for byte${differ:+ (not:$differ)}" $?

cmp -s "$signed_zip" "$work/signed/$name.zip" && [ -z "$(ls "$work/signed" | grep -v "^$name.zip$")" ] &&
    diff -r <(cd "$work/signed-tree" && find . -type f -exec sha256sum {} + | sort) \
        <(cd "$work" && rm -rf unzipped && mkdir unzipped && cd unzipped && unzip -q "$signed_zip" &&
          cd "$name" && find . -type f -exec sha256sum {} + | sort) >/dev/null
check "the signed zip alone is in the output folder, and the tree given beside it is the zip unzipped" $?

# The signed zip as a host developer gets it, Wine's CMake hosts included.
"$(dirname "$0")/check-release-zip.sh" "$src" "$x86_build" "$x64_build" "$prefix" "$signed_zip" >"$work/zip.log" 2>&1
check "the signed zip passes the release zip's checks: $(tail -1 "$work/zip.log")" $? "$work/zip.log"
grep '^skip' "$work/zip.log" | sed 's/^/     /'

# The comm-port tests under Wine over the signed key library and comm-port
# io.dll of each edition, laid out as the test program wants them.
for edition in "x86:$x86_build" "x64:$x64_build"; do
    arch="${edition%%:*}"
    build="${edition#*:}"
    if ! why="$(ZELBIN_ARCH="$arch" "$src/scripts/wine-usable.sh" "$arch" 2>&1)"; then
        skipped=$((skipped + 1))
        echo "skip the comm-port tests over the signed $arch files under Wine: ${why#SKIPPED: }"
        continue
    fi
    run="$work/wine-$arch"
    mkdir -p "$run/commio"
    cp "$build/bin/commio_dll_tests.exe" "$work/signed-tree/$arch/Zelbin_Serial.dll" "$run/"
    cp "$work/signed-tree/$arch/io.dll" "$run/commio/io.dll"
    (cd "$run" && ZELBIN_ARCH=x64 "$src/scripts/wine-run.sh" "$prefix" "$run/commio_dll_tests.exe" --gtest_brief=1) \
        >"$work/commio-$arch.log" 2>&1
    check "the comm-port tests pass over the signed $arch Zelbin_Serial.dll and io.dll under Wine" $? \
        "$work/commio-$arch.log"
done

# Certificates that can't sign, each with the message it must give. Every
# case starts with an unsigned tree and an older zip of the same name in
# place: the tree must stay as it was and the zip be gone.
while IFS='|' read -r case settings message; do
    out="$work/bad/$case"
    mkdir -p "$out"
    cp "$unsigned_zip" "$out/$name.zip"
    cp -a "$work/unsigned-tree" "$out/tree"
    eval "env $settings \"$src/scripts/release.sh\" --zip \"$work/installs\" \"$out\" \"$out/tree\"" \
        >"$out/stdout" 2>"$out/stderr"
    status=$?
    [ "$status" -ne 0 ] && grep -qF -- "$message" "$out/stderr" && [ -z "$(ls -A "$out" | grep -v -e '^tree$' \
        -e '^stdout$' -e '^stderr$')" ] && diff -r "$out/tree" "$work/unsigned-tree" >/dev/null
    check "$case: stops with \"$(head -n 1 "$out/stderr" | cut -c1-150)\", no zip, the tree unsigned" $? "$out/stderr"
done <<EOF
wrong PKCS#12 password|ZELBIN_SIGN_PKCS12=$pki/signer.p12 ZELBIN_SIGN_PASSWORD=wrong|can't open the PKCS#12 file $pki/signer.p12 with the password given
wrong key password|ZELBIN_SIGN_CERT=$pki/signer.pem ZELBIN_SIGN_KEY=$pki/signer.key ZELBIN_SIGN_PASSWORD=wrong|can't read the private key $pki/signer.key with the password given
no code-signing usage|ZELBIN_SIGN_CERT=$pki/web.pem ZELBIN_SIGN_KEY=$pki/web.key|is not for code signing: its extended key usage is "TLS Web Server Authentication"
expired|ZELBIN_SIGN_CERT=$pki/expired.pem ZELBIN_SIGN_KEY=$pki/expired.key|the certificate CN=Zelbin test expired expired on Jan  1 00:00:00 2021 GMT
not yet valid|ZELBIN_SIGN_CERT=$pki/future.pem ZELBIN_SIGN_KEY=$pki/future.key|the certificate CN=Zelbin test future is not valid before
missing key file|ZELBIN_SIGN_CERT=$pki/signer.pem ZELBIN_SIGN_KEY=$pki/nowhere.key|the private key $pki/nowhere.key (ZELBIN_SIGN_KEY) is not there or not readable
key without its certificate|ZELBIN_SIGN_KEY=$pki/signer.key|ZELBIN_SIGN_CERT is not set
another certificate's key|ZELBIN_SIGN_CERT=$pki/web.pem ZELBIN_SIGN_KEY=$pki/expired.key|the private key is not the key of the certificate CN=Zelbin test web
two passwords|ZELBIN_SIGN_PKCS12=$pki/signer.p12 ZELBIN_SIGN_PASSWORD=x ZELBIN_SIGN_PASSWORD_FILE=$pki/key-password|both ZELBIN_SIGN_PASSWORD and ZELBIN_SIGN_PASSWORD_FILE are set
time-stamp server not answering|ZELBIN_SIGN_PKCS12=$pki/signer.p12 ZELBIN_SIGN_PASSWORD='pfx password' ZELBIN_SIGN_TIMESTAMP_URL=http://127.0.0.1:9/|osslsigncode could not sign
EOF

echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
