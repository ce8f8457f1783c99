#!/usr/bin/env bash
# check_includes.sh <src dir>: fails when an include between the folders of
# src/ points up. Each folder is a library that links only the floors below it
# (the DEPENDS of its CMakeLists.txt), lowest first:
#   support <- image, linalg <- deform <- render <- window
# and the programs' library shell on render and below; only the window
# program's main (shell/main.cpp) includes the window. The Python module
# (python/) stands on shell and below, without the window. Only window/ includes
# GL or GLUT headers, and only warpix_window links them. Deformators draw on
# the canvas interface of deform/, which the window implements: nothing in
# deform includes the window.
# Includes climbing out of a folder with "../" are refused as well.
set -u
src=${1:?usage: check_includes.sh <src dir>}

allowed() { # allowed <from folder> <to folder> <header path>
  local from=$1 to=$2 header=$3 file=$4
  [ "$from" = "$to" ] && return 0
  case "$from:$to" in
    image:support | linalg:support) return 0 ;;
    deform:support | deform:image | deform:linalg) return 0 ;;
    render:support | render:image | render:linalg | render:deform) return 0 ;;
    window:support | window:image | window:linalg | window:deform | window:render) return 0 ;;
    shell:window) [ "$file" = shell/main.cpp ] && return 0 ;;
    shell:*) return 0 ;;
    python:window) return 1 ;;
    python:*) return 0 ;;
  esac
  return 1
}

bad=0
while IFS= read -r file; do
  rel=${file#"$src"/}
  from=${rel%%/*}
  while IFS=: read -r line header; do
    [ -n "$header" ] || continue
    case "$header" in
      ../* | */../*)
        echo "$rel:$line: includes \"$header\" through a parent folder"
        bad=1
        continue ;;
      */*) to=${header%%/*} ;;
      *) to=$from ;;
    esac
    # A library's own folder (e.g. "hwy/highway.h") is not one of the floors.
    case "$to" in
      support | image | linalg | deform | render | window | shell | python) ;;
      *) continue ;;
    esac
    if ! allowed "$from" "$to" "$header" "$rel"; then
      echo "$rel:$line: $from includes \"$header\" from $to, which is not below it"
      bad=1
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
    sed 's/^\([0-9]*\):[^"]*"\([^"]*\)".*/\1:\2/')
  # GL and GLUT belong to the window only.
  case "$rel" in
    window/*) ;;
    *)
      if grep -qE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<(GL/|GLUT/|OpenGL/)' "$file"; then
        echo "$rel: $from includes a GL or GLUT header"
        bad=1
      fi ;;
  esac
done < <(find "$src" -mindepth 2 -type f \( -name '*.h' -o -name '*.cpp' \) | sort)

if [ $bad -ne 0 ]; then
  echo "Includes between folders must point down (see the README's layout section)."
  exit 1
fi
echo "Includes between folders point down."
