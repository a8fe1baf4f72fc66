#include "runtime/Application.h"
#include "runtime/FileType.h"
#include "shell/App.h"
#include "shell/Imagetypes.h"
#include "shell/MenuBar1.h"
#include "support/AppRun.h"
#include "support/Raises.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QTest>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QMenuBar>

#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>

namespace {

std::vector<String> const typeNames { "image/png", "image/jpeg", "image/tiff", "image/pict", "image/gif", "image/x-bmp", "image/x-targa" };

// The seven file types, in the order they are defined and registered.
struct TypeRow {
    Ref<FileType>& global;
    char const* globalName;
    char const* name;
    char const* extensions;
    char const* macType;
    char const* macCreator;
};

TypeRow const typeRows[] {
    { Imagetypes::pPng, "pPng", "image/png", ".png", "PNGf", "ogle" },
    { Imagetypes::pJpeg, "pJpeg", "image/jpeg", ".jfif;.jpe;.jpeg;.jpg", "JPEG", "prvw" },
    { Imagetypes::pImageTiff, "pImageTiff", "image/tiff", ".jfx;.tif;.tiff", "TIFF", "????" },
    { Imagetypes::pImagePict, "pImagePict", "image/pict", ".pict;.pic;.pct", "PICT", "ttxt" },
    { Imagetypes::pImageGif, "pImageGif", "image/gif", ".gif", "GIFf", "prvw" },
    { Imagetypes::pImageXBmp, "pImageXBmp", "image/x-bmp", ".bmp;.dib", "BMPf", "ogle" },
    { Imagetypes::pImageXTarga, "pImageXTarga", "image/x-targa", ".targa;.tga", "TPIC", "ogle" },
};

TEST(Imagetypes, EachGlobalHoldsItsTypeRegisteredUnderItsName)
{
    Imagetypes::Initialize_();
    for (TypeRow const& row : typeRows) {
        ASSERT_FALSE(row.global.isNil()) << row.globalName;
        EXPECT_EQ(row.global->Name(), row.name) << row.globalName;
        EXPECT_EQ(row.global->Extensions(), row.extensions) << row.globalName;
        EXPECT_EQ(row.global->MacType(), row.macType) << row.globalName;
        EXPECT_EQ(row.global->MacCreator(), row.macCreator) << row.globalName;
        EXPECT_TRUE(RuntimeFindFileType(row.name).has_value()) << row.globalName;
    }
    for (auto release : { Imagetypes::pPng_Exit_, Imagetypes::pJpeg_Exit_, Imagetypes::pImageTiff_Exit_, Imagetypes::pImagePict_Exit_,
             Imagetypes::pImageGif_Exit_, Imagetypes::pImageXBmp_Exit_, Imagetypes::pImageXTarga_Exit_ })
        release();
    for (TypeRow const& row : typeRows) {
        EXPECT_TRUE(row.global.isNil()) << row.globalName;
        EXPECT_FALSE(RuntimeFindFileType(row.name).has_value()) << row.globalName;
    }
}

std::vector<String> namesOf(std::vector<RecordedCall> const& calls)
{
    std::vector<String> names;
    for (RecordedCall const& call : calls)
        names.push_back(call.arguments.at(0));
    return names;
}

TEST(StartUp, RegistersTypesThenMakesTheAppWithItsBarThenTheWindow)
{
    AppRun const run;
    EXPECT_EQ(run.status, 0);

    std::vector<std::vector<String>> registrations;
    for (RecordedCall const& call : run.only("RuntimeRegisterFileType"))
        registrations.push_back(call.arguments);
    std::vector<std::vector<String>> expected;
    for (TypeRow const& row : typeRows)
        expected.push_back({ row.name, row.macCreator, row.macType, row.extensions });
    EXPECT_EQ(registrations, expected);

    long const lastRegistration = run.indexOf("RuntimeRegisterFileType", { "image/x-targa" });
    long const app = run.indexOf("RuntimeNewObject", { "App" });
    long const bar = run.indexOf("RuntimeNewObject", { "MenuBar1.MenuBar1" });
    long const appBar = run.indexOf("Application.MenuBar", { "MenuBar1.MenuBar1" });
    long const registered = run.indexOf("RuntimeRegisterAppObject", { "App" });
    long const window = run.indexOf("RuntimeNewObject", { "Window1.Window1" });
    long const windowBar = run.indexOf("Window.MenuBar", { "MenuBar1.MenuBar1" });
    long const loop = run.indexOf("RuntimeRun");
    EXPECT_LT(run.indexOf("RuntimeSetExceptionHelper"), run.indexOf("RunFrameworkInitialization"));
    EXPECT_LT(lastRegistration, app);
    EXPECT_LT(app, bar);
    EXPECT_LT(bar, appBar);
    EXPECT_LT(appBar, registered);
    EXPECT_LT(registered, window);
    EXPECT_LT(window, windowBar);
    EXPECT_LT(run.indexOf("RunFrameworkInitialization done"), loop);
    EXPECT_EQ(run.count("RuntimeNewObject", { "MenuBar1.MenuBar1" }), 1);
    EXPECT_EQ(run.count("RuntimeNewObject", { "App" }), 1);
    EXPECT_EQ(run.count("RuntimeNewObject", { "Window1.Window1" }), 1);
    EXPECT_EQ(run.count("RuntimeAllocatePluginEntrypointsTable", { "0" }), 1);
}

TEST(StartUp, AppAndWindowShareOneBarAndStayAliveThroughTheRun)
{
    bool checked = false;
    AppRun const run([&] {
        Ref<Application> app = RuntimeApplicationObject();
        Ref<Window1> window = Window1::Window1_();
        ASSERT_TRUE(app);
        EXPECT_TRUE(app->isKindOf(App::Lookup_()));
        EXPECT_EQ(app->MenuBar().get(), MenuBar1::implicitInstance_.get());
        EXPECT_EQ(window->MenuBar().get(), MenuBar1::implicitInstance_.get());
        EXPECT_EQ(MenuBar1::MenuBar1_().get(), MenuBar1::implicitInstance_.get());
        EXPECT_EQ(Window1::Window1_().get(), window.get());
        checked = true;
    });
    EXPECT_TRUE(checked);
    EXPECT_EQ(run.count("RuntimeNewObject", { "MenuBar1.MenuBar1" }), 1);
    EXPECT_EQ(run.count("RuntimeNewObject", { "Window1.Window1" }), 1);
}

TEST(ShutDown, ReleasesFrameworkGlobalsThenTheBarThenTheTypesInOrder)
{
    AppRun const run;
    long const loopEnd = run.indexOf("RuntimeRun done");
    long const globals = run.indexOf("RuntimeReleaseFrameworkGlobals");
    long const windowFreed = run.indexOf("Free", { "Window1.Window1" });
    long const barFreed = run.indexOf("Free", { "MenuBar1.MenuBar1" });
    long const firstDeregistration = run.indexOf("RuntimeDeregisterFileType");
    long const exit = run.indexOf("RuntimeExit");
    EXPECT_LT(loopEnd, globals);
    EXPECT_LT(globals, windowFreed);
    EXPECT_LT(windowFreed, barFreed);
    EXPECT_LT(barFreed, firstDeregistration);
    EXPECT_EQ(namesOf(run.only("RuntimeDeregisterFileType")), typeNames);
    EXPECT_LT(run.indexOf("RuntimeDeregisterFileType", { "image/x-targa" }), exit);
    EXPECT_EQ(run.only("RuntimeExit").at(0).arguments, std::vector<String> { "0" });

    EXPECT_TRUE(MenuBar1::implicitInstance_.isNil());
    for (Ref<FileType>* global : { &Imagetypes::pPng, &Imagetypes::pJpeg, &Imagetypes::pImageTiff, &Imagetypes::pImagePict,
             &Imagetypes::pImageGif, &Imagetypes::pImageXBmp, &Imagetypes::pImageXTarga })
        EXPECT_TRUE(global->isNil());
    EXPECT_TRUE(RuntimeApplicationObject().isNil());
    EXPECT_TRUE(RuntimeGetImplicitWindow("Window1.Window1").isNil());
    EXPECT_FALSE(RuntimeFindFileType("image/png").has_value());
}

TEST(ShutDown, ClosingTheWindowEndsTheRun)
{
    AppRun const run([] { Window1::Window1_()->widget()->close(); });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.count("QuitMenuAction"), 0);
    EXPECT_EQ(run.count("Free", { "Window1.Window1" }), 1);
}

