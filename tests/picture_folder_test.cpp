// The pictures' folder: data/ under the working directory, or the folder a build names.
#include <gtest/gtest.h>

#include "picture_folder.h"

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

TEST(PictureFolderTest, ThisBuildReadsFromItsFolder) {
    // data/ for a build that runs from the repository (the window tests), the installed folder
    // for the package's build.
    const std::string folder = FIVEINAROW_DATA_DIR;
    EXPECT_EQ(System::picturePath("data/ptr.tga"),
              folder.empty() ? "data/ptr.tga" : folder + "/ptr.tga");
}

}  // namespace
