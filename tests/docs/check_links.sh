#!/usr/bin/env bash
# Checks the relative links of Markdown pages: the file a link names must
# exist, and a #fragment must be the anchor of a heading of that page (as the
# forge makes it: lower case, punctuation but - and _ dropped, spaces as -,
# a repeated heading with -1, -2 ...). Links and headings inside ``` fences
# and `code` do not count; links with a scheme (https:, mailto:) are left alone.
#
#   check_links.sh ROOT [PAGE...]   PAGE defaults to README.md and docs/*.md
#
# Prints each broken link as PAGE:LINE: TARGET: REASON and a count; exits 1
# when there is any.
set -euo pipefail
export LC_ALL=C
root=$1
shift
cd "$root"
pages=("$@")
[ ${#pages[@]} -gt 0 ] || pages=(README.md docs/*.md)

# LINE<TAB>TARGET for every link of a page.
links() {
  awk '
    /^[ ]*(```|~~~)/ { fenced = !fenced; next }
    fenced { next }
    {
      s = $0
      gsub(/`[^`]*`/, "", s)
      while (match(s, /\]\([^)]*\)/)) {
        t = substr(s, RSTART + 2, RLENGTH - 3)
        sub(/[ ]+"[^"]*"$/, "", t)
        print NR "\t" t
        s = substr(s, RSTART + RLENGTH)
      }
    }' "$1"
}

# The anchors of a page's headings, one a line.
anchors() {
  awk '
    BEGIN { punct = "!\"#$%&\047()*+,./:;<=>?@[\\]^`{|}~" }
    /^[ ]*(```|~~~)/ { fenced = !fenced; next }
    fenced || !/^##?#?#?#?#? / { next }
    {
      h = $0
      sub(/^#+[ ]+/, "", h); sub(/[ ]+#+[ ]*$/, "", h); sub(/[ ]+$/, "", h)
      h = tolower(h); a = ""
      for (i = 1; i <= length(h); i++) {
        c = substr(h, i, 1)
        if (index(punct, c) == 0) a = a c
      }
      gsub(/ /, "-", a)
      if (a in seen) { seen[a]++; a = a "-" seen[a] } else seen[a] = 0
      print a
    }' "$1"
}

broken=0
say() { echo "$1:$2: $3: $4"; broken=$((broken + 1)); }
for page in "${pages[@]}"; do
  dir=$(dirname "$page")
  while IFS=$'\t' read -r line target; do
    case $target in
      [a-zA-Z]*:*) continue ;;   # https:, mailto: and the like
    esac
    path=${target%%#*}
    fragment=
    [ "$path" = "$target" ] || fragment=${target#*#}
    if [ -z "$path" ]; then file=$page; else file=$dir/$path; fi
    if [ ! -e "$file" ]; then
      say "$page" "$line" "$target" "no such file"
    elif [ -n "$fragment" ]; then
      case $file in
        *.md) anchors "$file" | grep -qxF -- "$fragment" ||
                say "$page" "$line" "$target" "no such heading in $file" ;;
        *) say "$page" "$line" "$target" "a #fragment into a page that is not Markdown" ;;
      esac
    fi
  done < <(links "$page")
done
echo "$broken broken links in ${#pages[@]} pages"
[ "$broken" -eq 0 ]