// The program started as a user would, in a session without the display
// that the environment names (or none at all).
struct Launch {
    char const* display; // nullptr: DISPLAY is not set
    char const* says;
};

TEST(StartUp, WithoutADisplayTheProgramSaysSoInOneLineAndEndsWithStatusOne)
{
    for (Launch const& launch : { Launch { nullptr, "Vantrel needs a graphical desktop: no display was found (DISPLAY is not set)" },
             Launch { ":97", "Vantrel needs a graphical desktop: the display :97 could not be opened" } }) {
        QProcess app;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (char const* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
            environment.remove(name);
        if (launch.display)
            environment.insert("DISPLAY", launch.display);
        app.setProcessEnvironment(environment);
        app.start(VANTREL_APP, {});
        ASSERT_TRUE(app.waitForFinished(30000));
        EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(app.exitCode(), 1);
        EXPECT_EQ(app.readAllStandardError().toStdString(), String(launch.says) + "\n");
        EXPECT_EQ(app.readAllStandardOutput(), "");
    }
}

TEST(StartUp, ExceptionInInitialisationIsReportedOnceAndShutDownStillRuns)
{
    // The third registration fails, as if the framework had refused it.
    AppRun const run({}, [](RecordedCall const& call) {
        if (call.operation == "RuntimeRegisterFileType" && call.arguments.at(0) == "image/tiff")
            Raise<OutOfBoundsException>("no room for another file type");
    });
    std::vector<RecordedCall> const reports = run.only("UnhandledException");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].arguments, (std::vector<String> { "OutOfBoundsException", "no room for another file type" }));
    EXPECT_EQ(run.indexOf("RuntimeRun"), -1);
    EXPECT_EQ(run.indexOf("RuntimeNewObject", { "App" }), -1);
    EXPECT_LT(run.indexOf("RuntimeReleaseFrameworkGlobals"), run.indexOf("RuntimeDeregisterFileType"));
    EXPECT_EQ(namesOf(run.only("RuntimeDeregisterFileType")), (std::vector<String> { "image/png", "image/jpeg" }));
    EXPECT_NE(run.status, 0);
    EXPECT_TRUE(Imagetypes::pImageTiff.isNil());
}

