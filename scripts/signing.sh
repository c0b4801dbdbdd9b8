# Authenticode signing of the release's PE files, sourced by release.sh.
#
# Asked for through the environment, never on a command line, where other
# users of the machine could read a password:
#   ZELBIN_SIGN_PKCS12            a PKCS#12 file (.pfx, .p12): the certificate, its chain and the key
#   ZELBIN_SIGN_CERT, ZELBIN_SIGN_KEY   or a PEM pair: the certificate (its chain after it) and the key
#   ZELBIN_SIGN_PASSWORD          the password of the PKCS#12 file or of the key, or
#   ZELBIN_SIGN_PASSWORD_FILE     a file whose first line is that password
#   ZELBIN_SIGN_TIMESTAMP_URL     an RFC 3161 time-stamp server (optional)
# Without ZELBIN_SIGN_PKCS12, ZELBIN_SIGN_CERT and ZELBIN_SIGN_KEY nothing is signed.
#
# signing_check WORK_DIR   whether to sign: 0 yes, 1 no; exits with a message for
#                          a configuration that can't sign (a missing file, a
#                          wrong password, a key of another certificate, a
#                          certificate not for code signing, expired or not yet
#                          valid). Nothing is signed before all of it is checked.
# signing_sign FILE...     signs each file in place (after signing_check said yes)
# signing_subject          the certificate's subject, for the release's own messages

signing_fail() {
    echo "release.sh: not signing, and no release made: $*" >&2
    exit 1
}

signing_asked() {
    [ -n "${ZELBIN_SIGN_PKCS12:-}${ZELBIN_SIGN_CERT:-}${ZELBIN_SIGN_KEY:-}" ]
}

# The password, as a file that openssl and osslsigncode each read: the one
# given, or one written from the environment into the release's own
# private work folder (mode 0600 in a 0700 folder, removed with it).
signing_password_file() {
    local work="$1"
    if [ -n "${ZELBIN_SIGN_PASSWORD_FILE:-}" ]; then
        [ -z "${ZELBIN_SIGN_PASSWORD:-}" ] ||
            signing_fail "both ZELBIN_SIGN_PASSWORD and ZELBIN_SIGN_PASSWORD_FILE are set; set one"
        [ -f "$ZELBIN_SIGN_PASSWORD_FILE" ] && [ -r "$ZELBIN_SIGN_PASSWORD_FILE" ] ||
            signing_fail "the password file $ZELBIN_SIGN_PASSWORD_FILE (ZELBIN_SIGN_PASSWORD_FILE) is not there or not readable"
        signing_pass="$ZELBIN_SIGN_PASSWORD_FILE"
        return
    fi
    signing_pass="$work/signing-password"
    (umask 077 && printf '%s\n' "${ZELBIN_SIGN_PASSWORD:-}" >"$signing_pass")
}

signing_readable() { # file what variable
    [ -n "$1" ] || signing_fail "$3 is not set: $2 is needed with the others"
    [ -f "$1" ] && [ -r "$1" ] || signing_fail "$2 $1 ($3) is not there or not readable"
}

