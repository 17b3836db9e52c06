// The application's main function: start-up, the main menu flow and its network branch, the
// top-level catch and shutdown. Always returns 0.
#pragma once

int _main(int argc, char** argv);
