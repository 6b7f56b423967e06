#!/bin/sh
# The man page renders without a single warning, and names every option
# that the help text names.
# Usage: man_page_test.sh MAN_PAGE TONBRIX
set -u
page=$1
tonbrix=$2
status=0

warnings=$(mandoc -T lint -W warning "$page" 2>&1)
if [ $? -ne 0 ] || [ -n "$warnings" ]; then
    echo "mandoc -T lint:"
    echo "$warnings"
    status=1
fi
warnings=$(groff -ww -man -Tutf8 -z "$page" 2>&1)
if [ $? -ne 0 ] || [ -n "$warnings" ]; then
    echo "groff -ww:"
    echo "$warnings"
    status=1
fi

# Rendered without hyphenation and overstriking, so options read as typed.
text=$( (printf '.nh\n'; cat "$page") | groff -man -Tascii -P-cbou 2>/dev/null)
for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" ENVIRONMENT FILES EXAMPLES; do
    if ! printf '%s\n' "$text" | grep -qx "$section"; then
        echo "no section $section"
        status=1
    fi
done
options=$("$tonbrix" --help | grep -o -- '^ *-[a-zA-Z-]*\(, --[a-z-]*\)\?' | tr ',' '\n' | tr -d ' ')
[ -n "$options" ] || { echo "no options in the help text"; status=1; }
for option in $options; do
    if ! printf "%s\n" "$text" | grep -qE -- "(^|[^-a-z])$option([^-a-z]|\$)"; then
        echo "the man page does not name $option"
        status=1
    fi
done
printf '%s\n' "$text" | grep -q LV2_PATH || { echo "no LV2_PATH"; status=1; }
exit $status