// What the report box of an uncaught exception showed, read off the real box
// once it is open, and what went to stderr; the box is then closed.
struct ShownReport {
    QString title, text, detail, informative;
    std::string standardError;

    explicit ShownReport(std::function<void()> const& raise)
    {
        RuntimeSetUnhandledExceptionPresenter({}); // the real message box
        QTimer watch; // the box may open some events later
        QObject::connect(&watch, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                title = box->windowTitle();
                text = box->text();
                detail = box->detailedText();
                informative = box->informativeText();
                box->accept();
            }
        });
        watch.start(10);
        std::ostringstream captured;
        std::streambuf* const saved = std::cerr.rdbuf(captured.rdbuf());
        raise();
        std::cerr.rdbuf(saved);
        standardError = captured.str();
        RuntimeSetUnhandledExceptionPresenter([](Ref<RuntimeException> const&) { });
    }
};

TEST(UnhandledExceptions, TheBoxIsTitledLikeTheWindowAndSaysTheMessageWithTheClassAsDetail)
{
    String const message = "The picture could not be saved to /media/card/vantrel.png: No space left on device";
    std::optional<ShownReport> report;
    AppRun const run([&] {
        report.emplace([&] {
            RuntimeRunGuarded([&] { Raise<IOException>(message); });
            QApplication::processEvents(); // the box shows once the handler is over
        });
    });
    ASSERT_TRUE(report);
    EXPECT_EQ(report->title, "Vantrel Effect");
    EXPECT_EQ(report->text.toStdString(), message);
    EXPECT_EQ(report->detail, "IOException");
    EXPECT_EQ(report->informative, "");
    EXPECT_EQ(report->standardError, "Vantrel: unhandled IOException: " + message + "\n");
}

