// The pictures' folder: data/ under the working directory, the folder a build names, or the one
// beside the executable.
#include <gtest/gtest.h>

#include "picture_folder.h"
#include "platform.h"

// The build names the folder it reads its pictures from; empty: data/ under the working
// directory.
#ifndef FIVEINAROW_DATA_DIR
#define FIVEINAROW_DATA_DIR ""
#endif

namespace {

TEST(PictureFolderTest, WithoutAFolderPathsStayUnderData) {
    EXPECT_EQ(System::inPictureFolder("data/ptr.tga", ""), "data/ptr.tga");
}

TEST(PictureFolderTest, AFolderTakesThePlaceOfData) {
    const std::string folder = "/usr/share/games/fiveinarow";
    EXPECT_EQ(System::inPictureFolder("data/ptr.tga", folder),
              "/usr/share/games/fiveinarow/ptr.tga");
    EXPECT_EQ(System::inPictureFolder("data/menu.tga", folder + "/"),
              "/usr/share/games/fiveinarow/menu.tga");
}

TEST(PictureFolderTest, OnlyALeadingDataFolderIsReplaced) {
    EXPECT_EQ(System::inPictureFolder("other/data/ptr.tga", "/pictures"), "other/data/ptr.tga");
    EXPECT_EQ(System::inPictureFolder("database.tga", "/pictures"), "database.tga");
    EXPECT_EQ(System::inPictureFolder("/abs/ptr.tga", "/pictures"), "/abs/ptr.tga");
}

TEST(PictureFolderTest, TheFolderBesideAnExecutableInEitherSeparator) {
    const std::string windows = R"(C:\Games\Five in a row\fiveinarow.exe)";
    EXPECT_EQ(System::folderBeside(windows, "data"), "C:/Games/Five in a row/data");
    EXPECT_EQ(System::inPictureFolder("data/ptr.tga", System::folderBeside(windows, "data")),
              "C:/Games/Five in a row/data/ptr.tga");
    EXPECT_EQ(System::folderBeside(R"(\\server\games\fiveinarow.exe)", "data"),
              "//server/games/data");
    EXPECT_EQ(System::folderBeside("/usr/games/fiveinarow", "data"), "/usr/games/data");
    EXPECT_EQ(System::folderBeside("/fiveinarow", "data"), "/data");
    EXPECT_EQ(System::folderBeside("fiveinarow.exe", "data"), "");
    EXPECT_EQ(System::folderBeside("", "data"), "");
}

TEST(PictureFolderTest, ThisBuildReadsFromItsFolder) {
    if (Platform::picturesBesideExecutable()) {
        EXPECT_EQ(System::picturePath("data/ptr.tga"),
                  System::folderBeside(Platform::executablePath(), "data") + "/ptr.tga");
        return;
    }
    // data/ for a build that runs from the repository (the window tests), the installed folder
    // for the package's build.
    const std::string folder = FIVEINAROW_DATA_DIR;
    EXPECT_EQ(System::picturePath("data/ptr.tga"),
              folder.empty() ? "data/ptr.tga" : folder + "/ptr.tga");
}

}  // namespace
