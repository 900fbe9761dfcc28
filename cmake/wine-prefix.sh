#!/usr/bin/env bash
# wine-prefix.sh BUILD_DIR [fresh]
# Makes sure BUILD_DIR/wine/prefix exists, copied from a template prefix that is
# created once per build folder (creating one costs 10-20 s, copying 0.5 s).
# With "fresh" the prefix is replaced by a new copy of the template.
# ZV_WINE_LOADER names the Wine loader (wine or wine64) of the build's target.
set -eu
loader=${ZV_WINE_LOADER:-wine}
wineserver_of_loader=$(dirname "$(command -v "$loader")")/wineserver
mkdir -p "$1"
build_dir=$(cd "$1" && pwd)
mode=${2:-}
wine_dir="$build_dir/wine"
template="$wine_dir/template"
prefix="${WINEPREFIX:-$wine_dir/prefix}"
mkdir -p "$wine_dir"
case "$prefix" in /*) ;; *) prefix="$(pwd)/$prefix" ;; esac

make_template() {
  local tmp="$wine_dir/template.tmp"
  rm -rf "$tmp"
  WINEPREFIX="$tmp" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" "$loader" wineboot -i >"$wine_dir/wineboot.log" 2>&1 || {
    echo "wine-prefix: wineboot failed, see $wine_dir/wineboot.log" >&2
    return 1
  }
  local reg="$wine_dir/template.reg"
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Drivers]\r\n"Audio"=""\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n\r\n'
    printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]\r\n'
    # REG_MULTI_SZ "wqy-microhei.ttc,WenQuanYi Micro Hei" as UTF-16LE hex
    local hex
    hex=$(printf 'wqy-microhei.ttc,WenQuanYi Micro Hei\0\0' | iconv -f UTF-8 -t UTF-16LE | od -An -tx1 -v | tr -s ' \n' ',' | sed 's/^,//; s/,$//')
    printf '"DejaVu Sans"=hex(7):%s\r\n' "$hex"
  } | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } >"$reg"
  WINEPREFIX="$tmp" WINEDEBUG=-all "$loader" regedit /s "$(winepath_of "$reg")" >/dev/null 2>&1 || true
  WINEPREFIX="$tmp" "$wineserver_of_loader" -w
  mv "$tmp" "$template"
}

winepath_of() { echo "Z:${1//\//\\}"; }

exec 9>"$wine_dir/.lock"
flock 9
[ -d "$template" ] || make_template
if [ "$mode" = fresh ]; then
  rm -rf "$prefix"
fi
if [ ! -d "$prefix" ]; then
  cp -a "$template" "$prefix"
fi
