// A whole run of the program with a save, in a home of its own. The home is
// set before the application object is made, so whatever Qt or the program
// would keep there at any point of the run lands in it.

#include "support/AppRun.h"
#include "support/DialogDriver.h"
#include "support/Drops.h"

#include <QDirIterator>
#include <QImage>
#include <QLineEdit>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// A fresh home and a fresh configuration folder beside it; the cache, data
// and state folders default to places inside the home.
struct FreshHome {
    QTemporaryDir root;
    FreshHome()
    {
        QDir(root.path()).mkpath("home");
        QDir(root.path()).mkpath("config");
        qputenv("HOME", root.filePath("home").toUtf8());
        qputenv("XDG_CONFIG_HOME", root.filePath("config").toUtf8());
        for (char const* name : { "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME" })
            qunsetenv(name);
    }
    // Every file and folder under the root, hidden ones too.
    std::string entries() const
    {
        QStringList found;
        QDirIterator it(root.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext())
            found << QDir(root.path()).relativeFilePath(it.next());
        found.sort();
        return found.join(", ").toStdString();
    }
};

// Made before main() makes the application object.
FreshHome const freshHome;

TEST(NothingKept, ARunWithASaveLeavesThePictureAndNothingElseInTheHome)
{
    QTemporaryDir inputs;
    QImage white(6, 4, QImage::Format_ARGB32), black(6, 4, QImage::Format_ARGB32);
    white.fill(QColor(220, 210, 200));
    black.fill(QColor(40, 30, 20));
    ASSERT_TRUE(white.save(inputs.filePath("white.png")));
    ASSERT_TRUE(black.save(inputs.filePath("black.png")));

    DialogDriver driver;
    // Two saves: the second dialog is made after the first one went.
    driver.next(save);
    driver.next([](QFileDialog& dialog) {
        dialog.findChild<QLineEdit*>("fileNameEdit")->setText("again");
        save(dialog);
    });
    AppRun const run([&] {
        Ref<Window1> const window = Window1::Window1_();
        auto widgetOf = [&](char const* name) { return window->ControlByName_(name)->widget(); };
        dropOn(widgetOf("WhiteInCanvas"), *dragData({ inputs.filePath("white.png") }));
        dropOn(widgetOf("BlackInCanvas"), *dragData({ inputs.filePath("black.png") }));
        for (int click = 0; click < 2; ++click)
            QTest::mouseClick(widgetOf("PushButton1"), Qt::LeftButton);
    });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(driver.takeBoxes(), std::vector<QString> {});
    EXPECT_EQ(freshHome.entries(), "config, home, home/again.png, home/vantrel.png");
}

}
