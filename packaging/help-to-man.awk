# Turns the text of `quorvane5 --help` (standard input) into the man page's body, put
# where the template (the first file) says @HELP@; the page thus says what --help says.
#   awk -v version=X -f help-to-man.awk quorvane5.1.in - < help.txt
# The help's shape: usage lines, then paragraphs; a line ending in ':' followed by
# option lines ("  --name ARG    text", text continued at column 26) heads a list;
# other indented lines are examples.

FNR == NR { template[++templateLines] = $0; next }
{ help[++helpLines] = $0 }

# Roff-safe text: backslashes kept, every '-' of a word that starts with one (an
# option, "-" for a pipe) made a real minus, so that option names copy and search as
# typed; no line starting with a control character.
function esc(s,    out, i, c, prev, option) {
    gsub(/\\/, "\\e", s)
    out = ""; prev = " "; option = 0
    for (i = 1; i <= length(s); i++) {
        c = substr(s, i, 1)
        if (c == "-" && (option || index(" ([\"',/", prev) > 0)) { out = out "\\-"; option = 1 }
        else out = out c
        if (c !~ /[A-Za-z0-9-]/) option = 0
        prev = c
    }
    if (out ~ /^[.']/) out = "\\&" out
    return out
}

# One word of a synopsis or an option name: metavariables (INPUT, N, FILE.png) in
# italics, the rest (the program, commands, options) in bold, brackets and commas plain.
function word(w,    pre, post, core) {
    pre = w; sub(/[^[(].*$/, "", pre)
    core = substr(w, length(pre) + 1)
    post = core; sub(/^.*[^]),]/, "", post)
    core = substr(core, 1, length(core) - length(post))
    if (core == "") return esc(w)
    if (core ~ /^[A-Z][A-Z0-9_]*(\.[A-Za-z0-9]+)?$/) return esc(pre) "\\fI" esc(core) "\\fR" esc(post)
    return esc(pre) "\\fB" esc(core) "\\fR" esc(post)
}

function words(s,    n, parts, i, out) {
    n = split(s, parts, " ")
    out = ""
    for (i = 1; i <= n; i++) out = out (i > 1 ? " " : "") word(parts[i])
    return out
}

function isHeading(i) { return help[i] ~ /^[^ ].*:$/ && help[i + 1] ~ /^  -/ }

function body(    i, line, name, text, section, inList, listsSeen, headed) {
    print ".SH SYNOPSIS"
    for (i = 1; i <= helpLines && help[i] != ""; i++) {
        line = help[i]
        sub(/^usage: */, "", line); sub(/^ */, "", line)
        if (i > 1) print ".br"
        print words(line)
    }
    print ".SH DESCRIPTION"
    section = "description"; inList = 0; listsSeen = 0; headed = 1
    for (; i <= helpLines; i++) {
        line = help[i]
        if (line == "") { inList = 0; continue }
        if (help[i - 1] == "" && !inList) {
            if (isHeading(i)) {
                if (!listsSeen++) print ".SH OPTIONS"
                line = substr(line, 1, length(line) - 1)
                print ".SS \"" esc(line) "\""
                inList = 1
                continue
            }
            # After the option lists, paragraphs about the commands, then the rest.
            if (listsSeen && section != "commands" && !notesSeen && line ~ /^quorvane5 [a-z]/) {
                print ".SH COMMANDS"; section = "commands"
            } else if (listsSeen && !notesSeen && section != "notes" && line !~ /^quorvane5 [a-z]/) {
                # The rest is notes, under one heading however the paragraphs fall.
                print ".SH NOTES"; section = "notes"; notesSeen = 1
            } else if (line !~ /^  / && !headed) print ".PP"
        }
        headed = 0
        if (inList) {
            if (line ~ /^  -/) {
                name = substr(line, 3); text = ""
                if (match(name, /   +/)) {
                    text = substr(name, RSTART + RLENGTH)
                    name = substr(name, 1, RSTART - 1)
                }
                print ".TP"
                print words(name)
                if (text != "") print esc(text)
            } else {
                sub(/^ +/, "", line)
                print esc(line)
            }
        } else if (line ~ /^  /) {
            # An example: kept as typed, set apart.
            print ".PP"
            print ".RS"
            print ".nf"
            for (; i <= helpLines && help[i] ~ /^  /; i++) { sub(/^  /, "", help[i]); print esc(help[i]) }
            print ".fi"
            print ".RE"
            i--
        } else print esc(line)
    }
}

END {
    for (t = 1; t <= templateLines; t++) {
        if (template[t] == "@HELP@") { body(); continue }
        gsub(/@VERSION@/, version, template[t])
        print template[t]
    }
}
