"""qz5ctl's settings editor with --apply against qz5d on the emulated
keyboard: each edit reaches the keyboard as the requests `qz5ctl requests`
prints for the edited file."""

import unittest

from test_daemon import WorldTest


class EditorApply(WorldTest):
    def setUp(self):
        super().setUp()
        self.w.serve()

    def download(self, profile):
        return self.w.qz5ctl("requests", self.w.settings, profile, "--save", check=True).stdout.splitlines()

    def test_each_edit_reaches_the_keyboard(self):
        w = self.w
        macro = w.write("macro.txt", "# greet\ntap H\ntap I\ndelay 100\ncopy\n")
        # The last row: profile 1, as export prints it, becomes profile 3.
        for args, profile in [(("set", "2", "key", "CapsLock", "Escape"), "2"),
                              (("set", "1", "t3", "macro", "name", "greet"), "1"),
                              (("macro", "import", "1", "t3", macro), "1"),
                              (("set", "3", "m2", "on", "F1", "launch", "/usr/bin/true"), "3"),
                              (("profile", "import", "3", w.path("profile1.txt")), "3")]:
            if args[0] == "profile":
                w.write("profile1.txt", w.qz5ctl("profile", "export", "1", check=True).stdout)
            before = self.download(profile)
            sent = w.requests_after(lambda: w.qz5ctl(*args, "--apply", check=True))
            self.assertEqual(sent, self.download(profile), args)
            self.assertNotEqual(sent, before, args)
        payloads = lambda lines: [line.split(" : ")[1] for line in lines if " : " in line]
        self.assertEqual(payloads(sent), payloads(self.download("1")))
        off = "40 31 00 00 8{} 00 00 00"
        for args, expected in [
            (("set", "light", "zones", "wasd", "style", "2"), ["40 31 02 00 00 00 00 00"] + [off.format(z) for z in "123"]),
            (("set", "game", "on"), ["40 02 03 00 00 00 00 00"]),
            (("set", "game", "off", "--no-wait"), ["40 02 01 00 00 00 00 00"]),
            (("set", "profile", "2"), ["40 14 02 00 00 00 00 00"]),
        ]:
            self.assertEqual(w.requests_after(lambda: w.qz5ctl(*args, "--apply", check=True)), expected, args)
        # A refused edit posts nothing.
        for args in [("set", "2", "key", "CapsLok", "Escpae", "--apply"), ("set", "game", "on", "--no-wait")]:
            r = w.qz5ctl(*args)
            self.assertEqual((r.returncode, r.stderr.count("\n")), (2, 1), args)
        self.assertEqual(w.requests_after(lambda: None, changes=0), [])


if __name__ == "__main__":
    unittest.main()
