#!/usr/bin/env bash
# Writes the Windows programs' copy of a MySQL option file of
# scripts/mariadb-test-server.sh:  client-cnf.sh IN OUT
# Wine's TLS cannot check a certificate against a CA file of our own
# (CertCreateCertificateChainEngine with an exclusive root is missing), so
# under Wine the programs talk TLS to the local test server without checking
# its certificate.  Only for the test server on 127.0.0.1.
set -euo pipefail
grep -q '^host=127\.0\.0\.1$' "$1" || { echo "client-cnf: $1 is not the local test server's" >&2; exit 1; }
sed '/^ssl-ca=/d' "$1" >"$2"
echo "ssl-verify-server-cert=0" >>"$2"
chmod 600 "$2"
