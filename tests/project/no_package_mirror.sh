#!/usr/bin/env bash
# Fails when a script, source or document of the project names a package
# mirror: whatever downloads takes the mirror from the machine's own apt
# configuration. Usage: no_package_mirror.sh SOURCE_DIR
set -euo pipefail
cd "${1:?usage: no_package_mirror.sh SOURCE_DIR}"

# Written with bracket expressions, so this file does not match itself.
hosts='(deb|ftp[.][a-z0-9-]+|security|snapshot|archive|httpredir|cdn)[.]debian[.](org|net)'
hosts+='|(archive|security|ports|[a-z][a-z][.]archive)[.]ubuntu[.]com'
sources_line='(^|[^[:alnum:]-])deb(-src)?[[:space:]]+(\[[^]]*\][[:space:]]+)?https?:|URIs:[[:space:]]*https?:'
pattern="$hosts|$sources_line"

# The patterns must catch what they are for, or this test proves nothing.
for sample in "deb http""://deb.""debian.org/debian trixie main" \
    "echo \"deb [arch=amd64] https""://mirror.example.net/debian trixie main\"" \
    "URIs: http""://mirror.example.net/debian" \
    "wget http""://ftp.de.""debian.org/debian/pool/x.deb" \
    "curl http""://archive.""ubuntu.com/ubuntu/" \
    "http""://snapshot.""debian.org/archive/debian/20250520T000000Z"; do
    if ! grep -Eq "$pattern" <<<"$sample"; then
        echo "no_package_mirror: the pattern misses: $sample" >&2
        exit 2
    fi
done

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    files() { git ls-files -z --cached --others --exclude-standard; }
else
    files() { find . -path ./build -prune -o -path ./.git -prune -o -type f -print0; }
fi
found=$(files | xargs -0 grep -IEn "$pattern" -- 2>/dev/null || true)
if [ -n "$found" ]; then
    echo "These lines name a package mirror; take it from the machine's apt configuration instead:" >&2
    echo "$found" >&2
    exit 1
fi
echo "no file names a package mirror"
