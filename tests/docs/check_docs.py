#!/usr/bin/env python3
"""The README's troubleshooting table against the texts the programs can show,
and the links of README.md and docs/*.md against the files they name.

Usage: check_docs.py SOURCE_DIR RTMIDI_LIBRARY   (CTest entry check_docs)
       check_docs.py SOURCE_DIR --list           (every text found, and where)

The texts are read from the sources of the shipped programs (app/, flash/,
midi/, protocol/; the simulator and the tools are for developers), by the ways
a text reaches a user (CHANNELS): a call such as showErrorBox(...) or
fail(kUsage, ...) whose argument is read as an expression. Literals joined by
+ or << are the text; a run-time part (a file name, an error string, a number)
is a gap, written "…", and so is a %1 or %u inside a literal; a ?: gives one
text per branch. The stream port's problems come from their table in
midi/stream_error.cpp, the exit statuses from tarnwick-flash's enum.

A text is covered when one `code span` in the first column of a row under
"## Troubleshooting" is all of it, any words standing in its gaps: the span
`tarnwick-flash: FILE: not a regular file` covers path + ": not a regular file"
of fail(). A text that is only gaps (a relayed line, an error object's text)
cannot be checked there: its expression must be one of RELAYS, which say where
those texts are read instead. A new way of showing texts (a new function, a
new stream) needs its row in CHANNELS.
"""
import os
import re
import sys
import unittest

GAP = "\u2026"  # "…", as the table writes a placeholder
TO_SEMICOLON = "statement"  # read a statement's rest: an assignment, a << chain
PRODUCT = ["app", "flash", "midi", "protocol"]

# (name, folders, opener, which argument carries the text (-1: the last, or
# TO_SEMICOLON), what the program puts in front, whether the text is shown with
# more around it). The opener ends where the arguments begin.
CHANNELS = [
    ("window box", ["app"], r"\bshowErrorBox\s*\(", 0, "", False),
    ("window box", ["app"], r"\bQMessageBox::(?:critical|warning|information|question)\s*\(", 2,
     "", False),
    ("window log", ["app"], r"\bappendLog\s*\(", 0, "", False),
    ("upload log", ["app", "flash"], r"(?:\.|->)log\s*\(", 0, "", False),
    # Every translatable text is one the user reads, whole (a box's) or with
    # a run-time part added where it is used.
    ("translated text", ["app", "flash"], r"\b(?:\w+::)?tr\s*\(", 0, "", True),
    ("translated text", ["app", "flash"], r"\btranslate\s*\(", 1, "", True),
    ("tarnwick-flash problem", ["flash"], r"\bfail\s*\(", -1, "tarnwick-flash: ", False),
    ("tarnwick-flash problem", ["flash"], r"\bproblem\s*=(?!=)", TO_SEMICOLON,
     "tarnwick-flash: ", False),
    ("standard error", PRODUCT, r"\bstd::cerr\s*<<", TO_SEMICOLON, "", False),
    ("standard error", PRODUCT, r"\b(?:std::)?fprintf\s*\(\s*stderr\s*,", 0, "", False),
    ("standard error", ["flash"], r"\bprintLine\s*\(\s*stderr\s*,", 0, "", False),
    ("Qt message", PRODUCT,
     r"\b(?:q(?:Debug|Info|Warning|Critical)|QMessageLogger\(\)\s*\.\s*\w+)\s*\(", 0, "", False),
    ("Qt message", PRODUCT,
     r"\bq(?:Debug|Info|Warning|Critical)\s*\(\s*\)(?:\s*\.\s*no(?:quote|space)\s*\(\s*\))*\s*<<",
     TO_SEMICOLON, "", False),
]

# Texts of the channels that are not messages.
NOT_MESSAGES = {
    "Error",  # the title of every box
    "Open Firmware",  # the file dialog's title
    "Binary files (*.bin)",  # and its filter
}

# Expressions that relay a text made elsewhere: where that is read.
RELAYS = [
    (r"line|text", "a parameter: read at the callers"),
    (r"midiErrorText\(.*\)|message|streamProblemMessage\(.*\)",
     "the stream port's problems (their table) and RtMidi's own"),
    (r"pleaseWaitText\(\)|refusalText\(.*\)|queryFirmwareVersion\(\)", "tr() in app/"),
    (r"openReplyInput\(.*\)|openStreamOutput\(.*\)", "tr() in app/session.cpp"),
    (r"ports\.problem|problem", "the problem = channel in flash/"),
    (r"parser\.errorText\(\)", "Qt's option parser: FILLED_IN"),
    (r"detail|refusal", "a refused open's call and result: midi/*_stream_backend.cpp, by "
     "openRefusalLogText()"),
    (r"QString::fromStdString\(line\)",
     "--verbose: what the MIDI libraries said, kept by midi/library_messages.cpp"),
]

