// The graphics library alone, as the game starts it: the 800 x 600 window at 32-bit colour with
// the menu picture and the exit button drawn once, then a wait for a key, a click on the exit
// button or the close button, and the library's shutdown. It measures what the library and the
// platform cost before the game adds anything (start-up to the first frame, the executable's
// size), on Linux and on Windows.
//
// Usage: bare_allegro [PICTURE_FOLDER]. Without one, the pictures are read from data/ beside the
// executable, so that an installed copy finds them from any working directory.
// Writes "First frame" once the window shows the pictures, then how it was asked to end ("Key",
// "Exit button" or "Close button"), then "Done" after the library has shut down.
#include <allegro.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kScreenW = 800;
constexpr int kScreenH = 600;
// Where the game's main menu places its exit button.
constexpr int kExitX = 616;
constexpr int kExitY = 500;
constexpr int kPollMs = 5;

std::atomic<bool> closeClicked{false};

// Called on the library's own thread: only raises the flag.
void onClose() {
    closeClicked = true;
}

void say(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
}

int fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "bare_allegro: %s %s\n", what, detail.c_str());
    return 1;
}

std::string pictureFolder(int argc, char** argv) {
    if (argc > 1) {
        return argv[1];
    }
    char path[1024];
    get_executable_name(path, sizeof path);
    replace_filename(path, path, "data", sizeof path);
    return path;
}

BITMAP* load(const std::string& folder, const char* name) {
    char path[1024];
    append_filename(path, folder.c_str(), name, sizeof path);
    return load_bitmap(path, nullptr);
}

bool onExitButton(const BITMAP* button) {
    return (mouse_b & 1) && mouse_x >= kExitX && mouse_x < kExitX + button->w &&
           mouse_y >= kExitY && mouse_y < kExitY + button->h;
}

}  // namespace

int main(int argc, char** argv) {
    if (install_allegro(SYSTEM_AUTODETECT, &errno, atexit) != 0) {
        return fail("cannot start the library:", allegro_error);
    }
    set_window_title("Five in a row");
    set_color_depth(32);
    if (set_gfx_mode(GFX_AUTODETECT_WINDOWED, kScreenW, kScreenH, 0, 0) != 0) {
        return fail("cannot open the window:", allegro_error);
    }
    const std::string folder = pictureFolder(argc, argv);
    BITMAP* menu = load(folder, "menu.tga");
    BITMAP* exitButton = load(folder, "mi_exit.tga");
    if (menu == nullptr || exitButton == nullptr) {
        return fail("cannot load the pictures from", folder);
    }
    install_timer();
    if (install_keyboard() != 0 || install_mouse() < 0) {
        return fail("no keyboard or mouse:", allegro_error);
    }
    set_close_button_callback(onClose);

    blit(menu, screen, 0, 0, 0, 0, kScreenW, kScreenH);
    blit(exitButton, screen, 0, 0, kExitX, kExitY, exitButton->w, exitButton->h);
    say("First frame");

    for (;;) {
        if (keypressed()) {
            say("Key");
            break;
        }
        if (onExitButton(exitButton)) {
            say("Exit button");
            break;
        }
        if (closeClicked) {
            say("Close button");
            break;
        }
        rest(kPollMs);
    }
    destroy_bitmap(exitButton);
    destroy_bitmap(menu);
    allegro_exit();
    say("Done");
    return 0;
}
END_OF_MAIN()
