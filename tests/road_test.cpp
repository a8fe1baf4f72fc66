#include "matte/MatteArithmetic.h"
#include "runtime/BackgroundTask.h"
#include "runtime/RGBSurface.h"
#include "runtime/Runtime.h"
#include "support/DialogDriver.h"
#include "support/AddressSpaceLimit.h"
#include "support/Drops.h"
#include "support/MainWindow.h"
#include "support/Raises.h"

#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

namespace {

QImage solid(int width, int height, QColor color)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(color);
    return image;
}

struct Road : MainWindow {
    QTemporaryDir folder;
    std::vector<String> reports;

    void SetUp() override
    {
        MainWindow::SetUp();
        RuntimeSetUnhandledExceptionPresenter([this](Ref<RuntimeException> const& e) { reports.push_back(e->classRecord().name + ": " + e->Message); });
    }
    void TearDown() override
    {
        RuntimeSetUnhandledExceptionPresenter([](Ref<RuntimeException> const&) { });
        MainWindow::TearDown();
    }

    QString file(QString const& name, QImage const& image)
    {
        QString const path = folder.filePath(name);
        EXPECT_TRUE(image.save(path));
        return path;
    }
    QString garbage(QString const& name)
    {
        QString const path = folder.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("this is not a picture at all");
        return path;
    }
    bool drop(char const* canvas, QStringList const& files, QImage const& image = {})
    {
        return dropOn(widgetOf(canvas), *dragData(files, image));
    }
    long paints(char const* canvas) const { return count("Control event", { canvas, "Paint" }); }
    bool buttonEnabled() { return widgetOf("PushButton1")->isEnabled(); }
};

TEST_F(Road, WhiteThenBlackFileGiveTheResultEnableTheButtonAndRepaint)
{
    EXPECT_TRUE(drop("WhiteInCanvas", { file("white.png", solid(40, 30, QColor(200, 200, 200))) }));
    EXPECT_TRUE(window->whitepicture);
    EXPECT_TRUE(window->alphapicture.isNil());
    EXPECT_FALSE(buttonEnabled());

    long const before = paints("AlphaCanvas");
    EXPECT_TRUE(drop("BlackInCanvas", { file("black.png", solid(40, 30, QColor(100, 100, 100))) }));
    ASSERT_TRUE(window->alphapicture);
    EXPECT_EQ(window->alphapicture->Width(), 40);
    EXPECT_EQ(window->alphapicture->RGBSurface()->Pixel(5, 5), colorOfStoredPixel(MatteTable::instance().compose(0xFF646464u, 0xFFC8C8C8u)));
    EXPECT_TRUE(buttonEnabled());
    QApplication::processEvents();
    EXPECT_GT(paints("AlphaCanvas"), before);
    EXPECT_NE(content()->grab().toImage().pixelColor(526 + 120, 14 + 80), QColor(128, 128, 128));
    EXPECT_TRUE(reports.empty());
}

TEST_F(Road, PictureDataWorksLikeAFileAndIsCopied)
{
    QImage const white = solid(8, 4, QColor(250, 250, 250));
    EXPECT_TRUE(drop("WhiteInCanvas", {}, white));
    EXPECT_TRUE(drop("BlackInCanvas", {}, solid(8, 4, QColor(0, 0, 0))));
    ASSERT_TRUE(window->alphapicture);
    EXPECT_EQ(window->whitepicture->Width(), 8);
    EXPECT_EQ(window->whitepicture->RGBSurface()->Pixel(7, 3), RGB(250, 250, 250));
    EXPECT_TRUE(window->whitepicture->isKindOf(Picture::Lookup_()));
    EXPECT_TRUE(buttonEnabled());
}

TEST_F(Road, FileWinsOverPictureDataEvenWhenItDoesNotDecode)
{
    EXPECT_TRUE(drop("WhiteInCanvas", { file("red.png", solid(3, 3, Qt::red)) }, solid(5, 5, Qt::blue)));
    ASSERT_TRUE(window->whitepicture);
    EXPECT_EQ(window->whitepicture->Width(), 3);
    EXPECT_EQ(window->whitepicture->RGBSurface()->Pixel(0, 0), RGB(255, 0, 0));

    Ref<Picture> const kept = window->whitepicture;
    EXPECT_TRUE(drop("WhiteInCanvas", { garbage("broken.png") }, solid(5, 5, Qt::blue)));
    EXPECT_EQ(window->whitepicture.get(), kept.get());
}

