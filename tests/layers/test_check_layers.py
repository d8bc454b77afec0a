#!/usr/bin/env python3
"""The layer check must fail on every include that points up or across, and only on those."""

import os
import subprocess
import sys
import tempfile
import unittest

CHECKER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "check-layers")


class CheckLayersTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.src = os.path.join(self.tmp.name, "src")

    def tearDown(self):
        self.tmp.cleanup()

    def write(self, path, *lines):
        full = os.path.join(self.src, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w", encoding="utf-8") as out:
            out.write("\n".join(lines) + "\n")

    def run_checker(self, *options):
        result = subprocess.run([sys.executable, CHECKER, *options, self.src], capture_output=True, text=True)
        return result.returncode, result.stdout.splitlines()

    def write_healthy_tree(self):
        self.write("gitcore/Parser.h", "#pragma once", "#include <QString>")
        self.write("platform/Watcher.h", '#include "gitcore/Parser.h"', '#include "async/Token.h"')
        self.write("platform/linux/Inotify.cpp", '#include "../Watcher.h"', '#include "platform/Watcher.h"')
        self.write("async/Token.h", '#include "platform/Watcher.h"')
        self.write("models/Store.h", '#include "platform/Watcher.h"', '#include "Record.h"')
        self.write("models/Record.h", "#pragma once")
        self.write("services/Runner.h", '#include "models/Store.h"')
        self.write("services/git/Git.cpp", '#include "Git.h"', '#include "services/Runner.h"',
                   '#include "Git.moc"')
        self.write("services/git/Git.h", "#pragma once")
        self.write("app/Services.h", '#include "services/git/Git.h"', "#include <QObject>")
        self.write("views/Window.cpp", '#include "app/Services.h"', "#include <QMainWindow>",
                   "#include <QtWidgets/QDialog>")
        self.write("cli/Command.cpp", '#include "app/Services.h"')
        self.write("main.cpp", '#include "views/Window.cpp"', '#include "cli/Command.cpp"')

    def test_healthy_tree_passes_and_every_kind_of_upward_include_fails(self):
        # Downward and same-level includes, folder-less includes beside the file, `..` paths and
        # generated files that do not exist are all fine.
        self.write_healthy_tree()
        code, lines = self.run_checker()
        self.assertEqual((code, lines), (0, []))

        # A record that reaches for a service: the case the check exists for. The folder-less
        # include resolves beside the including file, so it is caught as well.
        self.write("models/Prefs.cpp",
                   "// settings",
                   '#include "services/Runner.h"',
                   '#include "Record.h"',
                   '#include "../app/Services.h"')
        # A service that reaches into the application layer.
        self.write("services/Helper.cpp", '#include "app/Services.h"')
        # Lowest layer including a higher one.
        self.write("gitcore/Bad.cpp", '#  include "platform/Watcher.h"')
        # The two faces of the application do not include each other.
        self.write("views/Sheet.cpp", '#include "cli/Command.cpp"')
        self.write("cli/Prompt.cpp", '#include "views/Window.cpp"')
        # Widgets inside the core, spelled either way; allowed in the views only.
        self.write("app/Dialogs.cpp", "#include <QMessageBox>")
        self.write("services/Ask.cpp", "#include <QtWidgets/QFileDialog>", "#include <QtWidgets>")

        code, lines = self.run_checker()
        self.assertEqual(code, 1)
        self.assertEqual(sorted(lines), sorted([
            "src/models/Prefs.cpp:2: layer models includes layer services (services/Runner.h)",
            "src/models/Prefs.cpp:4: layer models includes layer app (app/Services.h)",
            "src/services/Helper.cpp:1: layer services includes layer app (app/Services.h)",
            "src/gitcore/Bad.cpp:1: layer gitcore includes layer platform (platform/Watcher.h)",
            "src/views/Sheet.cpp:1: layer views includes layer cli (cli/Command.cpp)",
            "src/cli/Prompt.cpp:1: layer cli includes layer views (views/Window.cpp)",
            "src/app/Dialogs.cpp:1: layer app includes the QtWidgets header <QMessageBox>",
            "src/services/Ask.cpp:1: layer services includes the QtWidgets header <QtWidgets/QFileDialog>",
            "src/services/Ask.cpp:2: layer services includes the QtWidgets header <QtWidgets>",
        ]))

    def test_folderless_include_prefers_the_including_folder(self):
        # `Store.h` beside a services file is that service's own header, not models/Store.h.
        self.write("models/Store.h", "#pragma once")
        self.write("services/Store.h", "#pragma once")
        self.write("services/Store.cpp", '#include "Store.h"')
        # With nothing of that name beside it, a folder-less name is read from the source folder,
        # where `Store.h` names no layer's file.
        self.write("platform/Log.cpp", '#include "Store.h"')
        self.assertEqual(self.run_checker(), (0, []))

        self.write("platform/Log.cpp", '#include "models/Store.h"')
        code, lines = self.run_checker()
        self.assertEqual((code, lines), (1, ["src/platform/Log.cpp:1: layer platform includes layer models (models/Store.h)"]))

    def test_installed_widgets_headers_are_the_list_when_given(self):
        headers = os.path.join(self.tmp.name, "QtWidgets")
        os.makedirs(headers)
        for name in ("QCalendarWidget", "QtWidgets", "qcalendarwidget.h"):
            open(os.path.join(headers, name), "w").close()
        self.write("app/Dates.cpp", "#include <QCalendarWidget>", "#include <QTimer>")
        self.write("views/Dates.cpp", "#include <QCalendarWidget>")
        self.assertEqual(self.run_checker("--widgets-headers", headers),
                         (1, ["src/app/Dates.cpp:1: layer app includes the QtWidgets header <QCalendarWidget>"]))

    def test_bad_usage(self):
        for arguments in ([os.path.join(self.tmp.name, "missing")], ["--unknown"],
                          ["--widgets-headers", os.path.join(self.tmp.name, "missing"), self.tmp.name]):
            result = subprocess.run([sys.executable, CHECKER, *arguments], capture_output=True, text=True)
            self.assertEqual(result.returncode, 2, arguments)


if __name__ == "__main__":
    unittest.main()
