#!/usr/bin/env bash
# Fetches and unpacks a Debian source package with apt, which checks its signature and
# checksums, without touching the system's apt configuration: the source entries are made
# from the system's own apt sources (the same addresses and suites, as deb-src) in a private
# list, with private index and cache folders.
#
#   scripts/fetch-debian-source.sh PACKAGE[=VERSION] DEST
#
# Unpacks into DEST/<package>-<version> and prints that folder on the last line of standard
# output. A folder fetched before is reused without asking the network. Progress goes to
# standard error.
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 PACKAGE[=VERSION] DEST" >&2
  exit 2
fi
package=$1
dest=$2
name=${package%%=*}

mkdir -p "$dest"
dest=$(cd "$dest" && pwd)
marker="$dest/.fetched-$name"
if [ -f "$marker" ] && [ -d "$(cat "$marker")" ]; then
  cat "$marker"
  exit 0
fi

command -v dpkg-source >/dev/null || {
  echo "$0: dpkg-source is missing (Debian package dpkg-dev)" >&2
  exit 1
}

state="${XDG_CACHE_HOME:-$HOME/.cache}/vorlix/apt-source"
mkdir -p "$state/lists/partial" "$state/cache/archives/partial" "$state/parts"
list="$state/sources.list"

# Only the distribution's own suites (those named after its codename): third-party
# repositories rarely publish sources, and a missing index would fail the update.
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$codename" ] || { echo "$0: no VERSION_CODENAME in /etc/os-release" >&2; exit 1; }

sources_from_system() {
  local f
  # One-line format: deb [options] URI SUITE COMPONENT...
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    awk -v cn="$codename" '
      $1 == "deb" {
        i = 2
        if ($i ~ /^\[/) while ($i !~ /\]$/ && i < NF) i++
        else i = 1
        if (index($(i + 2), cn) != 1) next
        line = "deb-src"
        for (j = 2; j <= NF; j++) line = line " " $j
        print line
      }' "$f"
  done
  # deb822 format: turn each stanza with a deb type into a one-line deb-src entry per suite.
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk -v cn="$codename" '
      function flush() {
        if (types ~ /(^| )deb( |$)/ && enabled != "no")
          for (n = split(suites, s, " "); n > 0; n--)
            if (index(s[n], cn) == 1) {
              split(uris, u, " ")
              printf "deb-src%s %s %s %s\n", (signed != "" ? " [signed-by=" signed "]" : ""), u[1], s[n], comps
            }
        types = uris = suites = comps = signed = enabled = ""
      }
      /^[ \t]*#/ { next }
      /^[ \t]*$/ { flush(); next }
      {
        key = tolower($1); sub(/:$/, "", key); $1 = ""; sub(/^ +/, "")
        if (key == "types") types = $0
        else if (key == "uris") uris = $0
        else if (key == "suites") suites = $0
        else if (key == "components") comps = $0
        else if (key == "signed-by") signed = $0
        else if (key == "enabled") enabled = tolower($0)
      }
      END { flush() }' "$f"
  done
}

sources_from_system | sort -u >"$list"
if [ ! -s "$list" ]; then
  echo "$0: no $codename entries in the system's apt sources to take sources from" >&2
  exit 1
fi

apt_opts=(
  -o "Dir::Etc::SourceList=$list"
  -o "Dir::Etc::SourceParts=$state/parts"
  -o "Dir::State::Lists=$state/lists"
  -o "Dir::Cache=$state/cache"
  -o "APT::Sandbox::User=root"
)
echo "fetch-debian-source: updating the source index ($(wc -l <"$list") entries)" >&2
apt-get "${apt_opts[@]}" -q update >&2

work=$(mktemp -d "$dest/.fetch.XXXXXX")
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get "${apt_opts[@]}" -q source "$package" >&2)

unpacked=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name "$name-*" | head -n 1)
[ -n "$unpacked" ] || { echo "$0: apt-get source left no $name-* folder" >&2; exit 1; }
final="$dest/$(basename "$unpacked")"
rm -rf "$final"
mv "$unpacked" "$final"
echo "$final" >"$marker"
echo "$final"
