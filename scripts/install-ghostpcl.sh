#!/usr/bin/env bash
# Builds GhostPCL's gpcl6, the reader of PCL 5 and PCL XL streams, from Debian's source of the
# installed ghostscript (or the newest source that can be fetched where a mirror lacks that one's),
# into a cache kept across runs and clones, named by the installed version:
#   ${PRINTTEST_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/printtest}/ghostpcl-<version>/
# holding gpcl6, source-version (the source it was built from) and fonts/, the resident fonts it needs (Debian's source has none): copies of
# fonts-liberation's faces under the names gpcl6's font table looks for. Nothing is installed in
# the system but the build's dependencies; the system's apt sources are left as they are. Does
# nothing when the cache is complete. Works as root or through sudo.
set -euo pipefail

if [ "$(id -u)" -eq 0 ]; then SUDO=; else SUDO=sudo; fi

version=$(dpkg-query -W -f='${Version}' ghostscript)
cache=${PRINTTEST_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/printtest}/ghostpcl-$version
[ -x "$cache/gpcl6" ] && [ -d "$cache/fonts" ] && exit 0

build_deps=(
  dpkg-dev build-essential python3-fonttools fonts-liberation
  liblcms2-dev libjpeg-dev libpng-dev libfreetype-dev libopenjp2-7-dev libtiff-dev
  libjbig2dec0-dev libexpat1-dev libfontconfig1-dev libidn11-dev libpaper-dev libijs-dev zlib1g-dev
)
release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")

work=$(mktemp -d "${TMPDIR:-/tmp}/ghostpcl.XXXXXX")
trap 'rm -rf "$work" "$cache/.gpcl6.$$" "$cache/.fonts.$$"' EXIT
log=$work/build.log

# Runs a step with its output kept in the log, shown only when the step fails.
quietly() {
  if ! "$@" >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "install-ghostpcl.sh: failed: $*" >&2
    exit 1
  fi
}

install_build_deps() {
  local missing=() p
  for p in "${build_deps[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return
  echo "install-ghostpcl.sh: installing ${missing[*]}" >&2
  local install=(env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq
    --no-install-recommends)
  # The same fallback as install-deps.sh: a suite's index out of step is passed by the release's own.
  if ! $SUDO "${install[@]}" "${missing[@]}" >"$log" 2>&1; then
    [ -n "$release" ] || { tail -n 40 "$log" >&2; exit 1; }
    quietly $SUDO "${install[@]}" -t "$release" "${missing[@]}"
  fi
}

# The system's Debian suites (those of this release) as source lines, from its deb822 .sources
# files and one-line .list files alike.
source_lines() {
  local file
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] || continue
    # After "deb" may come options in brackets, then the URI and the suite.
    awk -v release="$release" '$1 == "deb" {
      i = 2
      if ($i ~ /^\[/) { while ($i !~ /\]$/ && i < NF) i++; i++ }
      if (index($(i + 1), release) == 1) { $1 = "deb-src"; print }
    }' "$file"
  done
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    awk -v release="$release" '
      function flush(   n, s, suites, line) {
        if (types ~ /(^| )deb( |$)/ && enabled != "no") {
          n = split(suite_list, suites, " ")
          for (s = 1; s <= n; s++) if (index(suites[s], release) == 1) {
            line = "deb-src " (keyring ? "[signed-by=" keyring "] " : "")
            split(uris, u, " ")
            print line u[1] " " suites[s] " " components
          }
        }
        types = uris = suite_list = components = keyring = enabled = ""
      }
      /^[ \t]*$/ { flush(); next }
      /^[ \t]*#/ { next }
      /^Types:/ { sub(/^Types:[ \t]*/, ""); types = $0 }
      /^URIs:/ { sub(/^URIs:[ \t]*/, ""); uris = $0 }
      /^Suites:/ { sub(/^Suites:[ \t]*/, ""); suite_list = $0 }
      /^Components:/ { sub(/^Components:[ \t]*/, ""); components = $0 }
      /^Enabled:/ { sub(/^Enabled:[ \t]*/, ""); enabled = tolower($0) }
      # A key given inline is not carried over: apt then checks against its trusted keys.
      /^Signed-By:[ \t]*\// { sub(/^Signed-By:[ \t]*/, ""); keyring = $0 }
      END { flush() }' "$file"
  done
}

