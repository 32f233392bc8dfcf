// Puts the compositor's pointer at a point through wlroots' virtual-pointer
// protocol and keeps it there while running: the headless session has no
// pointer device, and without one sway shows no cursor at all.
//   velmora_virtual_pointer X Y WIDTH HEIGHT   (the output's size)
// Then reads lines from its input: "move X Y", "down", "up" (left button);
// at the end of the input it stays until SIGTERM.
// The protocol's two interfaces are declared here by hand, as the scanner
// would; only the requests used are given signatures.

#include <wayland-client.h>

#include <unistd.h>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const wl_interface* noTypes[8] = {};

const wl_message pointerRequests[] = {
    {"motion", "uff", noTypes},   {"motion_absolute", "uuuuu", noTypes},
    {"button", "uuu", noTypes},   {"axis", "uuf", noTypes},
    {"frame", "", noTypes},       {"axis_source", "u", noTypes},
    {"axis_stop", "uu", noTypes}, {"axis_discrete", "uufi", noTypes},
    {"destroy", "", noTypes},
};
const wl_interface pointerInterface = {"zwlr_virtual_pointer_v1", 2, 9,
                                       pointerRequests,           0, nullptr};

const wl_interface* createTypes[] = {&wl_seat_interface, &pointerInterface};
const wl_message managerRequests[] = {
    {"create_virtual_pointer", "?on", createTypes},
    {"destroy", "", noTypes},
};
const wl_interface managerInterface = {
    "zwlr_virtual_pointer_manager_v1", 1, 2, managerRequests, 0, nullptr};

wl_seat* seat = nullptr;
wl_proxy* manager = nullptr;

void global(void*, wl_registry* registry, std::uint32_t name, const char* interface,
            std::uint32_t) {
    if (!std::strcmp(interface, "wl_seat"))
        seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (!std::strcmp(interface, managerInterface.name))
        manager = static_cast<wl_proxy*>(wl_registry_bind(registry, name, &managerInterface, 1));
}
void globalRemove(void*, wl_registry*, std::uint32_t) {}
const wl_registry_listener registryListener = {global, globalRemove};

volatile std::sig_atomic_t stop = 0;

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s X Y WIDTH HEIGHT\n", argv[0]);
        return 2;
    }
    const auto arg = [argv](int i) { return static_cast<std::uint32_t>(std::atoi(argv[i])); };
    wl_display* display = wl_display_connect(nullptr);
    if (!display) return std::perror("wl_display_connect"), 1;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, nullptr);
    wl_display_roundtrip(display);
    if (!manager) return std::fputs("no zwlr_virtual_pointer_manager_v1\n", stderr), 1;
    wl_proxy* pointer = wl_proxy_marshal_constructor(manager, 0, &pointerInterface, seat, nullptr);
    // motion_absolute(time, x, y, x_extent, y_extent), then frame.
    wl_proxy_marshal(pointer, 1, 0u, arg(1), arg(2), arg(3), arg(4));
    wl_proxy_marshal(pointer, 4);
    wl_display_roundtrip(display);
    // Without SA_RESTART, so SIGTERM also ends a read waiting for input.
    struct sigaction action {};
    action.sa_handler = [](int) { stop = 1; };
    sigaction(SIGTERM, &action, nullptr);
    std::puts("ready");
    std::fflush(stdout);
    char line[128];
    std::uint32_t time = 1;
    while (!stop && std::fgets(line, sizeof line, stdin)) {
        unsigned x, y;
        constexpr std::uint32_t kLeftButton = 0x110;  // BTN_LEFT
        if (std::sscanf(line, "move %u %u", &x, &y) == 2)
            wl_proxy_marshal(pointer, 1, time++, x, y, arg(3), arg(4));
        else if (!std::strncmp(line, "down", 4))
            wl_proxy_marshal(pointer, 2, time++, kLeftButton, 1u);
        else if (!std::strncmp(line, "up", 2))
            wl_proxy_marshal(pointer, 2, time++, kLeftButton, 0u);
        else
            continue;
        wl_proxy_marshal(pointer, 4);
        wl_display_roundtrip(display);
        std::puts("done");
        std::fflush(stdout);
    }
    while (!stop) pause();
    wl_display_disconnect(display);
    return 0;
}
