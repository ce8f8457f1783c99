#!/usr/bin/python3
"""The report page of warpix-render in a real browser (headless chromium driven
through WebDriver): one figure per cell, one table row per cell, a click on a
header reorders the rows (numbers ascending, then descending, nulls last), user
text shows as text, and a screenshot of the page is not a single colour.
Exits 77 (skipped) when chromium, chromedriver or selenium is missing."""
import os
import shutil
import subprocess
import sys

binary, source, work = sys.argv[1:4]

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
except ImportError:
    print("SKIP: python3-selenium is not installed (scripts/install-deps installs it)")
    sys.exit(77)
chromium = shutil.which("chromium")
driver_path = shutil.which("chromedriver")
if chromium is None or driver_path is None:
    print("SKIP: chromium or chromedriver is not installed (scripts/install-deps installs them)")
    sys.exit(77)

shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
params = os.path.join(work, "cells.params")
NAME = '<b>Tom & "Jerry"</b>'
with open(params, "w") as f:
    f.write(f"""Image {source}/examples/demo.jpg
Deformators [ Mls Arap Pixel Plain ]
DeformSetting Mesh
InitCtrlPnts [ 0.2 0.2 0.8 0.2 0.8 0.8 0.2 0.8 ]
DeformCtrlPnts [ 0.2 0.2 0.8 0.2 0.65 0.9 0.3 0.7 ]
-Mls Type DeformMLS MLSType MLS_RIGID Name [ {NAME} ]
-Arap Type DeformAsRigidAsPossible Name [ ARAP ]
-Pixel Type DeformMLS MLSType MLS_RIGID Name [ MLS pixel ] DeformSetting PixelSettings
-Plain Type NullDeformator
-PixelSettings DeformType DEFORM_PIXEL
-Mesh DeformType DEFORM_REGULAR_MESH MeshResolution [ 10 10 ] DefaultRect [ 0 1 0 1 ] DrawMesh false WhiteToTransparent false
""")
cases = os.path.join(work, "cases.jsonl")
with open(cases, "w") as f:
    subprocess.run([binary, "--random", "6", "--seed", "2"], stdout=f, check=True)
page = os.path.join(work, "page")
subprocess.run([binary, "--report", page, "--cases", cases, "--format", "jpg", "--size", "96x96",
                params], stdout=subprocess.DEVNULL, check=True)

options = webdriver.ChromeOptions()
options.binary_location = chromium
for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1200,1600"):
    options.add_argument(arg)
driver = webdriver.Chrome(service=Service(executable_path=driver_path), options=options)
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


try:
    driver.set_page_load_timeout(30)
    driver.get("file://" + os.path.abspath(os.path.join(page, "index.html")))
    figures = driver.find_elements(By.CSS_SELECTOR, "figure.cell")
    check(len(figures) == 4, "figures: %d" % len(figures))
    captions = [f.find_element(By.TAG_NAME, "figcaption").text for f in figures]
    check(captions[0] == NAME, "caption shown as text: %r" % captions[0])
    check(not driver.find_elements(By.CSS_SELECTOR, "figcaption b"), "user text became markup")
    loaded = driver.execute_script(
        "return Array.prototype.every.call(document.images, function(i){return i.complete && i.naturalWidth > 0;});")
    check(loaded, "a picture did not load")
    rows = driver.find_elements(By.CSS_SELECTOR, "#numbers tbody tr")
    check(len(rows) == 4, "table rows: %d" % len(rows))
    check(len(driver.find_elements(By.CSS_SELECTOR, "#statistics-table tbody tr")) == 4, "statistics rows")
    check(len(driver.find_elements(By.CSS_SELECTOR, "#box-plots svg.box")) > 0, "box plots")

    headers = driver.find_elements(By.CSS_SELECTOR, "#numbers thead th")
    column = [h.text for h in headers].index("K max")

    def column_values():
        cells = driver.find_elements(By.CSS_SELECTOR, "#numbers tbody tr td:nth-child(%d)" % (column + 1))
        out = []
        for c in cells:
            v = c.get_attribute("data-v")
            out.append(None if v == "" else float(v))
        return out

    for direction in ("ascending", "descending"):
        headers[column].click()  # a real click, through the browser's input
        values = column_values()
        numbers = [v for v in values if v is not None]
        expected = sorted(numbers, reverse=direction == "descending")
        check(numbers == expected, "%s: %s" % (direction, values))
        check(values[len(numbers):] == [None] * (len(values) - len(numbers)), "nulls last: %s" % values)
    # The screenshot, decoded by the browser itself: more than one colour.
    shot = driver.get_screenshot_as_base64()
    with open(os.path.join(work, "screenshot.png"), "wb") as f:
        f.write(driver.get_screenshot_as_png())
    colours = driver.execute_async_script("""
        var done = arguments[1], img = new Image();
        img.onload = function() {
          var c = document.createElement('canvas'); c.width = img.width; c.height = img.height;
          var g = c.getContext('2d'); g.drawImage(img, 0, 0);
          var d = g.getImageData(0, 0, c.width, c.height).data, seen = {}, n = 0;
          for (var i = 0; i < d.length && n < 50; i += 4 * 97) {
            var k = d[i] + ',' + d[i + 1] + ',' + d[i + 2];
            if (!seen[k]) { seen[k] = 1; n++; }
          }
          done(n);
        };
        img.onerror = function() { done(-1); };
        img.src = 'data:image/png;base64,' + arguments[0];""", shot)
    check(colours > 10, "screenshot colours: %d" % colours)
finally:
    driver.quit()

if failures:
    print("FAILED:\n  " + "\n  ".join(failures))
    sys.exit(1)
print("report page: 4 figures, 4 rows, sorted both ways by a click, screenshot of %d+ colours" % colours)