fetch_source() {
  mkdir -p "$work/lists/partial" "$work/apt-cache/archives/partial"
  source_lines >"$work/sources.list"
  # A private sources file, index folder and cache: the system's own are neither read nor written.
  local private=(-o Dir::Etc::sourcelist="$work/sources.list" -o Dir::Etc::sourceparts=-
    -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/apt-cache"
    -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache= -o APT::Sandbox::User="$(id -un)")
  quietly apt-get "${private[@]}" update
  # The installed version's source first. A security update's binaries can reach a mirror before
  # its source does (seen: the .dsc missing); GhostPCL is a program of its own, so the newest
  # source that can be fetched serves as well. The cache keeps the installed version's name.
  local candidates wanted
  candidates=$(apt-cache "${private[@]}" showsrc ghostscript 2>/dev/null | sed -n 's/^Version: //p' |
    sort -u | sort -r -V)
  for wanted in "$version" $(grep -vxF "$version" <<<"$candidates"); do
    rm -f "$work"/ghostscript_*
    if (cd "$work" && apt-get "${private[@]}" source --download-only "ghostscript=$wanted" >"$log" 2>&1); then
      [ "$wanted" = "$version" ] ||
        echo "install-ghostpcl.sh: the source of ghostscript $version cannot be fetched; building $wanted's" >&2
      (cd "$work" && quietly dpkg-source -x ghostscript_*.dsc source)
      echo "$wanted" >"$work/source-version"
      return
    fi
  done
  tail -n 40 "$log" >&2
  echo "install-ghostpcl.sh: no source of ghostscript can be fetched" >&2
  exit 1
}

build() {
  cd "$work/source"
  quietly ./configure --without-x --disable-cups
  quietly make -j2 gpcl6
  mkdir -p "$cache"
  cp "$work/source-version" "$cache/source-version"
  cp bin/gpcl6 "$cache/.gpcl6.$$"
  mv -f "$cache/.gpcl6.$$" "$cache/gpcl6"
}

# gpcl6 takes a TrueType file as one of its resident fonts when the file's PostScript name (name
# table entry 6) is one its table lists; Liberation's faces have the metrics of those fonts.
make_fonts() {
  mkdir -p "$cache"
  local made=$cache/.fonts.$$
  quietly /usr/bin/python3 - /usr/share/fonts/truetype/liberation "$made" <<'EOF'
import os
import sys

from fontTools.ttLib import TTFont

# Liberation's families: the families of gpcl6's table each stands in for, with their word for italic.
FAMILIES = {
    'LiberationMono': (('NimbusMono', 'Italic'), ('NimbusMonoPS', 'Italic')),
    'LiberationSerif': (('NimbusRoman', 'Italic'), ('NimbusRomanNo9', 'Italic'), ('NimbusRomanNo4', 'Italic')),
    'LiberationSans': (('NimbusSans', 'Oblique'), ('NimbusSansNo2', 'Italic')),
    'LiberationSansNarrow': (('NimbusSansNarrow', 'Oblique'),),
}
STYLES = ('Regular', 'Bold', 'Italic', 'BoldItalic')
source, made = sys.argv[1:]
os.makedirs(made)
for family, names in FAMILIES.items():
    for style in STYLES:
        font = TTFont(os.path.join(source, f'{family}-{style}.ttf'))
        for urw, italic in names:
            name = f'{urw}-{style.replace("Italic", italic)}'
            for record in font['name'].names:
                if record.nameID == 6:
                    record.string = name
            font.save(os.path.join(made, name + '.ttf'))
EOF
  # A run alongside that made them first keeps its own.
  mv -T "$made" "$cache/fonts" 2>/dev/null || rm -rf "$made"
}

install_build_deps
[ -d "$cache/fonts" ] || make_fonts
if [ ! -x "$cache/gpcl6" ]; then
  echo "install-ghostpcl.sh: building GhostPCL $version into $cache (a few minutes)" >&2
  fetch_source
  build
fi
