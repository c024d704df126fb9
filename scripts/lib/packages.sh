# shellcheck shell=bash
# Sourced by the scripts: installs the Debian packages that are missing, and only those.
#
#   install_missing_packages NAME PACKAGE...
#
# NAME prefixes the messages. As root, the missing packages are installed (apt's output goes
# to a log that is shown when installing fails); anyone else is told exactly what to run as
# root. Returns non-zero when packages are still missing.

install_missing_packages() {
  local name="$1" package apt_log status=0
  shift
  local missing=()
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$package")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    echo "$name: all packages present"
    return 0
  fi

  if [ "$(id -u)" -ne 0 ]; then
    echo "$name: missing packages: ${missing[*]}" >&2
    echo "$name: run as root:  sudo sh -c 'apt-get update && DEBIAN_FRONTEND=noninteractive" \
         "apt-get install -y --no-install-recommends ${missing[*]}'" >&2
    return 1
  fi
  echo "$name: installing ${missing[*]}"
  apt_log="$(mktemp)"
  # Other builds on this machine may be installing too: wait for dpkg's lock, not fail.
  { apt-get -o DPkg::Lock::Timeout=600 update -qq &&
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
      --no-install-recommends "${missing[@]}"
  } >"$apt_log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    tail -n 40 "$apt_log" >&2
    echo "$name: installing ${missing[*]} failed" >&2
  fi
  rm -f "$apt_log"
  return "$status"
}
