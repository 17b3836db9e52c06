// The program's entry: everything happens in _main.
#include <allegro.h>

#include "main.h"

int main(int argc, char** argv) {
    return _main(argc, argv);
}
END_OF_MAIN()
