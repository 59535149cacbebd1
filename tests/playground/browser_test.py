#!/usr/bin/env python3
"""Types on the playground page in a headless Chromium, with real key events.

Checks that the international layout types in the page what velto-sim types
natively for the same keys, that a broken source shows its error at the
right line while typing goes on with the last good description, and that a
mended source changes the picture.

Usage: browser_test.py BUILD_PLAYGROUND_DIR VELTO_SIM_PATH LAYOUTS_DIR
Exit status: 0 passed, 1 failed, 77 skipped (no browser, driver, selenium
or page).
"""
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
PAGE_FILES = ["index.html", "playground.js", "playground.css", "velto.js", "velto.wasm", "layouts/index.json"]
RALT = "\ue052"  # the W3C key that reaches the page as AltRight


def skip(reason):
    print("skip: " + reason)
    sys.exit(77)


def fail(what, seen, expected):
    print(f"FAIL {what}\n  seen:     {seen!r}\n  expected: {expected!r}")
    sys.exit(1)


def check(what, seen, expected):
    if seen != expected:
        fail(what, seen, expected)
    print("ok " + what)


def sim(velto_sim, description, keys):
    run = subprocess.run([velto_sim, description, "--layout", "1", "--keys", keys],
                         capture_output=True, text=True, timeout=60)
    return run.stdout.removesuffix("\n"), run.stderr


