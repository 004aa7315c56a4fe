#!/usr/bin/env bash
# Reads the shipping 32-bit Windows programs (build-win32/Tarvo32.exe, the windowed one, and
# Tarvo32.com, its console companion) as the Windows loader will: every function they import must
# be in packaging/win32/every-windows-exports.tsv, the functions that Windows 95 (with msvcrt.dll
# from its updates), 98, 98 SE, Me, NT 4.0 SP6, 2000 and XP all export, each row with its source.
# Wine exports everything whatever version it acts, so only this reading catches an import that
# stops the program loading on an older Windows. Also checks the PE header: subsystem version at
# most 4.0 (what 95 and NT 4.0 accept), Tarvo32.exe GUI-subsystem (no console window beside its
# windows), Tarvo32.com console-subsystem.
#   scripts/check-win32-imports.sh [BUILD_DIR]   (default build-win32; builds nothing)
# Prints each problem and exits 1 when there is one.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build-win32}
table=$top/packaging/win32/every-windows-exports.tsv
objdump=i686-w64-mingw32-objdump

problems=0
problem() { echo "check-win32-imports: $*" >&2; problems=$((problems + 1)); }

# DLL<TAB>function lines, DLL in lower case, from the table (comments and the header skipped).
allowed=$(awk -F'\t' '!/^#/ && NF >= 3 && $1 != "dll" { print tolower($1) "\t" $2 }' "$table" | sort -u)

# check FILE SUBSYSTEM_WORDS: the imports and header of one program.
check() {
  local file=$1 subsystem=$2
  if [ ! -f "$file" ]; then
    problem "$file is missing (scripts/build-win32.sh i686 builds it)"
    return
  fi
  local dump
  dump=$("$objdump" -p "$file")
  local imports
  imports=$(awk -F'\t' '/DLL Name:/ { split($0, d, ": "); dll = tolower(d[2]) }
                        /^\t[0-9a-f]+\t +[0-9]+ +/ { split($3, f, " "); print dll "\t" f[2] }' <<<"$dump" |
            sort -u)
  [ -n "$imports" ] || problem "$file: no imports read"
  local missing
  missing=$(comm -23 <(echo "$imports") <(echo "$allowed"))
  if [ -n "$missing" ]; then
    while IFS=$'\t' read -r dll function; do
      problem "$file imports $dll $function, which is not in $table (a row with its source first)"
    done <<<"$missing"
  fi
  local major minor
  major=$(awk '/^MajorSubsystemVersion/ { print $2 }' <<<"$dump")
  minor=$(awk '/^MinorSubsystemVersion/ { print $2 }' <<<"$dump")
  if [ "$major" -gt 4 ] || { [ "$major" -eq 4 ] && [ "$minor" -gt 0 ]; }; then
    problem "$file: subsystem version $major.$minor; Windows 95 and NT 4.0 load 4.0 at most"
  fi
  grep -q "^Subsystem.*($subsystem)" <<<"$dump" ||
    problem "$file: not a $subsystem program ($(grep '^Subsystem' <<<"$dump" | tr -s '\t ' ' '))"
  echo "$(basename "$file"): $(wc -l <<<"$imports") imported functions, subsystem $major.$minor"
}

check "$build/Tarvo32.exe" "Windows GUI"
check "$build/Tarvo32.com" "Windows CUI"

if [ "$problems" -ne 0 ]; then
  echo "check-win32-imports: $problems problem(s)" >&2
  exit 1
fi
echo "check-win32-imports: every import is in the table of functions every supported Windows exports"