TEST_F(Road, PictureDataBesideAFileIsNotConverted)
{
    // The file wins, so the picture data is never made a picture: a drop of
    // both makes as many pictures as a drop of the file alone.
    QString const red = file("red.png", solid(3, 3, Qt::red));
    long const before = count("RuntimeNewObject", { "Picture" });
    EXPECT_TRUE(drop("BlackInCanvas", { red }));
    long const forTheFile = count("RuntimeNewObject", { "Picture" }) - before;
    EXPECT_EQ(forTheFile, 2) << "the file's picture and its copy";
    EXPECT_TRUE(drop("BlackInCanvas", { red }, solid(5, 5, Qt::blue)));
    EXPECT_EQ(count("RuntimeNewObject", { "Picture" }) - before, 2 * forTheFile);
    EXPECT_EQ(window->blackpicture->Width(), 3);

    // Picture data that could not be converted in the memory left does not
    // fail a drop that its file serves.
    QImage large(16000, 16000, QImage::Format_Mono);
    large.fill(1);
    QString const green = file("green.png", solid(4, 4, Qt::green));
    auto const data = dragData({ green }, large);
    {
        AddressSpaceLimit const bound(64);
        EXPECT_TRUE(dropOn(widgetOf("WhiteInCanvas"), *data));
    }
    QApplication::processEvents();
    EXPECT_TRUE(reports.empty()) << reports.front();
    ASSERT_TRUE(window->whitepicture);
    EXPECT_EQ(window->whitepicture->RGBSurface()->Pixel(0, 0), RGB(0, 255, 0));
}

TEST_F(Road, ADropThatTakesNothingStillRecomputes)
{
    drop("WhiteInCanvas", { file("w.png", solid(4, 4, Qt::white)) });
    drop("BlackInCanvas", { file("b.png", solid(4, 4, Qt::black)) });
    Ref<Picture> const first = window->alphapicture;
    ASSERT_TRUE(first);
    EXPECT_TRUE(drop("BlackInCanvas", { garbage("junk.jpg") }));
    ASSERT_TRUE(window->alphapicture);
    EXPECT_NE(window->alphapicture.get(), first.get());
    EXPECT_EQ(window->alphapicture->RGBSurface()->Pixel(1, 1), first->RGBSurface()->Pixel(1, 1));
}

TEST_F(Road, OneInputAloneGivesNoResult)
{
    drop("BlackInCanvas", { file("b.png", solid(4, 4, Qt::black)) });
    drop("BlackInCanvas", { file("b2.png", solid(6, 6, Qt::black)) });
    EXPECT_TRUE(window->alphapicture.isNil());
    EXPECT_FALSE(buttonEnabled());
    EXPECT_EQ(window->blackpicture->Width(), 6);
    EXPECT_EQ(content()->grab().toImage().pixelColor(526 + 120, 14 + 80), QColor(128, 128, 128));
}

TEST_F(Road, DropsOnTheResultCanvasOrALabelOrOfOtherFilesAreRefused)
{
    QString const png = file("w.png", solid(4, 4, Qt::white));
    EXPECT_FALSE(drop("AlphaCanvas", { png }, solid(4, 4, Qt::white)));
    EXPECT_FALSE(drop("Label3", { png }));
    QString const text = folder.filePath("notes.txt");
    QFile(text).open(QIODevice::WriteOnly);
    EXPECT_FALSE(drop("WhiteInCanvas", { text }));
    EXPECT_TRUE(drop("WhiteInCanvas", { file("UPPER.PNG", solid(2, 2, Qt::white)) }));
    EXPECT_EQ(count("Control event", { "AlphaCanvas", "DropObject" }), 0);
}

TEST_F(Road, SecondDropReplacesTheInputAndRecomputesFromTheNewPair)
{
    drop("WhiteInCanvas", { file("w.png", solid(4, 4, Qt::white)) });
    drop("BlackInCanvas", { file("b.png", solid(4, 4, Qt::black)) });
    EXPECT_EQ(window->alphapicture->RGBSurface()->Pixel(0, 0), RGB(0, 0, 0, 255));
    drop("BlackInCanvas", { file("b2.png", solid(10, 2, Qt::white)) });
    EXPECT_EQ(window->blackpicture->Width(), 10);
    EXPECT_EQ(window->alphapicture->Width(), 10);
    EXPECT_EQ(window->alphapicture->Height(), 4);
    EXPECT_EQ(window->alphapicture->RGBSurface()->Pixel(0, 0), RGB(255, 255, 255, 0));
}