def serve(folder):
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    server = subprocess.Popen([sys.executable, "-m", "http.server", str(port), "--bind", "127.0.0.1"],
                              cwd=folder, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(100):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return server, port
        except OSError:
            time.sleep(0.1)
    server.kill()
    skip("the web server did not start")


def main():
    if len(sys.argv) != 4:
        print(__doc__)
        sys.exit(2)
    folder, velto_sim, layouts = sys.argv[1:]
    try:
        from selenium import webdriver
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.chrome.service import Service
        from selenium.webdriver.common.by import By
        from selenium.common.exceptions import TimeoutException
        from selenium.webdriver.support.ui import Select, WebDriverWait
    except ImportError:
        skip("selenium is not installed")
    for path in (CHROMIUM, CHROMEDRIVER):
        if not os.access(path, os.X_OK):
            skip(path + " is missing")
    missing = [f for f in PAGE_FILES if not os.path.isfile(os.path.join(folder, f))]
    if missing:
        skip("the page's files are missing from " + folder + ": " + ", ".join(missing))

    server, port = serve(folder)
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1280,900"):
        options.add_argument(arg)
    driver = None
    work = tempfile.mkdtemp()
    try:
        driver = webdriver.Chrome(service=Service(executable_path=CHROMEDRIVER), options=options)
        driver.get(f"http://127.0.0.1:{port}/index.html")

        def until(what, condition, seen):
            try:
                WebDriverWait(driver, 20).until(condition)
            except TimeoutException:
                fail(what + " (timed out)", seen(), what)

        until("a keyboard drawn", lambda d: d.find_elements(By.CSS_SELECTOR, "#keyboard svg"),
              lambda: driver.find_element(By.ID, "status").text)
        error_items = lambda: [e.get_attribute("textContent") for e in driver.find_elements(By.CSS_SELECTOR, "#errors > *")]
        check("page opens intl.vkl, without errors",
              (driver.find_element(By.ID, "file").get_attribute("value"), error_items()), ("intl.vkl", []))
        Select(driver.find_element(By.ID, "layout")).select_by_value("1")
        typing = driver.find_element(By.ID, "typing")
        source = driver.find_element(By.ID, "source")
        original = source.get_attribute("value")

        def typed(strokes):
            """What the strokes type into an emptied #typing."""
            driver.execute_script("arguments[0].value = ''", typing)
            typing.click()
            strokes(ActionChains(driver)).perform()
            return typing.get_attribute("value")

        def ralt(key):
            return lambda a: a.key_down(RALT).send_keys(key).key_up(RALT)

        acute_e = lambda a: a.send_keys("'").send_keys("e")
        # The layout's signature macro types two lines.
        macro = re.search(r'^macro sig "(.*)"$', original, re.M).group(1).replace("{ENTER}", "\n")
        strokes = [("' e", acute_e, "QUOTE E", "é"),
                   ("AltRight+5", ralt("5"), "ralt+5", "€"),
                   ("AltRight+g (macro sig)", ralt("g"), "ralt+G", macro)]
        intl = os.path.join(layouts, "intl.vkl")
        for name, stroke, keys, expected in strokes:
            check("page types " + name, typed(stroke), expected)
            check("velto-sim types " + name + " the same", sim(velto_sim, intl, keys)[0], expected)

        # Break the source: an unknown key name inside layout 1.
        lines = original.split("\n")
        at = next(i for i, line in enumerate(lines) if re.match(r"\s*key F\s", line)) + 1
        broken = lines[:at] + ["  key Q9 x"] + lines[at:]
        copy = os.path.join(work, "layouts")
        shutil.copytree(layouts, copy)
        with open(os.path.join(copy, "intl.vkl"), "w", encoding="utf-8") as f:
            f.write("\n".join(broken))
        native = sim(velto_sim, os.path.join(copy, "intl.vkl"), "A")[1].splitlines()
        expected_error = native[0].split("intl.vkl:", 1)[1] if native else "(velto-sim found no error)"
        driver.execute_script("arguments[0].focus(); arguments[0].setSelectionRange(arguments[1], arguments[1])",
                              source, len("\n".join(lines[:at])))
        source.send_keys("\n  key Q9 x")
        until("an error shown", lambda d: d.find_elements(By.CSS_SELECTOR, "#errors > *"),
              lambda: driver.find_element(By.ID, "status").text)
        errors = error_items()
        if not errors[0].startswith(f"{at + 1}:"):
            fail("error names the broken line", errors, f"{at + 1}:COL: ...")
        check("broken source shows the compiler's error", errors[0], expected_error)
        check("typing keeps the last good description", typed(acute_e), "é")

        # Mend it, with another character on the semicolon key of layout 1.
        before = driver.find_element(By.ID, "keyboard").get_attribute("innerHTML")
        new_char = "ŧ"
        mended, count = re.subn(r"^(  key SEMICOLON +);", r"\1" + new_char, original, flags=re.M)
        if count != 1 or new_char in before:
            fail("the mend changes one key to a character not yet drawn", (count, new_char in before), (1, False))
        driver.execute_script("arguments[0].value = arguments[1];"
                              "arguments[0].dispatchEvent(new Event('input'))", source, mended)
        until("no errors", lambda d: not error_items(), error_items)
        until("a new picture", lambda d: d.find_element(By.ID, "keyboard").get_attribute("innerHTML") != before,
              lambda: before)
        after = driver.find_element(By.ID, "keyboard").get_attribute("innerHTML")
        check("mended source redraws the picture with " + new_char, new_char in after, True)
        check("mended source types " + new_char, typed(lambda a: a.send_keys(";")), new_char)

        # A layout of xkeyboard-config imported in the page types as veltoc's import of it does.
        veltoc = os.path.join(os.path.dirname(velto_sim), "veltoc")
        if not os.path.isdir("/usr/share/X11/xkb/symbols") or not os.access(veltoc, os.X_OK):
            print("skip xkb import: no xkb-data or no veltoc beside velto-sim")
            return
        neo = os.path.join(work, "neo.vkl")
        subprocess.run([veltoc, "import-xkb", "de(neo)", "-o", neo], check=True, capture_output=True, timeout=120)
        driver.find_element(By.ID, "xkb").send_keys("de(neo)")
        driver.find_element(By.ID, "xkb-import").click()
        layout = driver.find_element(By.ID, "layout")
        until("de(neo) imported", lambda d: "Neo" in Select(layout).options[1].text,
              lambda: (Select(layout).options[1].text, error_items()))
        Select(layout).select_by_value("1")
        check("page types de(neo), imported from xkeyboard-config, as veltoc's import does",
              typed(lambda a: a.send_keys("asdf")), sim(velto_sim, neo, "A S D F")[0])
    finally:
        if driver:
            driver.quit()
        server.kill()
        server.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
