#!/usr/bin/env bash
# Prints the binary package sources this machine's apt uses, one "deb [options] URI SUITE
# COMPONENT..." line each, whichever form they are written in: one-line entries in
# /etc/apt/sources.list and sources.list.d/*.list (as the Debian installer writes them), deb822
# stanzas in sources.list.d/*.sources (as Debian's images do). A deb822 stanza gives a line for
# each of its URIs and suites; a disabled one (Enabled: no) gives none. Fails when there is none.
# Usage: scripts/apt-sources.sh [APT CONFIGURATION FOLDER, default /etc/apt]
set -euo pipefail
etc=${1:-/etc/apt}
shopt -s nullglob
lists=() stanzas=()
[ -f "$etc/sources.list" ] && lists+=("$etc/sources.list")
lists+=("$etc"/sources.list.d/*.list)
stanzas+=("$etc"/sources.list.d/*.sources)

lines=$(
    for f in "${lists[@]}"; do
        sed -n 's/[[:space:]]*#.*//; s/^[[:space:]]*deb[[:space:]]\+/deb /p' "$f"
    done
    for f in "${stanzas[@]}"; do
        # Field names are case-insensitive; a value may go on over lines that start with a space
        # (an inline key does), which is kept only for Signed-By and then as no option at all.
        awk '
            function flush(   u, s, i, j, n, m, opts, arch) {
                if (f["types"] ~ /(^| )deb( |$)/ && tolower(f["enabled"]) != "no" && f["uris"] != "") {
                    opts = ""
                    arch = f["architectures"]; gsub(/ /, ",", arch)
                    if (arch != "") opts = opts " arch=" arch
                    if (f["signed-by"] ~ /^\/[^ ]*$/) opts = opts " signed-by=" f["signed-by"]
                    if (opts != "") opts = " [" substr(opts, 2) "]"
                    n = split(f["uris"], u, " "); m = split(f["suites"], s, " ")
                    for (i = 1; i <= n; i++)
                        for (j = 1; j <= m; j++)
                            print "deb" opts " " u[i] " " s[j] (f["components"] == "" ? "" : " " f["components"])
                }
                split("", f)
            }
            /^#/ { next }
            /^[ \t]*$/ { flush(); next }
            /^[ \t]/ { if (key == "signed-by") f[key] = "inline"; next }
            {
                key = tolower(substr($0, 1, index($0, ":") - 1))
                value = substr($0, index($0, ":") + 1)
                gsub(/^[ \t]+|[ \t]+$/, "", value); gsub(/[ \t]+/, " ", value)
                f[key] = value
            }
            END { flush() }' "$f"
    done
)
if [ -z "$lines" ]; then
    echo "apt-sources.sh: no deb sources in $etc/sources.list, $etc/sources.list.d/*.list or" \
        "$etc/sources.list.d/*.sources" >&2
    exit 1
fi
echo "$lines"