TEST_F(Road, OnlyTheFirstOfSeveralFilesIsTaken)
{
    drop("WhiteInCanvas", { file("a.png", solid(3, 2, Qt::white)), file("b.png", solid(9, 9, Qt::white)) });
    ASSERT_TRUE(window->whitepicture);
    EXPECT_EQ(window->whitepicture->Width(), 3);
}

TEST_F(Road, PictureDataIsTakenWhenTheFileBesideItIsNotOfAnAcceptedType)
{
    QString const text = folder.filePath("notes.txt");
    QFile(text).open(QIODevice::WriteOnly);
    EXPECT_TRUE(drop("WhiteInCanvas", { text }, solid(6, 2, Qt::white)));
    ASSERT_TRUE(window->whitepicture);
    EXPECT_EQ(window->whitepicture->Width(), 6);
}

TEST_F(Road, NoDropAndNoCloseTakesEffectWhileAComputationLetsEventsRun)
{
    // Large enough that the computation passes a yield point that lets
    // events run, some 30 ms in.
    window->whitepicture = Picture::create(4000, 3000);
    window->blackpicture = Picture::create(4000, 3000);
    Ref<Picture> const white = window->whitepicture;
    bool accepted = true;
    bool ran = false;
    WeakRef<Window1> watched(window);
    QTimer::singleShot(0, [&] {
        ran = true;
        accepted = drop("WhiteInCanvas", { file("late.png", solid(4, 4, Qt::white)) });
        window->widget()->close();
    });
    window->Process();
    ASSERT_TRUE(ran) << "no events ran during the computation";
    EXPECT_FALSE(accepted);
    EXPECT_EQ(window->whitepicture.get(), white.get());
    EXPECT_EQ(window->alphapicture->Width(), 4000);
    // The close takes effect once the computation is over.
    window = nullptr;
    EXPECT_FALSE(watched.lock().isNil());
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_TRUE(watched.lock().isNil());
}

TEST_F(Road, APictureTooLargeToCopyIsReportedAndChangesNothing)
{
    drop("WhiteInCanvas", { file("w.png", solid(4, 4, Qt::white)) });
    Ref<Picture> const kept = window->whitepicture;
    EXPECT_TRUE(drop("WhiteInCanvas", {}, solid(32768, 1, Qt::white)));
    QApplication::processEvents(); // the report shows once the drop is over
    EXPECT_EQ(window->whitepicture.get(), kept.get());
    EXPECT_EQ(reports, std::vector<String> { "OutOfBoundsException: Width/Height needs to be in the range 1-32767" });
    EXPECT_TRUE(window->alphapicture.isNil());

    // A file of such a picture is refused as it is opened, with the same
    // answer.
    reports.clear();
    QImage wide(40000, 8, QImage::Format_Mono);
    wide.fill(0);
    EXPECT_TRUE(drop("WhiteInCanvas", { file("wide.png", wide) }));
    QApplication::processEvents();
    EXPECT_EQ(window->whitepicture.get(), kept.get());
    EXPECT_EQ(reports, std::vector<String> { "OutOfBoundsException: Width/Height needs to be in the range 1-32767" });
    EXPECT_TRUE(window->alphapicture.isNil());
}

// Pictures held elsewhere take all but a sliver of the memory that pictures
// may have: not even a small picture can be made while they live.
std::vector<Ref<Picture>> holdAlmostAllPictureMemory()
{
    constexpr std::size_t side = Picture::MaximumSide;
    std::vector<Ref<Picture>> held;
    for (;;) {
        std::size_t const left = Picture::memoryBudget() - Picture::heldBytes();
        if (left < (std::size_t { 192 } << 10))
            return held;
        std::size_t const pixels = std::min(side * side, left / 4 - 16384);
        std::size_t const height = (pixels + side - 1) / side;
        held.push_back(Picture::create(static_cast<std::int32_t>(pixels / height), static_cast<std::int32_t>(height)));
    }
}

TEST_F(Road, AFailedComputationClearsTheResultDisablesTheButtonAndSaysSo)
{
    ASSERT_LT(Picture::memoryBudget(), std::size_t { 1 } << 42);
    drop("WhiteInCanvas", { file("w.png", solid(256, 256, Qt::white)) });
    drop("BlackInCanvas", { file("b.png", solid(256, 256, QColor(40, 40, 40))) });
    ASSERT_TRUE(window->alphapicture);
    ASSERT_TRUE(buttonEnabled());

    std::vector<Ref<Picture>> held = holdAlmostAllPictureMemory();
    EXPECT_TRUE(drop("BlackInCanvas", { garbage("junk.png") })); // takes nothing, computes again
    held.clear();
    QApplication::processEvents(); // the report shows once the drop is over
    EXPECT_TRUE(window->alphapicture.isNil());
    EXPECT_FALSE(buttonEnabled());
    EXPECT_EQ(content()->grab().toImage().pixelColor(526 + 120, 14 + 80), QColor(128, 128, 128));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].rfind("OutOfMemoryException: The result could not be computed: There is not enough memory", 0), 0u) << reports[0];
}

