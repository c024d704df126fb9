# shellcheck shell=bash
# Sourced by scripts/lib/windows-deps.sh: where Debian's source packages come from. The mirror
# is the one the machine's own apt sources name, so the build also works behind a local one.
#
# Uses the caller's $srcdir and its log and die; private_apt_sources sets $mirror and
# $apt_opts for fetch_source.
# shellcheck disable=SC2154

# The first URI of the machine's own apt sources that serves Debian's main archive for
# bookworm: deb822 stanzas in sources.list.d/*.sources, then one-line entries in sources.list.
# Security archives are skipped, and so are archives signed by keys other than Debian's (other
# vendors' repositories also say bookworm main); files with any other name (such as
# *.disabled-by-farm) are not read, as apt does not read them.
debian_mirror() {
  local files=() file
  for file in /etc/apt/sources.list.d/*.sources; do [ -f "$file" ] && files+=("$file"); done
  if [ ${#files[@]} -gt 0 ]; then
    awk '
      function flush() {
        if (types ~ /(^| )deb(-src)?( |$)/ && tolower(enabled) != "no" &&
            (" " suites " ") ~ / bookworm / && (" " components " ") ~ / main / &&
            (signed == "" || signed ~ /debian-archive/)) {
          n = split(uris, list, " ")
          for (i = 1; i <= n; i++) if (list[i] !~ /security/) print list[i]
        }
        types = uris = suites = components = enabled = signed = key = ""
      }
      FNR == 1 { flush() }
      /^[ \t]*#/ { next }
      /^[ \t]*$/ { flush(); next }
      /^[ \t]/ { if (key == "uris") uris = uris " " $0; next }
      {
        key = tolower($0); sub(/:.*/, "", key)
        value = $0; sub(/^[^:]*:[ \t]*/, "", value)
        if (key == "types") types = value
        else if (key == "uris") uris = value
        else if (key == "suites") suites = value
        else if (key == "components") components = value
        else if (key == "enabled") enabled = value
        else if (key == "signed-by") signed = value
      }
      END { flush() }' "${files[@]}"
  fi
  if [ -f /etc/apt/sources.list ]; then
    # "deb [options] URI suite components": the options move to the end of the line.
    sed -e 's/#.*//' -e 's/^\([^[]*\)\(\[[^]]*\]\)\(.*\)/\1\3 \2/' /etc/apt/sources.list |
      awk '($1 == "deb" || $1 == "deb-src") && $3 == "bookworm" && $2 !~ /security/ &&
           ($0 !~ /signed-by=/ || $0 ~ /signed-by=[^] ]*debian-archive/) {
             for (i = 4; i <= NF; i++) if ($i == "main") { print $2; next } }'
  fi
}

# Downloads the newest upload of source package $1 at upstream version $3 in suite $2 that the
# mirror serves and prints its Debian version. An index can name an upload the mirror's pool
# does not hold (trixie's newest curl and nghttp2 answered 404 here), so older ones are tried
# next.
fetch_source() {
  local name="$1" suite="$2" upstream="$3" version versions
  versions="$(apt-cache "${apt_opts[@]}" madison "$name" |
              awk -F' *[|] *' -v suite="$suite" -v upstream="$upstream" '
                $3 ~ (" " suite "/main Sources$") &&
                substr($2, 1, length(upstream) + 1) ~ ("^" upstream "[-+~]") { print $2 }' |
              sort -u -r -V)"
  [ -n "$versions" ] || die "$mirror has no $name $upstream in $suite"
  for version in $versions; do
    if apt-get -qq "${apt_opts[@]}" source --download-only "$name=$version" \
         >"$srcdir/download/$name-$version.log" 2>&1; then
      printf '%s\n' "$version"
      return 0
    fi
    log "$name $version is listed but could not be downloaded; trying an older upload" >&2
  done
  cat "$srcdir/download/$name-$version.log" >&2
  die "no upload of $name $upstream in $suite could be downloaded from $mirror"
}

# A private sources list and lists directory in $1 with the mirror's deb-src lines for each
# suite that follows, their indexes read: the system's apt configuration stays untouched.
# Sets $mirror and $apt_opts.
private_apt_sources() {
  local apt_dir="$1" suite
  shift
  mirror="$(debian_mirror | sed -n 1p)"
  [ -n "$mirror" ] || die "no Debian archive for bookworm main in" \
    "/etc/apt/sources.list.d/*.sources or /etc/apt/sources.list: its URI is the mirror the" \
    "source packages come from"
  mkdir -p "$apt_dir/lists/partial"
  # Debian's keyring holds the next release's archive keys too (trixie's since 2023.3+deb12u2).
  for suite in "$@"; do
    echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $suite main"
  done >"$apt_dir/src.list"
  apt_opts=(-o "Dir::Etc::SourceList=$apt_dir/src.list" -o "Dir::Etc::SourceParts=/dev/null"
            -o "Dir::State::Lists=$apt_dir/lists" -o "APT::Sandbox::User=root")
  apt-get -qq "${apt_opts[@]}" update >"$apt_dir/update.log" 2>&1 \
    || { cat "$apt_dir/update.log"
         die "apt could not read $mirror's sources for $*; is their archive key in" \
             "/usr/share/keyrings/debian-archive-keyring.gpg (package debian-archive-keyring)?"; }
}
