"""Numbers as people write them, through `vnlt query --format jsonl`.

First the shared table of written numbers, row by row. Then a differential
against python3-phonenumbers: real numbers of many prefixes written in the
ways of tests/data/written_forms.tsv, and other countries' numbers. Wherever
libphonenumber reads a valid Chinese number out of the text, vnlt gives the
same area and carrier (in the house's labels), or nothing where
libphonenumber has no place either; other countries' numbers are foreign to
vnlt. Where libphonenumber reads no valid number, vnlt gives nothing or the
number's own answer: never another. Run by pytest.
"""
import json
import os
import random
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(HERE)), "tools"))
import tables  # noqa: E402
from tables import SHIPPED, VNLT  # noqa: E402

FORMS_TABLE = tables.DATA / "written_forms.tsv"
FULLWIDTH = str.maketrans("0123456789+", "０１２３４５６７８９＋")
FOREIGN_REGIONS = ["US", "GB", "HK", "TW", "MO", "JP", "KR", "DE", "FR", "SG", "AU", "IN", "RU", "BR"]


def forms():
    """The forms of tests/data/written_forms.tsv: name, separator, templates, width."""
    table = []
    for line in FORMS_TABLE.read_text(encoding="utf-8").split("\n"):
        if line.strip() and not line.startswith("#"):
            table.append((tables.unescape(line).decode().split("\t") + [""] * 5)[:5])
    return table


def write(national, mobile, sep, mobile_template, fixed_template, width):
    """The national number (without trunk 0) in one form."""
    code = 2 if national[0] in "12" else 3
    rest = national[code:-4] + sep + national[-4:]
    groups = sep.join([national[:3], national[3:7], national[7:]]) if mobile else national[:code] + sep + rest
    template = mobile_template if mobile else fixed_template or mobile_template
    text = template.format(d=national if mobile else "0" + national, n=national, t="" if mobile else "0",
                           g=groups, c=national[:code], r=rest)
    return text.translate(FULLWIDTH) if width == "fullwidth" else text


FORMS = forms()


def sample_numbers(count, rng):
    import compare_with_libphonenumber
    return [(n, m) for n, _, m in compare_with_libphonenumber.sample(count, rng)]


def foreign_numbers():
    import phonenumbers
    texts = []
    for region in FOREIGN_REGIONS:
        for kind in (phonenumbers.PhoneNumberType.FIXED_LINE, phonenumbers.PhoneNumberType.MOBILE):
            number = phonenumbers.example_number_for_type(region, kind)
            if number is None:
                continue
            cc, national = number.country_code, phonenumbers.national_significant_number(number)
            texts += ["+%d %s" % (cc, national), "00%d %s" % (cc, national), "Tel: +%d-%s" % (cc, national),
                      phonenumbers.format_number(number, phonenumbers.PhoneNumberFormat.INTERNATIONAL),
                      phonenumbers.format_number(number, phonenumbers.PhoneNumberFormat.RFC3966)]
    return texts


def ask(texts):
    out = subprocess.run([VNLT, "--dat", SHIPPED, "query", "--format", "jsonl"], capture_output=True,
                         input="".join(t + "\n" for t in texts).encode("utf-8")).stdout.decode("utf-8")
    answers = [json.loads(line) for line in out.splitlines()]
    assert len(answers) == len(texts), (len(answers), len(texts))
    return answers


def test_the_table_of_written_numbers():
    rows = tables.rows()
    got = [(row.text, a["status"], a["key"], a["area"], a["type"], a["found"]) for row, a in zip(rows, ask(
        [row.text for row in rows]))]
    assert got == [(*row, row.status == "found") for row in rows]


def test_against_libphonenumber():
    phonenumbers = pytest.importorskip("phonenumbers")
    from compare_with_libphonenumber import expected_answer
    rng = random.Random(1986)
    numbers = sample_numbers(2000, rng)
    texts, truths = [], []
    for national, mobile in numbers:
        for name, *how in FORMS:
            texts.append(write(national, mobile, *how))
            truths.append((name, national, mobile))
    foreign = foreign_numbers()
    answers = ask(texts + foreign)
    plain = {t[1]: a for t, a, text in zip(truths, answers, texts) if t[0] == "dialled"}

    failures, read = [], 0
    for text, (name, national, mobile), a in zip(texts, truths, answers):
        got = (a["area"], a["type"])
        truth = (plain[national]["area"], plain[national]["type"])
        try:
            parsed = phonenumbers.parse(text, "CN")
            valid = phonenumbers.is_valid_number(parsed)
        except phonenumbers.NumberParseException:
            parsed, valid = None, False
        expected = None
        if valid and parsed.country_code == 86 and phonenumbers.national_significant_number(parsed) == national:
            expected = expected_answer(parsed, mobile)
            read += 1
        elif valid and parsed.country_code != 86:
            expected = ("", "")
        if expected is None:
            # vnlt gives nothing, or the number's own answer: never another.
            expected = truth if got != ("", "") else ("", "")
        if got != expected or (got != ("", "") and got != truth):
            failures.append("%s: %r -> vnlt %s, expected %s" % (name, text, "/".join(got), "/".join(expected)))
    for text, a in zip(foreign, answers[len(texts):]):
        if a["status"] != "foreign":
            failures.append("foreign: %r -> vnlt %s %s/%s" % (text, a["status"], a["area"], a["type"]))
    assert not failures
    # A differential where libphonenumber reads few of the texts would prove little.
    assert read > len(texts) // 2 and len(foreign) > 20