struct Fit {
    int width, height;
    QRect drawn; // empty: only the ground shows
};

TEST_F(Road, PaintScalesThePictureToFitAndCentresIt)
{
    for (Fit const& fit : std::vector<Fit> { { 1, 1, QRect(40, 0, 160, 160) }, { 60, 40, QRect(0, 0, 240, 160) },
             { 120, 160, QRect(60, 0, 120, 160) }, { 960, 320, QRect(0, 40, 240, 80) }, { 32767, 1, QRect() } }) {
        Ref<Picture> picture = Picture::create(fit.width, fit.height);
        picture->Graphics()->ForeColor(RGB(255, 0, 0));
        picture->Graphics()->FillRect(0, 0, fit.width, fit.height);
        window->whitepicture = picture;
        QImage const shot = widgetOf("WhiteInCanvas")->grab().toImage();
        QRect found;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                if (shot.pixelColor(x, y) == QColor(255, 0, 0))
                    found |= QRect(x, y, 1, 1);
                else
                    EXPECT_EQ(shot.pixelColor(x, y), QColor(255, 255, 255)) << fit.width << " at " << x << "," << y;
        EXPECT_EQ(found, fit.drawn) << fit.width << " x " << fit.height;
    }
}

struct Saving : Road {
    QString pictures;
    void SetUp() override
    {
        // The Pictures folder, as the desktop names it.
        qputenv("XDG_CONFIG_HOME", folder.filePath("config").toUtf8());
        QDir().mkpath(folder.filePath("config"));
        QDir().mkpath(folder.filePath("Pictures"));
        pictures = QDir(folder.filePath("Pictures")).canonicalPath();
        QFile dirs(folder.filePath("config/user-dirs.dirs"));
        dirs.open(QIODevice::WriteOnly);
        dirs.write(("XDG_PICTURES_DIR=\"" + pictures + "\"\n").toUtf8());
        dirs.close();
        Road::SetUp();
        drop("WhiteInCanvas", { file("w.png", solid(5, 3, QColor(230, 200, 180))) });
        QImage black = solid(5, 3, QColor(30, 20, 10));
        black.setPixelColor(0, 0, QColor(0, 0, 0));
        drop("BlackInCanvas", { file("b.png", black) });
    }
    void TearDown() override
    {
        Road::TearDown();
        qunsetenv("XDG_CONFIG_HOME");
    }
    DialogDriver driver;
    void whenDialogOpens(std::function<void(QFileDialog&)> act) { driver.next(std::move(act)); }
    void click()
    {
        QTest::mouseClick(widgetOf("PushButton1"), Qt::LeftButton);
        EXPECT_EQ(driver.takeBoxes(), std::vector<QString> {});
    }
    void expectSavedResult(QString const& path)
    {
        QImage const saved = QImage(path).convertToFormat(QImage::Format_ARGB32);
        ASSERT_FALSE(saved.isNull()) << path.toStdString();
        Ref<Picture> const result = window->alphapicture;
        ASSERT_EQ(saved.size(), QSize(result->Width(), result->Height()));
        for (int y = 0; y < saved.height(); ++y)
            for (int x = 0; x < saved.width(); ++x)
                EXPECT_EQ(colorOfStoredPixel(saved.pixel(x, y)), result->RGBSurface()->Pixel(x, y)) << x << "," << y;
    }
};

TEST_F(Saving, DialogOpensInPicturesWithTheNameAndWritesTheResultExactly)
{
    bool seen = false;
    whenDialogOpens([&](QFileDialog& dialog) {
        seen = true;
        EXPECT_EQ(dialog.windowTitle(), "Save");
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
        EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
        EXPECT_EQ(dialog.directory().canonicalPath(), pictures);
        EXPECT_EQ(dialog.findChild<QLineEdit*>("fileNameEdit")->text(), "vantrel.png");
        EXPECT_EQ(dialog.labelText(QFileDialog::FileName), "Save as PNG");
        EXPECT_EQ(dialog.nameFilters(), QStringList { "image/png (*.png)" });
        save(dialog);
    });
    click();
    EXPECT_TRUE(seen);
    expectSavedResult(pictures + "/vantrel.png");
    EXPECT_GT(window->alphapicture->RGBSurface()->Pixel(0, 0).Transparency(), 0); // the file carries alpha
    EXPECT_TRUE(reports.empty());
}

