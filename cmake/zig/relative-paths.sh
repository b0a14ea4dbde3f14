# Sourced by zig-compile and zig-link: `relative WORD` sets REPLY to WORD
# with a path inside the source tree that starts it, or follows its "-I" or
# "NAME:", made relative to the current folder.
tree=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
relative_tree=$(realpath --relative-to="$PWD" "$tree")
relative() {
  REPLY=$1
  if [[ $1 == "$tree"/* ]]; then
    REPLY=$relative_tree/${1#"$tree"/}
  elif [[ $1 =~ ^(-I|[-/][A-Za-z]+:)"$tree"/ ]]; then
    REPLY=${BASH_REMATCH[1]}$relative_tree/${1#"${BASH_REMATCH[1]}$tree"/}
  fi
}
