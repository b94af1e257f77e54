// A pointer for tests under a wlroots compositor: it moves and presses through the compositor's
// virtual-pointer protocol, so that clients receive real input, exactly as from a mouse.
//
//   virtual_pointer WIDTH HEIGHT      (the size of the output layout, in pixels)
//
// Reads commands from stdin, one a line, and answers each with "ok" once the compositor has
// handled it: "move X Y" (layout pixels), "down", "up" (the primary button). Ends at end of
// input. Exits 2 when the compositor offers no virtual pointers.
#include <wayland-client.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

namespace {

// The two interfaces of the protocol, written out from its published description: the
// manager creates pointers; a pointer sends motion, buttons and the frames that end them.
const wl_interface* noTypes[] = {nullptr, nullptr, nullptr, nullptr, nullptr};

const wl_message pointerRequests[] = {
    {"motion", "uff", noTypes},   {"motion_absolute", "uuuuu", noTypes},
    {"button", "uuu", noTypes},   {"axis", "uuf", noTypes},
    {"frame", "", noTypes},       {"axis_source", "u", noTypes},
    {"axis_stop", "uu", noTypes}, {"axis_discrete", "uufi", noTypes},
    {"destroy", "", noTypes},
};
const wl_interface pointerInterface = {"zwlr_virtual_pointer_v1", 1, 9,
                                       pointerRequests,           0, nullptr};

const wl_interface* createTypes[] = {&wl_seat_interface, &pointerInterface};
const wl_message managerRequests[] = {
    {"create_virtual_pointer", "?on", createTypes},
    {"destroy", "", noTypes},
};
const wl_interface managerInterface = {
    "zwlr_virtual_pointer_manager_v1", 1, 2, managerRequests, 0, nullptr};

enum PointerRequest : uint32_t { MotionAbsolute = 1, Button = 2, Frame = 4, Destroy = 8 };
constexpr uint32_t LeftButton = 0x110; // BTN_LEFT of the kernel's input codes

wl_proxy* g_manager = nullptr;

void global(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    if (std::strcmp(interface, managerInterface.name) == 0)
        g_manager = static_cast<wl_proxy*>(wl_registry_bind(registry, name, &managerInterface, 1));
}
void globalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener registryListener = {global, globalRemove};

uint32_t now() {
    using namespace std::chrono;
    return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s WIDTH HEIGHT\n", argv[0]);
        return 1;
    }
    const uint32_t width = uint32_t(std::atoi(argv[1]));
    const uint32_t height = uint32_t(std::atoi(argv[2]));
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "virtual_pointer: no Wayland display\n");
        return 1;
    }
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, nullptr);
    wl_display_roundtrip(display);
    if (!g_manager) {
        std::fprintf(stderr, "virtual_pointer: the compositor offers no virtual pointers\n");
        return 2;
    }
    auto* pointer = wl_proxy_marshal_flags(g_manager, 0, &pointerInterface, 1, 0, nullptr, nullptr);

    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        if (command == "move") {
            uint32_t x = 0, y = 0;
            words >> x >> y;
            wl_proxy_marshal_flags(pointer, MotionAbsolute, nullptr, 1, 0, now(), x, y, width,
                                   height);
        } else if (command == "down" || command == "up") {
            wl_proxy_marshal_flags(pointer, Button, nullptr, 1, 0, now(), LeftButton,
                                   uint32_t(command == "down" ? WL_POINTER_BUTTON_STATE_PRESSED
                                                              : WL_POINTER_BUTTON_STATE_RELEASED));
        } else {
            std::fprintf(stderr, "virtual_pointer: unknown command: %s\n", line.c_str());
            return 1;
        }
        wl_proxy_marshal_flags(pointer, Frame, nullptr, 1, 0);
        if (wl_display_roundtrip(display) < 0) {
            std::fprintf(stderr, "virtual_pointer: the compositor went away\n");
            return 1;
        }
        std::cout << "ok" << std::endl;
    }
    wl_proxy_marshal_flags(pointer, Destroy, nullptr, 1, WL_MARSHAL_FLAG_DESTROY);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
