#!/usr/bin/env bash
# Authenticode-signs Windows programs in place (SHA-256) with the certificate that
# ORVANE_SIGN_PFX names, its password read from the file ORVANE_SIGN_PASSWORD_FILE, and a
# time stamp from ORVANE_SIGN_TIMESTAMP_URL when that is set. scripts/package.sh uses it, and so
# does the installer build for the uninstaller it carries.
#   usage: bash scripts/sign.sh FILE...
set -euo pipefail
if [ -z "${ORVANE_SIGN_PFX:-}" ] || [ -z "${ORVANE_SIGN_PASSWORD_FILE:-}" ]; then
    echo "sign.sh: ORVANE_SIGN_PFX and ORVANE_SIGN_PASSWORD_FILE must name the certificate" >&2
    exit 2
fi
for file in "$@"; do
    signed="$file.signed"
    options=(-pkcs12 "$ORVANE_SIGN_PFX" -readpass "$ORVANE_SIGN_PASSWORD_FILE" -h sha256
             -n "Orvane Update Utility")
    [ -n "${ORVANE_SIGN_TIMESTAMP_URL:-}" ] && options+=(-ts "$ORVANE_SIGN_TIMESTAMP_URL")
    rm -f "$signed"
    if ! osslsigncode sign "${options[@]}" -in "$file" -out "$signed" >"$signed.log" 2>&1; then
        cat "$signed.log" >&2
        rm -f "$signed" "$signed.log"
        exit 1
    fi
    rm -f "$signed.log"
    mv "$signed" "$file"
done
