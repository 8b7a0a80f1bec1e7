#!/bin/sh
# Makes a throw-away self-signed certificate for the mail tests and the mail benchmark:
#   make_certificate.sh FOLDER COMMON_NAME ALT_NAMES     (ALT_NAMES like "IP:127.0.0.1,DNS:localhost")
# writes FOLDER/cert.pem and FOLDER/key.pem, valid for two days; openssl's chatter only on failure.
set -e
mkdir -p "$1"
if ! out=$(openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
  -subj "/CN=$2" -addext "subjectAltName=$3" -keyout "$1/key.pem" -out "$1/cert.pem" 2>&1); then
  echo "$out" >&2
  exit 1
fi
