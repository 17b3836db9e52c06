// The game's pictures: the folder the program reads them from, and their loading. Their paths are
// written "data/<file>" throughout the program, relative to the working directory; a build made
// for installation reads them from one fixed folder instead, and on Windows they are read from
// data\ beside the executable, so that the game finds them wherever it is started.
#pragma once

#include <string>

struct BITMAP;

namespace System {

// `path` with its leading "data/" replaced by `folder`. Unchanged when `folder` is empty or the
// path does not start with "data/".
std::string inPictureFolder(const std::string& path, const std::string& folder);

// The folder `name` beside the file `file` (a full path with '/' or '\' between its folders), in
// the program's form with '/': "C:\Games\x.exe" and "data" give "C:/Games/data". Empty when `file`
// names no folder.
std::string folderBeside(const std::string& file, const std::string& name);

// `path` in the folder this build reads its pictures from: on Windows data\ beside the executable;
// elsewhere the FIVEINAROW_DATA_DIR setting of the build, data/ under the working directory
// unless the build names another folder.
std::string picturePath(const std::string& path);

// Loads a picture, "data/<file>", from the pictures' folder; the caller owns it. Throws
// System::Exception "Load bitmap <path looked for>" on failure.
BITMAP* loadBitmap(const char* path);

}  // namespace System
