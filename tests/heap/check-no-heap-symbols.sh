#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fails when mivo's own objects call anything that allocates on the heap: the
# objects' undefined symbols are matched against the table below.
# Usage: check-no-heap-symbols.sh NM OBJECT_OR_ARCHIVE...
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: check-no-heap-symbols.sh NM OBJECT_OR_ARCHIVE..." >&2; exit 2; }
nm=$1
shift

# Extended regular expression on the mangled symbol, then " # " and what it stands for.
forbidden='
^(malloc|calloc|realloc|reallocarray|free)$ # the C heap
^(aligned_alloc|posix_memalign|memalign|valloc|pvalloc)$ # the C heap
^(__)?(strdup|strndup)$ # strdup and strndup, which return heap copies
^wcsdup$ # wcsdup, which returns a heap copy
^(__)?v?asprintf(_chk)?$ # asprintf, which prints into a heap buffer
^(__)?(getline|getdelim)$ # getline, which grows a heap buffer
^open_w?memstream$ # a memory stream, which grows a heap buffer
^(fopen|fopen64|fdopen|freopen|freopen64|opendir|fdopendir|popen|tmpfile|tmpfile64)$ # a stdio stream or directory stream, which libc allocates with its buffer
^(get_current_dir_name|tempnam|scandir|scandirat|glob|wordexp|regcomp)$ # a libc call that returns heap memory
^_Zn[wa] # C++ operator new (new, new[], std::vector, std::unique_ptr, ...)
^_Zd[la] # C++ operator delete
^__cxa_allocate(_dependent)?_exception$ # a thrown C++ exception, whose object lives on the heap
^_ZSt(17__throw_bad_alloc|28__throw_bad_array_new_length)v$ # code that allocates and may run out of memory
St7__cxx1112basic_string # std::string
^_ZN?K?Ss # std::string (old ABI)
basic_(i|o)?(f|string)stream|basic_(file|string)buf # a C++ file or string stream, which owns heap buffers
^(newwin|newpad|subwin|subpad|derwin|dupwin|new_panel)$ # a curses window of its own, which curses allocates (mivo draws on stdscr)
'

report=$(mktemp)
trap 'rm -f "$report"' EXIT
status=0
for file in "$@"; do
  [ -e "$file" ] || { echo "no such object or archive: $file" >&2; exit 2; }
  # POSIX format: "archive[object]: symbol U" or "object: symbol U".
  "$nm" -A -u -P "$file" | awk '{ print $1, $2 }' | while read -r where symbol; do
    while read -r line; do
      [ -n "$line" ] || continue
      pattern=${line%% # *}
      what=${line#* # }
      if [[ $symbol =~ $pattern ]]; then
        name=$(c++filt "$symbol" 2>/dev/null || echo "$symbol")
        echo "  ${where%:} uses $name: $what" >>"$report"
        break
      fi
    done <<<"$forbidden"
  done
done
if [ -s "$report" ]; then
  echo "mivo's own code must not allocate on the heap (fixed-size buffers and tables only):" >&2
  sort -u "$report" >&2
  status=1
else
  echo "no heap allocation calls in: $*"
fi
exit $status