TEST_F(Saving, CancelWritesNothingAndATypedNameGetsTheExtension)
{
    whenDialogOpens([](QFileDialog& dialog) { cancel(dialog); });
    click();
    EXPECT_TRUE(QDir(pictures).isEmpty());

    whenDialogOpens([](QFileDialog& dialog) {
        dialog.findChild<QLineEdit*>("fileNameEdit")->setText("cutout");
        save(dialog);
    });
    click();
    expectSavedResult(pictures + "/cutout.png");
}

TEST_F(Saving, SecondSaveWritesTheCurrentResult)
{
    whenDialogOpens([](QFileDialog& dialog) { save(dialog); });
    click();
    drop("BlackInCanvas", { file("b3.png", solid(7, 7, QColor(90, 90, 90))) });
    whenDialogOpens([this](QFileDialog& dialog) {
        dialog.findChild<QLineEdit*>("fileNameEdit")->setText(pictures + "/second.png");
        save(dialog);
    });
    click();
    expectSavedResult(pictures + "/second.png");
    EXPECT_EQ(QImage(pictures + "/second.png").width(), 7);
}

// A click that reaches the window through the platform while a save lets
// events run is dropped: no second dialog opens, then or afterwards.
TEST_F(Saving, AClickOnTheButtonDuringASaveOpensNoDialog)
{
    window->alphapicture = Picture::create(4000, 3000);
    window->alphapicture->Graphics()->ForeColor(RGB(20, 140, 220, 60));
    window->alphapicture->Graphics()->FillRect(0, 0, 4000, 3000);
    int dialogs = 0;
    whenDialogOpens([&](QFileDialog& dialog) {
        ++dialogs;
        save(dialog);
    });
    whenDialogOpens([&](QFileDialog& dialog) {
        ++dialogs;
        cancel(dialog);
    });
    QWidget* const top = window->widget();
    QWidget* const button = widgetOf("PushButton1");
    bool clickedDuringSave = false;
    QTimer during;
    QObject::connect(&during, &QTimer::timeout, [&] {
        if (clickedDuringSave || !background_task::yielding())
            return;
        clickedDuringSave = true;
        QTest::mouseClick(top->windowHandle(), Qt::LeftButton, {}, button->mapTo(top, button->rect().center()));
    });
    during.start(1);
    click();
    QTest::qWait(100);
    ASSERT_TRUE(clickedDuringSave) << "no events ran during the save";
    EXPECT_EQ(dialogs, 1);
    QImage const saved(pictures + "/vantrel.png");
    EXPECT_EQ(saved.size(), QSize(4000, 3000));
}

TEST_F(Saving, ReplacingAFileAsksFirstAndOnlyYesReplacesIt)
{
    QString const target = pictures + "/vantrel.png";
    auto contentOf = [&] {
        QFile file(target);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    {
        QFile old(target);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("the user's own file");
    }
    QPushButton* const button = qobject_cast<QPushButton*>(widgetOf("PushButton1"));

    // "No" keeps the file; the user then leaves the dialog.
    driver.answerBoxesWith(QMessageBox::No);
    whenDialogOpens([this](QFileDialog& dialog) {
        if (driver.boxesSeen() == 0)
            save(dialog);
        else
            cancel(dialog);
    });
    QTest::mouseClick(button, Qt::LeftButton);
    std::vector<QString> boxes = driver.takeBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].contains("already exists")) << boxes[0].toStdString();
    EXPECT_EQ(contentOf(), "the user's own file");

    // "Yes" replaces it with the result.
    driver.answerBoxesWith(QMessageBox::Yes);
    whenDialogOpens([](QFileDialog& dialog) { save(dialog); });
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(driver.takeBoxes().size(), 1u);
    expectSavedResult(target);
    EXPECT_TRUE(reports.empty());
}

TEST_F(Saving, AFolderThatCannotBeWrittenIsReportedAndLeavesNoFile)
{
    whenDialogOpens([](QFileDialog& dialog) {
        dialog.findChild<QLineEdit*>("fileNameEdit")->setText("/proc/vantrel-cannot-write-here.png");
        save(dialog);
    });
    click();
    QApplication::processEvents();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].rfind("IOException: ", 0), 0u) << reports[0];
    EXPECT_FALSE(QFile::exists("/proc/vantrel-cannot-write-here.png"));
}

}
