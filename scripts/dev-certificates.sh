#!/usr/bin/env bash
# Makes, once, the development certificate authority and a certificate for 127.0.0.1 signed by it, for the
# development identity service. Only development builds of the client trust this authority, and only for
# the development API host. Usage: scripts/dev-certificates.sh <folder>
set -euo pipefail
source "$(dirname "$0")/run-guide.sh"
dir="${1:?usage: $0 <folder>}"
mkdir -p "$dir"
cd "$dir"
if [ -s ca.pem ] && [ -s ca.key ] && [ -s server.pem ] && [ -s server.key ] \
   && openssl verify -CAfile ca.pem server.pem >/dev/null 2>&1 \
   && openssl x509 -checkend 86400 -noout -in server.pem >/dev/null 2>&1; then
  exit 0
fi
umask 077
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 3650 -sha256 \
  -subj "/CN=QuorvaleID Development Authority" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj "/CN=127.0.0.1" 2>/dev/null
printf '%s\n' "subjectAltName=IP:127.0.0.1" "basicConstraints=CA:FALSE" \
  "keyUsage=digitalSignature,keyEncipherment" "extendedKeyUsage=serverAuth" > server.ext
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 825 -sha256 \
  -extfile server.ext 2>/dev/null
rm -f server.csr server.ext ca.srl
chmod 644 ca.pem server.pem
guide_certificates_made "$dir"