TEST(UnhandledExceptions, WithoutAWindowTheBoxHasTheProgramsNameAndAMessagelessOneShowsTheClass)
{
    QApplication::setApplicationName("Vantrel"); // as start-up names it
    ShownReport const report([] { UnhandledException(RuntimeNewObject<NilObjectException>()); });
    EXPECT_EQ(report.title, "Vantrel");
    EXPECT_EQ(report.text, "NilObjectException");
    EXPECT_EQ(report.detail, "NilObjectException");
    EXPECT_EQ(report.standardError, "Vantrel: unhandled NilObjectException\n");
}

TEST(UnhandledExceptions, AnExceptionEndingAnEventHandlerLeavesTheLoopRunning)
{
    std::vector<String> reports;
    RuntimeSetUnhandledExceptionPresenter([&](Ref<RuntimeException> const& e) { reports.push_back(e->Message); });
    AppRun const run([] {
        // An event handler of the program's, run as the framework runs them:
        // through the exception helper that start-up handed over.
        RuntimeRunGuarded([] { Raise<OutOfBoundsException>("from a handler"); });
        QApplication::processEvents(); // the box shows once the handler is over
    });
    RuntimeSetUnhandledExceptionPresenter([](Ref<RuntimeException> const&) { });
    EXPECT_EQ(reports, std::vector<String> { "from a handler" });
    EXPECT_EQ(run.count("QuitMenuAction"), 1); // the loop went on to the quit
    EXPECT_EQ(run.status, 0);
}

TEST(UnhandledExceptions, AnExceptionThatEndsTheEventLoopEndsTheRunAsAFailure)
{
    std::vector<String> reports;
    RuntimeSetUnhandledExceptionPresenter([&](Ref<RuntimeException> const& e) { reports.push_back(e->Message); });
    // Not through the exception helper: the exception leaves the loop itself.
    AppRun const run([] { Raise<OutOfBoundsException>("out of the loop"); });
    RuntimeSetUnhandledExceptionPresenter([](Ref<RuntimeException> const&) { });
    EXPECT_EQ(reports, std::vector<String> { "out of the loop" });
    EXPECT_EQ(run.indexOf("RuntimeRun done"), -1);
    EXPECT_LT(run.indexOf("UnhandledException"), run.indexOf("RuntimeReleaseFrameworkGlobals"));
    EXPECT_EQ(run.only("RuntimeExit").at(0).arguments, std::vector<String> { "1" });
    EXPECT_EQ(run.status, 1);
}

void raiseNil(void*) { RaiseNilObjectException(); }
void raiseOther(void*) { throw std::runtime_error("not a runtime exception"); }
void setFlag(void* flag) { *static_cast<bool*>(flag) = true; }

TEST(ExceptionHelper, ReturnsNilOrTheRuntimeExceptionAndPassesOthersOn)
{
    bool flag = false;
    EXPECT_TRUE(CallFunctionWithExceptionHandling_(reinterpret_cast<void*>(&setFlag), &flag).isNil());
    EXPECT_TRUE(flag);
    Ref<RuntimeException> const caught = CallFunctionWithExceptionHandling_(reinterpret_cast<void*>(&raiseNil), nullptr);
    ASSERT_TRUE(caught);
    EXPECT_TRUE(caught->isKindOf(NilObjectException::Lookup_()));
    EXPECT_THROW(CallFunctionWithExceptionHandling_(reinterpret_cast<void*>(&raiseOther), nullptr), std::runtime_error);
}

struct FileTypeCalls : ::testing::Test {
    std::vector<RecordedCall> calls;
    void SetUp() override
    {
        RuntimeAttachRecorder([this](RecordedCall const& c) {
            if (c.operation.find("FileType") != String::npos)
                calls.push_back(c);
        });
    }
    void TearDown() override { RuntimeAttachRecorder({}); }
};

