#!/usr/bin/env bash
# Runs sdk_compat.mjs: qelkit-mcp driven by the official MCP TypeScript SDK.
# Needs QELKIT_MCP_BINARY. Exit codes: 0 passed, 1 failed, 77 skipped
# (node, npm or openssl missing, or the npm registry out of reach).
set -uo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
skip() {
  echo "SKIPPED: $*" >&2
  exit 77
}
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

command -v node >/dev/null 2>&1 || skip "node is not installed"
command -v npm >/dev/null 2>&1 || skip "npm is not installed"
command -v openssl >/dev/null 2>&1 || skip "openssl is not installed"
node_major="$(node -p 'process.versions.node.split(".")[0]')"
[ "$node_major" -ge 18 ] 2>/dev/null || skip "node $node_major is too old (need 18 or later)"

binary="${QELKIT_MCP_BINARY:-}"
[ -n "$binary" ] || fail "QELKIT_MCP_BINARY is not set"
[ -x "$binary" ] || fail "server binary $binary is missing or not executable"

work="$(mktemp -d "${TMPDIR:-/tmp}/qelkit-compat.XXXXXX")" || fail "mktemp"
trap 'rm -rf "$work"' EXIT

# The SDK lives in node_modules next to this script (ignored by git),
# installed from the lock file on first use; a lock keeps parallel test
# runs from installing at the same time.
install_sdk() {
  [ -d "$here/node_modules/@modelcontextprotocol/sdk" ] && return 0
  if ! (cd "$here" && timeout 240 npm ci --no-audit --no-fund --loglevel=error \
      >"$work/npm.log" 2>&1); then
    if grep -qiE 'ENOTFOUND|EAI_AGAIN|ECONNREFUSED|ECONNRESET|ETIMEDOUT|network|proxy|403|401' \
        "$work/npm.log"; then
      skip "npm registry not reachable: $(tail -n 3 "$work/npm.log" | tr '\n' ' ')"
    fi
    cat "$work/npm.log" >&2
    fail "npm ci failed"
  fi
}
if command -v flock >/dev/null 2>&1; then
  exec 9>"${TMPDIR:-/tmp}/qelkit-compat-npm.lock"
  flock -w 300 9 || fail "another npm install holds the lock"
  install_sdk
  flock -u 9
else
  install_sdk
fi

# A throw-away CA and a certificate for api.localhost (and 127.0.0.1) signed by it.
make_certificates() {
  openssl req -x509 -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes \
    -keyout "$work/ca.key" -out "$work/ca.pem" -days 2 -subj "/CN=qelkit compat CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" &&
  openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes \
    -keyout "$work/server.key" -out "$work/server.csr" -subj "/CN=api.localhost" &&
  printf '%s\n' "basicConstraints=critical,CA:FALSE" "keyUsage=critical,digitalSignature" \
    "extendedKeyUsage=serverAuth" "subjectAltName=DNS:api.localhost,DNS:localhost,IP:127.0.0.1" \
    >"$work/server.ext" &&
  openssl x509 -req -in "$work/server.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" \
    -set_serial "0x$(openssl rand -hex 8)" -days 2 -sha256 -extfile "$work/server.ext" \
    -out "$work/server.pem"
}
make_certificates >"$work/openssl.log" 2>&1 || { cat "$work/openssl.log" >&2; fail "certificate generation"; }
mkdir -p "$work/home"

export QELKIT_MCP_BINARY="$binary"
export COMPAT_CERT="$work/server.pem" COMPAT_KEY="$work/server.key" COMPAT_CA="$work/ca.pem"
export COMPAT_HOME="$work/home"
timeout 120 node "$here/sdk_compat.mjs"
status=$?
[ "$status" -eq 124 ] && fail "sdk_compat.mjs did not finish within 120 s"
[ "$status" -eq 0 ] || exit 1
exit 0
