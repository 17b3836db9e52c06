// Prints which pixels the graphics library's default font sets for the text given as the
// argument: a line "width height", then one line of 0s and 1s per pixel row. The window tests
// compare the program's screen texts against it.
#include <allegro.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s TEXT\n", argv[0]);
        return 2;
    }
    install_allegro(SYSTEM_NONE, &errno, atexit);
    set_color_depth(32);
    const char* text = argv[1];
    int w = text_length(font, text), h = text_height(font);
    BITMAP* bmp = create_bitmap(w, h);
    clear_to_color(bmp, makecol(0, 0, 0));
    textout_ex(bmp, font, text, 0, 0, makecol(255, 255, 255), -1);
    std::printf("%d %d\n", w, h);
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            std::putchar(getpixel(bmp, x, y) == makecol(255, 255, 255) ? '1' : '0');
        }
        std::putchar('\n');
    }
    destroy_bitmap(bmp);
    return 0;
}
END_OF_MAIN()