TEST_F(FileTypeCalls, ConversionRegistersOnceAndChangesDeregisterUnderTheOldName)
{
    Ref<FileType> type = RuntimeNewObject<FileType>();
    type->Name("image/test");
    type->Extensions(".tst");
    type->MacType("TEST");
    type->MacCreator("abcd");
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(type->Operator_Convert(), "image/test");
    EXPECT_EQ(type->Operator_Convert(), "image/test");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].arguments, (std::vector<String> { "image/test", "abcd", "TEST", ".tst" }));
    EXPECT_TRUE(RuntimeFilterAcceptsFileName("image/test;", "/tmp/A.TST"));

    type->Name("image/renamed");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].operation, "RuntimeDeregisterFileType");
    EXPECT_EQ(calls[1].arguments, std::vector<String> { "image/test" });
    type->Extensions(".rn");
    EXPECT_EQ(calls.size(), 2u); // unregistered already
    (void)type->Operator_Convert();
    EXPECT_EQ(calls.back().arguments, (std::vector<String> { "image/renamed", "abcd", "TEST", ".rn" }));
    type = nullptr;
    EXPECT_EQ(calls.back().operation, "RuntimeDeregisterFileType");
    EXPECT_EQ(calls.size(), 4u);
}

TEST_F(FileTypeCalls, FreeingAnUnconvertedTypeMakesNoCall)
{
    Ref<FileType> type = RuntimeNewObject<FileType>();
    type->Name("image/never");
    type = nullptr;
    EXPECT_TRUE(calls.empty());
}

TEST(Imagetypes, AllIsTheSeventyNineCharacterListOfNames)
{
    String const all = Imagetypes::All();
    EXPECT_EQ(all.size(), 79u);
    EXPECT_EQ(all, "image/png;image/jpeg;image/tiff;image/pict;image/gif;image/x-bmp;image/x-targa;");
    EXPECT_EQ(all.find('.'), String::npos);
}

struct MenuRow {
    char const* text;
    char const* shortcut;
};

TEST(MenuBar, QtShowsFileAndEditWithTheirItemsMnemonicsAndShortcuts)
{
    AppRun const run([] {
        QMenuBar* bar = Window1::Window1_()->widget()->menuBar();
        QList<QAction*> const menus = bar->actions();
        ASSERT_EQ(menus.size(), 2);
        EXPECT_EQ(menus[0]->text(), "&File");
        EXPECT_EQ(menus[1]->text(), "&Edit");
        auto rows = [](QMenu* menu) {
            std::vector<std::pair<QString, QString>> found;
            for (QAction* a : menu->actions())
                found.emplace_back(a->isSeparator() ? "-" : a->text(), a->shortcut().toString());
            return found;
        };
        using Rows = std::vector<std::pair<QString, QString>>;
        EXPECT_EQ(rows(menus[0]->menu()), (Rows { { "&Quit", "Ctrl+Q" } }));
        EXPECT_EQ(rows(menus[1]->menu()), (Rows { { "&Undo", "Ctrl+Z" }, { "-", "" }, { "Cu&t", "Ctrl+X" }, { "&Copy", "Ctrl+C" },
                                              { "&Paste", "Ctrl+V" }, { "&Delete", "" }, { "-", "" }, { "Select &All", "Ctrl+A" } }));
        for (QAction* a : menus[1]->menu()->actions())
            EXPECT_TRUE(a->isEnabled());
    });
    EXPECT_EQ(run.count("QuitMenuAction", { "FileQuit" }), 1);
}

TEST(MenuBar, TreeHasTheNamesAndOnlyQuitIsAQuitItem)
{
    Ref<MenuBar1> bar = MenuBar1::MenuBar1_();
    ASSERT_EQ(bar->Count(), 2);
    EXPECT_EQ(bar->Item(0)->Name(), "FileMenu");
    EXPECT_EQ(bar->Item(1)->Name(), "EditMenu");
    EXPECT_TRUE(bar->Child("FileMenu")->Child("FileQuit")->isKindOf(QuitMenuItem::Lookup_()));
    Ref<MenuItem> edit = bar->Child("EditMenu");
    std::vector<String> names;
    for (int i = 0; i < edit->Count(); ++i) {
        names.push_back(edit->Item(i)->Name());
        EXPECT_TRUE(edit->Item(i)->AutoEnable());
        EXPECT_FALSE(edit->Item(i)->isKindOf(QuitMenuItem::Lookup_()));
    }
    EXPECT_EQ(names, (std::vector<String> { "EditUndo", "", "EditCut", "EditCopy", "EditPaste", "EditClear", "", "EditSelectAll" }));
    EXPECT_EQ(edit->Child("EditClear")->Text(), "&Delete");
    EXPECT_EQ(edit->Child("EditClear")->KeyboardShortcut(), "");
    EXPECT_EQ(bar->Lookup_("EditSelectAll")->Text(), "Select &All");
    EXPECT_EQ(MenuBar1::MenuBar1_().get(), bar.get());
    MenuBar1::implicitInstance_Exit_();
    EXPECT_TRUE(MenuBar1::implicitInstance_.isNil());
}