# Messages of the table whose words all come from elsewhere, and from where.
FILLED_IN = {
    "MidiOut\u2026::openStreamPort: jack_port_register returned NULL":
        "a refused open's line, built in midi/jack_stream_backend.cpp",
    "2 1 7": 'the reply callback\'s "%u %u %u"',
    "tarnwick-flash: image.bin: Permission denied": "the file's name and the system's error",
    "tarnwick-flash: Unknown option 'x'.": "Qt's option parser, relayed by fail()",
}

TOKEN = re.compile(r'"(?:[^"\\\n]|\\.)*"|\'(?:[^\'\\\n]|\\.)*\'|\w+|::|<<|==|->|\S')
COMMENT_OR_LITERAL = re.compile(
    r'"(?:[^"\\\n]|\\.)*"|\'(?:[^\'\\\n]|\\.)*\'|//[^\n]*|/\*.*?\*/', re.S)
WRAPPERS = {"tr", "translate", "QStringLiteral", "QLatin1String", "QLatin1Char", "QString",
            "fromLatin1", "fromUtf8", "string"}


def without_comments(code):
    """Comments become spaces (newlines kept, so lines still count)."""
    def blank(match):
        text = match.group(0)
        return text if text[0] in "\"'" else re.sub(r"[^\n]", " ", text)
    return COMMENT_OR_LITERAL.sub(blank, code)


def unescaped(body):
    body = re.sub(r"\\[0-7]{1,3}", "", body)  # a terminal's control code
    body = re.sub(r"\\[ntr]", " ", body)
    return re.sub(r"\\(.)", r"\1", body)


def is_literal(token):
    return token[0] in "\"'"


def call_tokens(code, start, to_semicolon):
    """Tokens from start until the arguments (or the statement) end, and where."""
    tokens, depth = [], 0
    for match in TOKEN.finditer(code, start):
        token = match.group(0)
        if token in "([{":
            depth += 1
        elif token in ")]}":
            depth -= 1
            if depth < 0 and not to_semicolon:
                return tokens, match.end()
        elif token == ";" and depth <= 0 and to_semicolon:
            return tokens, match.end()
        tokens.append(token)
    return tokens, len(code)


def split_top_level(tokens, separators):
    parts, depth = [[]], 0
    for token in tokens:
        depth += 1 if token in "([{" else -1 if token in ")]}" else 0
        if depth == 0 and token in separators:
            parts.append([])
        else:
            parts[-1].append(token)
    return parts


def literal_text(literal):
    """A literal's text: %1 and printf's %u, %s, %d are gaps."""
    return re.sub(r"%(?:[1-9]|l*[uds])", GAP, literal)


def term_texts(term, gaps):
    """One term of a + or << chain: literals, a wrapper around them (tr,
    QStringLiteral, ...; a trailing .arg() fills the %1 gaps), or a gap."""
    if not term:
        return [""]
    if all(is_literal(t) for t in term):
        return [literal_text("".join(unescaped(t[1:-1]) for t in term))]
    i = 0
    while i + 1 < len(term) and term[i + 1] == "::":
        i += 2
    if i + 1 < len(term) and term[i] in WRAPPERS and term[i + 1] == "(":
        depth, end = 0, i + 1
        for end in range(i + 1, len(term)):
            depth += 1 if term[end] in "([{" else -1 if term[end] in ")]}" else 0
            if depth == 0:
                break
        rest = term[end + 1:]
        args = split_top_level(term[i + 2:end], {","})
        which = 1 if term[i] == "translate" else 0
        if (not rest or rest[:2] == [".", "arg"]) and len(args) > which:
            return alternatives(args[which], gaps)
    gaps.append("".join(term))
    return [GAP]


def alternatives(tokens, gaps):
    """The texts an expression can give: one per branch of a ?: at depth 0."""
    depth, question, nested = 0, None, 0
    for i, token in enumerate(tokens):
        depth += 1 if token in "([{" else -1 if token in ")]}" else 0
        if depth != 0:
            continue
        if token == "?":
            if question is None:
                question = i
            else:
                nested += 1
        elif token == ":" and question is not None:
            if nested == 0:
                return (alternatives(tokens[question + 1:i], gaps) +
                        alternatives(tokens[i + 1:], gaps))
            nested -= 1
    texts = [""]
    for term in split_top_level(tokens, {"+", "<<"}):
        texts = [head + tail for head in texts for tail in term_texts(term, gaps)]
    return texts


def is_parameter(arg):
    """`const QString &text`, `int status`: a declaration's, not a call's."""
    return re.fullmatch(r"(?:const )?\w+(?: :: \w+)*(?: [&*])? \w+", " ".join(arg)) is not None


