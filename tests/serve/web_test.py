#!/usr/bin/python3
# The page of vnlt serve in headless Chromium, driven by Selenium, against a
# service on loopback: a typed number, a pasted list, a CSV and an .xlsx
# answered as `vnlt query --column` answers them, the charts' counts, markup
# from the directory shown as text, and no request beyond the page's origin.
#
# Usage: web_test.py VNLT DAT (scripts/web_picture takes the README's picture)
import collections
import csv
import io
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest
import warnings
import urllib.request

import openpyxl
from selenium import webdriver
from selenium.webdriver.chrome.service import Service as Driver
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

sys.path.insert(0, os.path.dirname(__file__))
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from service import Service  # noqa: E402
import tables  # noqa: E402

VNLT = DAT = None
MARKUP = "<img src=x onerror=alert(1)>"
MARKUP_NUMBER = "19912340000"  # its key, 1991234, given the area above in the test's directory


def browser(profile, width=1200, height=900):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking "
                 "--disable-component-update --disable-sync --disable-dev-shm-usage --lang=zh-CN").split() + [
                     "--user-data-dir=" + profile, "--window-size=%d,%d" % (width, height)]:
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"performance": "ALL", "browser": "ALL"})
    return webdriver.Chrome(service=Driver("/usr/bin/chromedriver"), options=options)


def query(*args, text=None):
    return subprocess.run([VNLT, "--dat", DAT, "query", *args], input=text, stdout=subprocess.PIPE).stdout