signing_check() {
    local work="$1" log="$1/signing-check.log" cert="$1/signing-cert.pem" ours="$1/signing-cert-key.pub"
    local key_public="$1/signing-key.pub" eku start end now
    signing_asked || return 1
    command -v osslsigncode >/dev/null || signing_fail "osslsigncode is not installed (scripts/setup.sh windows installs it)"
    command -v openssl >/dev/null || signing_fail "openssl is not installed (scripts/setup.sh windows installs it)"
    signing_password_file "$work"

    if [ -n "${ZELBIN_SIGN_PKCS12:-}" ]; then
        [ -z "${ZELBIN_SIGN_CERT:-}${ZELBIN_SIGN_KEY:-}" ] ||
            signing_fail "ZELBIN_SIGN_PKCS12 and ZELBIN_SIGN_CERT/ZELBIN_SIGN_KEY are both set; give either the PKCS#12 file or the PEM pair"
        signing_readable "$ZELBIN_SIGN_PKCS12" "the PKCS#12 file" ZELBIN_SIGN_PKCS12
        # OpenSSL 3 reads older PKCS#12 files (RC2, 3DES) only with its legacy provider.
        local legacy=""
        openssl pkcs12 -in "$ZELBIN_SIGN_PKCS12" -passin "file:$signing_pass" -nokeys -clcerts -out "$cert" \
            >"$log" 2>&1 ||
            { grep -qi unsupported "$log" && legacy=-legacy &&
              openssl pkcs12 $legacy -in "$ZELBIN_SIGN_PKCS12" -passin "file:$signing_pass" -nokeys -clcerts \
                  -out "$cert" >"$log" 2>&1; } ||
            signing_fail "can't open the PKCS#12 file $ZELBIN_SIGN_PKCS12 with the password given: a wrong password, or not a PKCS#12 file ($(signing_first_error "$log"))"
        openssl pkcs12 $legacy -in "$ZELBIN_SIGN_PKCS12" -passin "file:$signing_pass" -nocerts -nodes 2>"$log" |
            openssl pkey -pubout -out "$key_public" 2>>"$log" ||
            signing_fail "the PKCS#12 file $ZELBIN_SIGN_PKCS12 holds no private key that opens with the password given ($(signing_first_error "$log"))"
    else
        signing_readable "${ZELBIN_SIGN_CERT:-}" "the certificate" ZELBIN_SIGN_CERT
        signing_readable "${ZELBIN_SIGN_KEY:-}" "the private key" ZELBIN_SIGN_KEY
        # The first certificate of the file signs; any after it are its chain.
        openssl x509 -in "$ZELBIN_SIGN_CERT" -out "$cert" >"$log" 2>&1 ||
            signing_fail "$ZELBIN_SIGN_CERT (ZELBIN_SIGN_CERT) holds no PEM certificate ($(signing_first_error "$log"))"
        openssl pkey -in "$ZELBIN_SIGN_KEY" -passin "file:$signing_pass" -pubout -out "$key_public" >"$log" 2>&1 ||
            signing_fail "can't read the private key $ZELBIN_SIGN_KEY with the password given: a wrong or missing password, or not a PEM key ($(signing_first_error "$log"))"
    fi
    [ -s "$cert" ] || signing_fail "no certificate of the key in ${ZELBIN_SIGN_PKCS12:-$ZELBIN_SIGN_CERT}"

    signing_certificate="$(openssl x509 -in "$cert" -noout -subject -nameopt RFC2253 | sed 's/^subject=//')"
    openssl x509 -in "$cert" -noout -pubkey >"$ours"
    cmp -s "$ours" "$key_public" ||
        signing_fail "the private key is not the key of the certificate $signing_certificate"
    eku="$(openssl x509 -in "$cert" -noout -ext extendedKeyUsage 2>/dev/null)"
    grep -q 'Code Signing' <<<"$eku" ||
        signing_fail "the certificate $signing_certificate is not for code signing: its extended key usage is ${eku:+\"$(tail -n +2 <<<"$eku" | sed 's/^ *//')\"}${eku:-not given}, and Windows wants Code Signing (1.3.6.1.5.5.7.3.3)"
    start="$(openssl x509 -in "$cert" -noout -startdate | cut -d= -f2)"
    end="$(openssl x509 -in "$cert" -noout -enddate | cut -d= -f2)"
    now="$(date -u +%s)"
    [ "$(date -u -d "$start" +%s)" -le "$now" ] ||
        signing_fail "the certificate $signing_certificate is not valid before $start"
    [ "$(date -u -d "$end" +%s)" -gt "$now" ] ||
        signing_fail "the certificate $signing_certificate expired on $end"
    signing_work="$work"
    return 0
}

signing_first_error() {
    grep -v '^ *$' "$1" | head -n 1 | sed 's/^[0-9A-F]*:error:[0-9A-F]*://'
}

signing_sign() {
    local file signed log="$signing_work/signing.log"
    local source=(-certs "${ZELBIN_SIGN_CERT:-}" -key "${ZELBIN_SIGN_KEY:-}")
    [ -n "${ZELBIN_SIGN_PKCS12:-}" ] && source=(-pkcs12 "$ZELBIN_SIGN_PKCS12")
    local stamp=()
    [ -n "${ZELBIN_SIGN_TIMESTAMP_URL:-}" ] && stamp=(-ts "$ZELBIN_SIGN_TIMESTAMP_URL")
    local status
    for file in "$@"; do
        signed="$file.signed"
        status=0
        # A time-stamp server that takes the request and never answers
        # would hold the release for ever.
        timeout 300 osslsigncode sign "${source[@]}" -readpass "$signing_pass" -h sha256 -n "Zelbin_Serial" \
            "${stamp[@]}" -in "$file" -out "$signed" >"$log" 2>&1 || status=$?
        if [ "$status" -ne 0 ] || [ ! -s "$signed" ]; then
            [ "$status" -ne 124 ] || echo "no answer within 300 s" >>"$log"
            rm -f "$signed"
            signing_fail "osslsigncode could not sign ${file##*/}$([ ${#stamp[@]} -gt 0 ] &&
                echo " (with a time stamp from $ZELBIN_SIGN_TIMESTAMP_URL)"): $(grep -v -E \
                '^( *|Failed|Connecting to .*|[0-9A-F]{8,}:error:.*)$' "$log" | head -n 2 | tr '\n' ' ')"
        fi
        mv "$signed" "$file"
    done
}