def own_part(text):
    """A text without what a channel puts in front of every text of its own."""
    for channel in CHANNELS:
        if channel[4] and text.startswith(channel[4]):
            return text[len(channel[4]):]
    return text


def sources(root, folders):
    for folder in folders:
        for directory, _, names in sorted(os.walk(os.path.join(root, folder))):
            for name in sorted(names):
                if name.endswith((".cpp", ".h")):
                    yield os.path.join(directory, name)


def read_channel(root, channel, texts, unknown_relays):
    name, folders, opener, argument, prefix, piece = channel
    to_semicolon = argument == TO_SEMICOLON
    for path in sources(root, folders):
        with open(path, encoding="utf-8") as f:
            code = without_comments(f.read())
        for match in re.finditer(opener, code):
            tokens, end = call_tokens(code, match.end(), to_semicolon)
            args = [tokens] if to_semicolon else split_top_level(tokens, {","})
            if not to_semicolon:
                after = code[end:end + 10].lstrip()
                if after.startswith(("{", "override", "const")) or all(
                        is_parameter(a) for a in args):
                    continue
            index = len(args) - 1 if to_semicolon or argument == -1 else argument
            if index >= len(args):
                continue
            where = "%s:%d" % (os.path.relpath(path, root), code.count("\n", 0, match.start()) + 1)
            gaps = []
            for text in alternatives(args[index], gaps):
                text = text.strip()  # the line breaks around a text are not part of it
                if not text or text in NOT_MESSAGES:
                    continue
                # ("tarnwick-flash: " + problem prints the texts of fail().)
                if not own_part(text).replace(GAP, ""):
                    unknown_relays.extend("%s: %s" % (where, g) for g in gaps
                                          if not any(re.fullmatch(r, g) for r, _ in RELAYS))
                    continue
                around = GAP if piece else ""
                texts.append((name, where, prefix + around + text + around))


def read_stream_problems(root, texts):
    """{type, "operation", "text", "after a number"}, shown as
    "<class>::<operation>: <text>" with a number or the platform's name
    between the two parts of a text that has a second."""
    with open(os.path.join(root, "midi/stream_error.cpp"), encoding="utf-8") as f:
        code = without_comments(f.read())
    literals = r'((?:"(?:[^"\\]|\\.)*"\s*)+)'
    row = (r'\{\s*RtMidiError::\w+\s*,\s*"(\w+)"\s*,\s*' + literals +
           r',\s*(?:nullptr|' + literals + r')\s*\}')

    def text_of(group):
        return "".join(unescaped(p) for p in re.findall(r'"((?:[^"\\]|\\.)*)"', group))
    for match in re.finditer(row, code):
        text = GAP + "::" + match.group(1) + ": " + text_of(match.group(2))
        if match.group(3):
            text += GAP + text_of(match.group(3))
        texts.append(("stream port", "midi/stream_error.cpp:%d" %
                      (code.count("\n", 0, match.start()) + 1), text))


def read_exit_statuses(root, texts):
    with open(os.path.join(root, "flash/main.cpp"), encoding="utf-8") as f:
        code = without_comments(f.read())
    block = re.search(r"enum\s+ExitStatus\s*\{([^}]*)\}", code)
    for value in re.findall(r"=\s*(\d+)", block.group(1) if block else ""):
        texts.append(("exit status", "flash/main.cpp", "exit status " + value))


def product_texts(root):
    """[(channel, where, text)], and the relays of unknown origin."""
    texts, unknown_relays = [], []
    for channel in CHANNELS:
        read_channel(root, channel, texts, unknown_relays)
    read_stream_problems(root, texts)
    read_exit_statuses(root, texts)
    return texts, unknown_relays


def pattern_of(text):
    """A text as a pattern that must be all of a message, any words in its gaps."""
    return re.compile(".*".join(re.escape(part) for part in text.split(GAP)), re.S)


def covers(text, message):
    return pattern_of(text).fullmatch(message) is not None


def identifies_a_message(text):
    """Whether a text has words of its own: "%u %u %u" or path + ": " + error
    matches nearly any message, so a message it matches is not known by it."""
    return any(c.isalpha() for c in own_part(text))


def table_messages(root):
    """The `code spans` of the first column of the troubleshooting table."""
    spans, in_section = [], False
    with open(os.path.join(root, "README.md"), encoding="utf-8") as f:
        for line in f:
            if line.startswith("## "):
                in_section = line.startswith("## Troubleshooting")
            if in_section and line.startswith("|"):
                spans.extend(re.findall(r"`([^`]+)`", line.split("|")[1]))
    return spans


