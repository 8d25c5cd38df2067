// Command-line front end of the typist for shell-driven demos (tools/demo.sh) and scripted tests:
//   typist [--core | --window XID] (type TEXT | key COMBO)... | typist remove
// Without --window the active window gets the keys. The typist's master device is kept between
// invocations; "remove" takes it away. --core types through the session's own keyboard instead,
// whose keys follow the focus as the window manager moves it.
#include "tests/e2e/support/typist.h"
#include "tests/e2e/support/desktop.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    using pimsel::e2e::Typist;
    if (argc == 2 && std::string(argv[1]) == "remove")
        return Typist::removeMaster() ? 0 : 1;
    const bool core = argc > 1 && std::string(argv[1]) == "--core";
    Typist typist(core ? Typist::Keyboard::core : Typist::Keyboard::own, Typist::MasterLifetime::keep);
    bool ok = typist.isReady();
    int i = core ? 2 : 1;
    if (ok && argc > 2 && std::string(argv[1]) == "--window") {
        ok = typist.focus(static_cast<xcb_window_t>(std::strtoul(argv[2], nullptr, 0)));
        i = 3;
    } else if (ok && !core) {
        if (const xcb_window_t active = pimsel::e2e::XView().activeWindow())
            ok = typist.focus(active);
    }
    if ((argc - i) % 2 != 0 || argc == i) {
        std::fprintf(stderr,
                     "usage: typist [--core | --window XID] (type TEXT | key COMBO)... | typist remove\n");
        return 2;
    }
    for (; ok && i + 1 < argc; i += 2) {
        const std::string command = argv[i];
        if (command != "type" && command != "key") {
            std::fprintf(stderr, "typist: unknown command %s\n", argv[i]);
            return 2;
        }
        ok = command == "type" ? typist.type(argv[i + 1]) : typist.key(argv[i + 1]);
    }
    if (!ok) {
        std::fprintf(stderr, "typist: %s\n", typist.error().c_str());
        return 1;
    }
    return 0;
}
