// The error type, path translation and picture loading.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "allegro_fixture.h"
#include "picture_folder.h"
#include "system.h"

namespace {

TEST(ExceptionTest, KeepsOnlyTheFirst255Characters) {
    std::string longText(300, 'a');
    longText[254] = 'b';
    longText[255] = 'c';
    System::Exception e("%s", longText.c_str());
    ASSERT_EQ(e.message().size(), 255u);
    EXPECT_EQ(e.message().back(), 'b');
    System::Exception exact("%s", std::string(255, 'z').c_str());
    EXPECT_EQ(exact.message(), std::string(255, 'z'));
}

TEST(ExceptionTest, PrintWritesOneErrorLineToStandardError) {
    testing::internal::CaptureStderr();
    System::Exception("Init graphix mode 800x600x24").print();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: Init graphix mode 800x600x24\n");
}

TEST(TranslatePathTest, GivesANewCopyInTheSystemsSeparators) {
#ifdef _WIN32
    const char* const native = "data\\ptr.tga";
#else
    const char* const native = "data/ptr.tga";
#endif
    const std::pair<const char*, const char*> cases[] = {
        {"data/ptr.tga", native}, {"noslash", "noslash"}, {"", ""}};
    for (const auto& c : cases) {
        char* copy = System::translatePath(c.first);
        EXPECT_STREQ(copy, c.second);
        EXPECT_NE(static_cast<const void*>(copy), static_cast<const void*>(c.first));
        delete[] copy;
    }
}

TEST(LoadBitmapTest, MissingPictureThrowsWithThePathLookedFor) {
    Testing::startAllegroWithoutDisplay();
    try {
        System::loadBitmap("data/no_such_picture.tga");
        FAIL() << "no exception";
    } catch (System::Exception e) {
        // data/... from the repository's build, the installed folder from the package's, the
        // data folder beside the executable on Windows.
        EXPECT_EQ(e.message(), "Load bitmap " + System::picturePath("data/no_such_picture.tga"));
    }
}

}  // namespace
