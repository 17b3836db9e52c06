// The application's main function: start-up, the main menu flow and its network branch, the
// top-level catch and shutdown. Returns the program's exit status: 1 when an error ended it, 0
// when the player did (Exit, the close button, the first signal).
#pragma once

int _main(int argc, char** argv);
