# Sourced by the Windows build scripts that build a library from Debian's source package of it.
# shellcheck shell=bash

# Fetches the upstream tarball of Debian's source package $3 into the folder $1, for the suites
# this machine installs from, and prints its path: a deb-src list of its own in the folder $2, so
# that the machine's lists stay as they are.
fetch_source() {
    local dest=$1 apt_dir=$2 package=$3
    mkdir -p "$apt_dir/parts" "$apt_dir/lists/partial"
    # The same suites as the machine's own sources, in whichever form they are written, as apt
    # itself reads them (disabled entries left out).
    # shellcheck disable=SC2016 # apt's own field names
    apt-get indextargets --format 'deb-src $(REPO_URI) $(RELEASE) $(COMPONENT)' \
        'Identifier: Packages' | sort -u >"$apt_dir/parts/debian.list"
    [ -s "$apt_dir/parts/debian.list" ] || {
        echo "$(basename "$0"): apt reads no package sources on this machine" >&2
        return 1
    }
    local apt=(apt-get -q -o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt_dir/parts"
        -o "Dir::State::Lists=$apt_dir/lists" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=
        -o APT::Sandbox::User=root)
    "${apt[@]}" update >"$apt_dir/update.log" 2>&1 || {
        cat "$apt_dir/update.log" >&2
        return 1
    }
    # Only the upstream tarball is wanted (the Debian changes are packaging for Linux): its
    # address and checksum come from the signed source index, and apt's own helper fetches it
    # and checks the sum.
    local line uri file hash
    line=$("${apt[@]}" source --print-uris "$package" 2>"$apt_dir/source.log" |
        grep "^'.*\.orig\.tar\.[a-z0-9]*' ") || {
        echo "$(basename "$0"): no upstream tarball of $package in this machine's suites" >&2
        cat "$apt_dir/source.log" >&2
        return 1
    }
    read -r uri file _ hash <<<"$line"
    uri=${uri//\'/}
    echo "Fetching $uri" >&2
    /usr/lib/apt/apt-helper -o APT::Sandbox::User=root download-file "$uri" "$dest/$file" "$hash" >&2
    echo "$dest/$file"
}
