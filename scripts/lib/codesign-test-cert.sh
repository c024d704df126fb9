# shellcheck shell=bash
# Sourced by scripts/test: a throwaway code-signing CA and the certificate it issues, with
# which the test build's exe is signed and against which the tests verify that signature.
#
#   codesign_test_cert DIR
#
# Leaves DIR/ca.pem (the CA, the only certificate a verifier trusts), DIR/signer.pem and
# DIR/signer.key (the signing certificate and its key). Files that are all there and valid
# for at least another day are kept, so the signature's issuer stays the same between runs.

codesign_test_cert() {
  local dir="$1" made file
  if [ -f "$dir/ca.pem" ] && [ -f "$dir/signer.key" ] &&
     openssl x509 -checkend 86400 -noout -in "$dir/ca.pem" >/dev/null 2>&1 &&
     openssl x509 -checkend 86400 -noout -in "$dir/signer.pem" >/dev/null 2>&1; then
    return 0
  fi
  mkdir -p "$dir"
  # Made beside DIR's files and moved in only when complete: a run stopped half-way leaves
  # nothing that the check above would take for a finished set.
  made="$(mktemp -d "$dir/new.XXXXXX")"
  printf '%s\n' 'basicConstraints = critical, CA:FALSE' \
    'keyUsage = critical, digitalSignature' 'extendedKeyUsage = codeSigning' \
    'subjectKeyIdentifier = hash' 'authorityKeyIdentifier = keyid' >"$made/signer.ext"
  if ! { openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -keyout "$made/ca.key" \
           -out "$made/ca.pem" -subj "/CN=Vestrel Installer test code-signing CA" \
           -addext "basicConstraints = critical, CA:TRUE" \
           -addext "keyUsage = critical, keyCertSign, cRLSign" &&
         openssl req -newkey rsa:2048 -nodes -keyout "$made/signer.key" \
           -out "$made/signer.csr" -subj "/O=Vestrel/CN=Vestrel Installer test signer" &&
         openssl x509 -req -in "$made/signer.csr" -CA "$made/ca.pem" -CAkey "$made/ca.key" \
           -set_serial "0x$(openssl rand -hex 8)" -days 3650 -extfile "$made/signer.ext" \
           -out "$made/signer.pem"; } >"$made/openssl.log" 2>&1; then
    cat "$made/openssl.log" >&2
    rm -rf "$made"
    echo "codesign_test_cert: openssl could not make the test code-signing certificates" >&2
    return 1
  fi
  chmod 600 "$made/ca.key" "$made/signer.key"
  # ca.pem goes first and comes back last, so an old CA never vouches for a new signer.
  rm -f "$dir/ca.pem"
  for file in ca.key signer.key signer.pem ca.pem; do
    mv -f "$made/$file" "$dir/$file"
  done
  rm -rf "$made"
}