def markdown_files(root):
    docs = os.path.join(root, "docs")
    return [os.path.join(root, "README.md")] + sorted(
        os.path.join(docs, n) for n in os.listdir(docs) if n.endswith(".md"))


def relative_links(path):
    """The targets of a Markdown file's links that name files."""
    with open(path, encoding="utf-8") as f:
        targets = re.findall(r'\]\(([^)\s]+)(?:\s+"[^"]*")?\)', f.read())
    return [t.split("#")[0] for t in targets
            if not t.startswith("#") and not re.match(r"[a-z]+:", t)]


class DocsTest(unittest.TestCase):
    root = None
    rtmidi = None

    def list_each(self, what, findings):
        """A failure names each finding on a line of its own."""
        if findings:
            self.fail("%d %s:\n  %s" % (len(findings), what, "\n  ".join(findings)))

    # Each way a text reaches a user is read: a reader that finds nothing
    # would let every later check pass.
    CHANNEL_ROWS = [
        ("window box", "No Tarnwick device connected!"),
        ("translated text", "…Firmware file too large!…"),
        ("window log",
         "The MIDI server stopped while the updater was running: press Refresh once it runs again."),
        ("upload log", "Update failed"),  # a ?: branch
        ("upload log", "Could not read the firmware file: …"),
        ("translated text", "…Firmware version…"),
        ("tarnwick-flash problem", "tarnwick-flash: …: not a regular file"),
        ("tarnwick-flash problem", 'tarnwick-flash: … instrument … port named "…"'),  # .arg()
        ("tarnwick-flash problem", "tarnwick-flash: … has no … port"),  # problem =
        ("stream port", "…::sendStream: the unit was not reported played within … ms; "
                        "it may not have been played."),
        ("stream port", "…::openStreamPort: error creating … MIDI streaming output port."),
        ("exit status", "exit status 3"),
        ("Qt message", "… … …"),
    ]

    def test_each_channel_is_read(self):
        texts, _ = product_texts(self.root)
        for channel, text in self.CHANNEL_ROWS:
            with self.subTest(channel=channel, text=text):
                found = [t for c, _, t in texts if c == channel]
                self.assertIn(text, found)

    def test_every_text_has_a_table_row(self):
        messages = table_messages(self.root)
        self.assertTrue(messages, "no `message` in the first column under ## Troubleshooting")
        texts, _ = product_texts(self.root)
        missing = ["%s (%s): %s" % (where, channel, text) for channel, where, text in texts
                   if not any(covers(text, m) for m in messages)]
        self.list_each("texts have no row in README.md's troubleshooting table (the row's "
                       "first column, in backticks, any words for each …)", missing)

    def test_every_relayed_text_is_known(self):
        _, unknown = product_texts(self.root)
        self.list_each("texts made elsewhere reach a user: say where in RELAYS of "
                       "tests/docs/check_docs.py", unknown)

    # Each message of the table is a text the programs show, one of RtMidi's
    # own, or one of FILLED_IN.
    def test_every_row_is_a_product_text(self):
        texts, _ = product_texts(self.root)
        with open(self.rtmidi, "rb") as f:
            rtmidi = f.read()
        strays = [m for m in table_messages(self.root)
                  if m not in FILLED_IN and m.encode() not in rtmidi and
                  not any(identifies_a_message(t) and covers(t, m) for _, _, t in texts)]
        self.list_each("messages of the troubleshooting table no program shows", strays)

    def test_filled_in_messages_are_in_the_table(self):
        messages = table_messages(self.root)
        self.list_each("messages of FILLED_IN not in the table",
                       [m for m in FILLED_IN if m not in messages])

    def test_links_resolve(self):
        broken = ["%s: %s" % (os.path.relpath(path, self.root), link)
                  for path in markdown_files(self.root) for link in relative_links(path)
                  if not os.path.exists(os.path.join(os.path.dirname(path), link))]
        self.list_each("links name no file", broken)

    def test_readme_links_each_doc(self):
        links = relative_links(os.path.join(self.root, "README.md"))
        docs = [os.path.relpath(p, self.root) for p in markdown_files(self.root)[1:]]
        self.assertIn("docs/building.md", docs)
        self.list_each("pages of docs/ the README does not link",
                       [d for d in docs if d not in links])

    # The front door stays short: the rest belongs in docs/.
    def test_readme_is_short(self):
        with open(os.path.join(self.root, "README.md"), encoding="utf-8") as f:
            self.assertLess(len(f.readlines()), 150)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    DocsTest.root = os.path.abspath(sys.argv[1])
    if sys.argv[2] == "--list":
        found, _ = product_texts(DocsTest.root)
        for c, w, t in found:
            print("%s (%s): %s" % (w, c, t))
        sys.exit(0)
    DocsTest.rtmidi = sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
