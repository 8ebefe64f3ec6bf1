#!/usr/bin/env python3
"""A demonstration restore through the real window and dialogs, for a machine
without a display: lists the sample backup, restores one file, prints what it
listed and restored, and saves a screenshot of the window with the list.

  demo.py BUILD_DIR SOURCE_DIR RUN_DIR SCREENSHOT
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import driver  # noqa: E402


def main():
    build, source, run_dir, screenshot = sys.argv[1:5]
    env = driver.setup(build, source)
    archive = os.path.join(run_dir, "Sicherungen", "Beispiel.zip")
    app = subprocess.Popen([driver.WINE_RUN, driver.APP], cwd=run_dir, env=env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        driver.wait_for(lambda: driver.window_shown(driver.TITLE), "the main window")
        driver.click_control(driver.TITLE, 1)
        driver.type_into_dialog(driver.OPEN_TITLE, driver.windows_path(archive))
        rows = driver.wait_for(lambda: driver.rows(), "the listed rows")
        print("Sicherung %s: %d Einträge" % (archive, len(rows)))
        for number, row in enumerate(rows):
            print("  %d  %s" % (number, row.decode("cp1252")))

        code, out = driver.probe("rect", driver.hexof(driver.TITLE))
        x, y, w, h = out.split()
        subprocess.run(["import", "-window", "root", "-crop", "%sx%s+%s+%s" % (w, h, x, y), "+repage",
                        screenshot], env=env, check=True)

        row = 1
        name = rows[row].decode("cp1252").rsplit("\\", 1)[-1]
        target = os.path.join(run_dir, "Wiederhergestellt_" + name.encode("ascii", "replace").decode()
                              .replace("?", "_"))
        code, out = driver.probe("row", driver.hexof(driver.TITLE), str(row))
        driver.click_at(*out.split())
        driver.click_control(driver.TITLE, 2)
        driver.type_into_dialog(driver.SAVE_TITLE, driver.windows_path(target))
        driver.wait_for(lambda: os.path.exists(target), "the restored file")
        with open(target, "rb") as f:
            data = f.read()
        print("Wiederhergestellt: Zeile %d (%s) -> %s, %d Bytes" % (row, rows[row].decode("cp1252"), target,
                                                                    len(data)))
        print("  " + data[:160].decode("cp1252").replace("\r\n", "\n  "))
        print("Bildschirmfoto: %s" % screenshot)
        driver.xdo("key", "alt+F4")
        return 0 if app.wait(timeout=30) == 0 else 1
    finally:
        if app.poll() is None:
            app.kill()


if __name__ == "__main__":
    sys.exit(main())