// What each Edit item does to a text field that has the focus and holds
// "hello world" with "world" selected, the clipboard holding "X".
struct EditRow {
    char const* item;
    char const* text;     // the field's text afterwards
    char const* selected; // its selection afterwards
    char const* clipboard;
};

TEST(MenuBar, EditItemsActOnTheFocusedTextField)
{
    QWidget window;
    auto* field = new QLineEdit(&window);
    window.show();
    QApplication::setActiveWindow(&window);
    field->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == field; }));
    Ref<MenuBar1> bar = MenuBar1::MenuBar1_();
    for (EditRow const& row : std::vector<EditRow> {
             { "EditCut", "hello ", "", "world" },
             { "EditCopy", "hello world", "world", "world" },
             { "EditPaste", "hello X", "", "X" },
             { "EditClear", "hello ", "", "X" },
             { "EditSelectAll", "hello world", "hello world", "X" },
         }) {
        field->setText("hello world");
        field->setSelection(6, 5);
        QGuiApplication::clipboard()->setText("X");
        bar->Lookup_(row.item)->Action();
        EXPECT_EQ(field->text(), row.text) << row.item;
        EXPECT_EQ(field->selectedText(), row.selected) << row.item;
        EXPECT_EQ(QGuiApplication::clipboard()->text(), row.clipboard) << row.item;
    }

    // Undo takes back what Delete did; Delete with nothing selected
    // deletes nothing.
    field->setText("hello world");
    field->setSelection(0, 6);
    bar->Lookup_("EditClear")->Action();
    EXPECT_EQ(field->text(), "world");
    bar->Lookup_("EditUndo")->Action();
    EXPECT_EQ(field->text(), "hello world");
    field->setCursorPosition(0);
    bar->Lookup_("EditClear")->Action();
    EXPECT_EQ(field->text(), "hello world");
    MenuBar1::implicitInstance_Exit_();
}

TEST(ClassRecords, BuiltOnceInTheirOrderAndFoundAgain)
{
    RecordedCalls built;
    RuntimeAttachRecorder([&](RecordedCall const& call) { built.calls.push_back(call); });
    initialize_();
    RuntimeAttachRecorder({});
    std::vector<String> order;
    for (RecordedCall const& call : built.only("ctblinit"))
        order.push_back(call.arguments.at(0));
    // The framework's own classes first, then the program's.
    ASSERT_GT(order.size(), 4u);
    EXPECT_EQ(std::vector<String>(order.end() - 4, order.end()),
        (std::vector<String> { "App", "Window1.Window1", "MenuBar1.MenuBar1", "Vantrel" }));

    ClassRecord const& app = App::Lookup_();
    initialize_();
    EXPECT_EQ(&App::Lookup_(), &app);
    for (char const* name : { "App", "Window1.Window1", "MenuBar1.MenuBar1", "Vantrel", "Window", "DragItem" })
        EXPECT_EQ(ClassRegistry::buildCount(name), 1) << name;
    ASSERT_EQ(app.methods.size(), 1u);
    EXPECT_EQ(app.methods[0].name, "Constructor");
    EXPECT_EQ(app.methods[0].signature, "%%");
    EXPECT_EQ(app.superclass, &Application::Lookup_());
    ClassRecord const& bar = MenuBar1::Lookup_();
    EXPECT_EQ(bar.superclass, &MenuBar::Lookup_());
    EXPECT_EQ(bar.superclass->superclass, &MenuItem::Lookup_());
    std::vector<String> barMethods;
    for (MethodEntry const& m : bar.methods)
        barMethods.push_back(m.name);
    EXPECT_EQ(barMethods, (std::vector<String> { "Constructor", "Untitled0", "Untitled1" }));
}

}
