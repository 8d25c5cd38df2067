// Command-line front end of the typist for shell-driven demos and checks:
//   typist [--window XID] type TEXT | key COMBO | press KEY | release KEY | click X Y [BUTTON] | remove
// Several commands may follow one another; without --window the active window gets the keys. The typist's
// master device is kept between invocations; "remove" takes it away.
#include "tests/e2e/support/typist.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    using pimsel::e2e::Typist;
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: typist [--window XID] (type TEXT | key COMBO | press KEY | release KEY | "
                     "click X Y [BUTTON] | remove)...\n");
        return 2;
    }
    int i = 1;
    if (std::string(argv[1]) == "remove")
        return Typist::removeMaster() ? 0 : 1;
    Typist typist(nullptr, Typist::MasterLifetime::keep);
    if (!typist.isReady()) {
        std::fprintf(stderr, "typist: %s\n", typist.error().c_str());
        return 1;
    }
    auto need = [&](int n) {
        if (i + n >= argc) {
            std::fprintf(stderr, "typist: %s needs %d argument(s)\n", argv[i], n);
            std::exit(2);
        }
    };
    bool ok = true;
    // Without --window first, the keys go to the window the session has active.
    if (std::string(argv[1]) != "--window") {
        if (const xcb_window_t active = Typist::activeWindow())
            ok = typist.focus(active);
    }
    while (ok && i < argc) {
        const std::string command = argv[i];
        if (command == "--window") {
            need(1);
            ok = typist.focus(static_cast<xcb_window_t>(std::strtoul(argv[i + 1], nullptr, 0)));
            i += 2;
        } else if (command == "type") {
            need(1);
            ok = typist.type(argv[i + 1]);
            i += 2;
        } else if (command == "key") {
            need(1);
            ok = typist.key(argv[i + 1]);
            i += 2;
        } else if (command == "press") {
            need(1);
            ok = typist.press(argv[i + 1]);
            i += 2;
        } else if (command == "release") {
            need(1);
            ok = typist.release(argv[i + 1]);
            i += 2;
        } else if (command == "click") {
            need(2);
            const int x = std::atoi(argv[i + 1]);
            const int y = std::atoi(argv[i + 2]);
            i += 3;
            int button = 1;
            // An optional button number follows the coordinates.
            if (i < argc && std::isdigit(static_cast<unsigned char>(argv[i][0])))
                button = std::atoi(argv[i++]);
            ok = typist.click(x, y, button);
        } else {
            std::fprintf(stderr, "typist: unknown command %s\n", command.c_str());
            return 2;
        }
    }
    if (!ok) {
        std::fprintf(stderr, "typist: %s\n", typist.error().c_str());
        return 1;
    }
    return 0;
}