class Page(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        global DAT
        cls.folder = cls.enterClassContext(tempfile.TemporaryDirectory(prefix="vnlt-web-"))
        DAT = shutil.copy(DAT, os.path.join(cls.folder, "Varnolt.dat"))
        subprocess.run([VNLT, "--dat", DAT, "add", MARKUP_NUMBER[:7], MARKUP, "<b>type</b>"], check=True,
                       stdout=subprocess.DEVNULL)
        cls.service = Service(VNLT, DAT)
        cls.origin = "http://127.0.0.1:%d" % cls.service.port
        cls.driver = browser(os.path.join(cls.folder, "profile"))
        cls.driver.get(cls.origin + "/")
        cls.wait = WebDriverWait(cls.driver, 20)
        cls.downloads = os.path.join(cls.folder, "downloads")
        cls.driver.execute_cdp_cmd("Page.setDownloadBehavior", {"behavior": "allow", "downloadPath": cls.downloads})

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        assert cls.service.stop() == 0

    def find(self, css):
        return self.driver.find_element(By.CSS_SELECTOR, css)

    def texts(self, css):
        return [e.text for e in self.driver.find_elements(By.CSS_SELECTOR, css)]

    def type_number(self, text):
        box = self.find("#number")
        box.send_keys(Keys.CONTROL, "a", Keys.BACKSPACE)  # clear() fires no input event
        self.wait.until(lambda d: not self.texts("#answer *"))
        box.send_keys(text)
        self.wait.until(lambda d: self.texts("#answer .main dd, #answer .note"))
        return self.texts("#answer .main dd, #answer .note")[0]

    def test_1_a_typed_number_shows_its_area_and_markup_shows_as_text(self):
        for row in [row for row in tables.rows() if tables.served(row)][:40]:
            with self.subTest(row.text):
                shown = self.type_number(row.text)
                if row.status == "found":
                    self.assertEqual(shown, row.area)
                    self.assertIn(row.type, self.texts("#answer dd"))
                else:
                    self.assertEqual(self.find("#answer .note").get_attribute("class"), "note")
        self.assertEqual(self.type_number(MARKUP_NUMBER), MARKUP)
        self.assertIn("<b>type</b>", self.texts("#answer dd"))
        self.find("#lang").click()  # English, the answer too, and back
        self.assertEqual(self.texts("#answer dt")[0], "Area")
        self.find("#lang").click()
        self.assertEqual(self.texts("#answer dt")[0], "归属地")

    def test_2_a_pasted_list_in_a_table_with_its_counts(self):
        rows = [row for row in tables.rows() if tables.served(row)]
        numbers = [row.text for row in rows if row.text.strip()] + [MARKUP_NUMBER]  # blank lines are no numbers
        answers = [json.loads(line) for line in query("--format", "jsonl", text="\n".join(numbers).encode()).splitlines()]
        self.find("#list").send_keys("\n".join(numbers))  # typed line by line: the page answers a paste at once
        self.find("#ask").click()
        self.wait.until(lambda d: len(self.texts("#table tbody tr")) == len(numbers))
        table = [[td.text for td in tr.find_elements(By.TAG_NAME, "td")]
                 for tr in self.driver.find_elements(By.CSS_SELECTOR, "#table tbody tr")]
        self.assertEqual([r[1] for r in table], [a.get("area", "") for a in answers])
        counts = {li.get_attribute("data-status"): int(li.find_element(By.TAG_NAME, "b").text)
                  for li in self.driver.find_elements(By.CSS_SELECTOR, "#counts li")}
        self.assertEqual(counts, dict(collections.Counter(a["status"] for a in answers)))
        self.assertEqual(self.chart("#provinces"), collections.Counter(a["province"] or a["area"] for a in answers
                                                                       if a["found"]))
        self.assertEqual(self.chart("#types"), collections.Counter(a["type"] for a in answers if a["found"]))
        self.find("#copy").click()
        self.wait.until(lambda d: str(len(numbers)) in self.find("#listNote").text)

    def chart(self, css):
        return collections.Counter({li.find_element(By.CLASS_NAME, "name").text: int(
            li.find_element(By.CLASS_NAME, "count").text) for li in self.driver.find_elements(By.CSS_SELECTOR, css + " li")})

    def answer_file(self, path, kinds):
        """The page's downloads of `path`, by kind, once its whole answer is in."""
        self.find("#file").send_keys(path)
        self.wait.until(lambda d: self.find("#fileForm").is_displayed())
        self.find("#run").click()
        self.wait.until(lambda d: len(self.texts("#downloads a")) == len(kinds))
        got = {}
        for kind in kinds:
            link = self.find("#downloads a[data-kind=%s]" % kind)
            path = pathlib.Path(self.downloads, link.get_attribute("download"))
            link.click()
            self.wait.until(lambda d: path.exists())
            got[kind] = path.read_bytes()
            path.unlink()
        return got

    def test_3_files_come_back_with_the_answers_appended(self):
        gbk = str(tables.DATA / "contacts_gbk.csv")
        self.assertEqual(self.texts("script[src*=excel]"), [])  # the spreadsheet library waits for a spreadsheet
        self.assertEqual(self.answer_file(gbk, ["csv"])["csv"], query("--input", gbk, "--column", "2"))
        # An .xlsx of the written numbers, a header and a second column.
        path = os.path.join(self.folder, "numbers.xlsx")
        book = openpyxl.Workbook()
        texts = [row.text for row in tables.rows() if tables.served(row)] + [MARKUP_NUMBER]
        for row in [["号码", "备注"]] + [[text, "n%d" % i] for i, text in enumerate(texts)]:
            book.active.append(row)
        book.save(path)
        got = self.answer_file(path, ["csv", "xlsx"])
        same = "号码,备注\n" + "".join('"%s",n%d\n' % (t.replace('"', '""'), i) for i, t in enumerate(texts))
        self.assertEqual(got["csv"], query("--column", "1", text=same.encode()))
        warnings.simplefilter("ignore")  # openpyxl's word on the styles the writer leaves out
        sheet = openpyxl.load_workbook(io.BytesIO(got["xlsx"])).active
        self.assertEqual([["" if v is None else str(v) for v in r] for r in sheet.iter_rows(values_only=True)],
                         list(csv.reader(io.StringIO(got["csv"].decode("utf-8-sig"), newline=""))))

    def test_4_the_page_keeps_to_its_origin_and_is_small(self):
        urls = [json.loads(e["message"])["message"]["params"]["request"]["url"]
                for e in self.driver.get_log("performance") if '"Network.requestWillBeSent"' in e["message"]]
        # The browser's own pages (chrome://) aside, every request is the page's.
        self.assertEqual([u for u in urls if not u.startswith((self.origin + "/", "blob:" + self.origin, "chrome", "data:"))],
                         [])
        self.assertTrue([u for u in urls if u.startswith(self.origin + "/v1/lookup")])
        self.assertEqual([e for e in self.driver.get_log("browser") if e["level"] == "SEVERE"], [])
        # The first view's files: a fresh page, before any spreadsheet.
        self.driver.get(self.origin + "/")
        size = self.driver.execute_script(
            "return performance.getEntries().reduce((n, e) => n + (e.decodedBodySize || 0), 0)")
        self.assertLess(size, 100 * 1024)
        # The page's headers are in serve_exchanges.txt; its tag, made at build time, is not.
        with urllib.request.urlopen(self.origin + "/") as reply:
            tag = reply.headers["ETag"]
        with self.assertRaisesRegex(urllib.error.HTTPError, "304"):
            urllib.request.urlopen(urllib.request.Request(self.origin + "/", headers={"If-None-Match": tag}))


if __name__ == "__main__":
    VNLT, DAT = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
