#include "runtime/Controls.h"
#include "support/MainWindow.h"
#include "support/Raises.h"
#include "support/TracedPicture.h"

#include <QLabel>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

TEST(Window1Class, RecordListsItsMembersInOrderWithTheirSignatures)
{
    ClassRecord const& record = Window1::Lookup_();
    EXPECT_EQ(record.name, "Window1.Window1");
    EXPECT_EQ(record.superclass, &Window::Lookup_());
    EXPECT_EQ(record.attributes, std::vector<Attribute> { PublicScope });
    std::vector<std::pair<String, String>> const expected {
        { "Layout", "%%" }, { "CreateControls", "%%" }, { "_CreateControls0", "%%" },
        { "WhiteInCanvas", "%o<Canvas>%" }, { "BlackInCanvas", "%o<Canvas>%" }, { "AlphaCanvas", "%o<Canvas>%" },
        { "Label1", "%o<Label>%" }, { "Label2", "%o<Label>%" }, { "PushButton1", "%o<PushButton>%" }, { "Label3", "%o<Label>%" },
        { "WhiteInCanvas_Paint", "%%o<Canvas>o<Graphics>" }, { "WhiteInCanvas_Open", "%%o<Canvas>" },
        { "WhiteInCanvas_DropObject", "%%o<Canvas>o<DragItem>i4" }, { "BlackInCanvas_Open", "%%o<Canvas>" },
        { "BlackInCanvas_Paint", "%%o<Canvas>o<Graphics>" }, { "BlackInCanvas_DropObject", "%%o<Canvas>o<DragItem>i4" },
        { "AlphaCanvas_Paint", "%%o<Canvas>o<Graphics>" }, { "PushButton1_Action", "%%o<PushButton>" },
        { "EditMenu", "%o<MenuItem>%" }, { "EditSelectAll", "%o<MenuItem>%" }, { "EditClear", "%o<MenuItem>%" },
        { "EditPaste", "%o<MenuItem>%" }, { "EditCopy", "%o<MenuItem>%" }, { "EditCut", "%o<MenuItem>%" },
        { "EditUndo", "%o<MenuItem>%" }, { "FileMenu", "%o<MenuItem>%" }, { "FileQuit", "%o<QuitMenuItem>%" }, { "Process", "%%" },
    };
    std::vector<std::pair<String, String>> actual;
    for (MethodEntry const& method : record.methods) {
        actual.emplace_back(method.name, method.signature);
        std::vector<Attribute> attributes { PublicScope };
        if (method.name == "_CreateControls0")
            attributes.push_back({ "Hidden", "" });
        EXPECT_EQ(method.attributes, attributes) << method.name;
    }
    EXPECT_EQ(actual, expected);
    std::vector<String> properties;
    for (PropertyEntry const& property : record.properties) {
        properties.push_back(property.name);
        EXPECT_EQ(property.type, "o<Picture>");
    }
    EXPECT_EQ(properties, (std::vector<String> { "whitepicture", "blackpicture", "alphapicture" }));
    ASSERT_EQ(record.eventHandlers.size(), 2u);
    EXPECT_EQ(record.eventHandlers[0].event, "Layout");
    EXPECT_EQ(record.eventHandlers[1].event, "CreateControls");
}

TEST(Window1Class, FinaliserReleasesWhiteBlackAndResultInOrder)
{
    std::vector<String> log;
    Ref<Window1> window = RuntimeNewObject<Window1>();
    EXPECT_TRUE(window->whitepicture.isNil() && window->blackpicture.isNil() && window->alphapicture.isNil());
    window->whitepicture = TracedPicture::make("white", log);
    window->blackpicture = TracedPicture::make("black", log);
    window->alphapicture = TracedPicture::make("alpha", log);
    window = nullptr;
    EXPECT_EQ(log, (std::vector<String> { "white", "black", "alpha" }));
}

TEST(Window1Class, MenuItemAccessorWithoutMenuBarRaises)
{
    Ref<Window1> bare = RuntimeNewObject<Window1>();
    EXPECT_TRUE(raises<NilObjectException>([&] { bare->EditCopy(); }, ""));
}

TEST(ControlClasses, EventIndicesAreThoseTheWindowBindsBy)
{
    EXPECT_EQ(Canvas::Lookup_().eventIndex("Open"), 1);
    EXPECT_EQ(Canvas::Lookup_().eventIndex("DropObject"), 6);
    EXPECT_EQ(Canvas::Lookup_().eventIndex("Paint"), 15);
    EXPECT_EQ(PushButton::Lookup_().eventIndex("Action"), 15);
    EXPECT_EQ(Label::Lookup_().eventIndex("Paint"), 0);
}

using MainWindowLayout = MainWindow;

TEST_F(MainWindowLayout, WindowHasItsTitleContentSizeLimitsAndButtons)
{
    EXPECT_EQ(window->widget()->windowTitle(), "Vantrel Effect");
    EXPECT_EQ(content()->size(), QSize(786, 228));
    EXPECT_EQ(content()->minimumSize(), QSize(64, 64));
    EXPECT_EQ(content()->maximumSize(), QSize(32000, 32000));
    // The window itself carries the limits, with its menu bar above the content.
    int const menu = window->widget()->menuBar()->sizeHint().height();
    EXPECT_GT(menu, 0);
    EXPECT_EQ(window->widget()->minimumSize(), QSize(64, 64 + menu));
    EXPECT_EQ(window->widget()->maximumSize(), QSize(32000, 32000 + menu));
    window->widget()->resize(40000, 40000);
    EXPECT_EQ(window->widget()->size(), QSize(32000, 32000 + menu));
    Qt::WindowFlags const flags = window->widget()->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window->widget()->menuBar()->isVisible());
    EXPECT_EQ(window->Lookup_().name, "Window1.Window1");
    EXPECT_EQ(Window1::Window1_().get(), window.get());
}

struct Place {
    char const* name;
    int left, top, width, height;
};

std::vector<Place> const places {
    { "WhiteInCanvas", 20, 14, 240, 160 }, { "BlackInCanvas", 272, 14, 240, 160 }, { "AlphaCanvas", 526, 14, 240, 160 },
    { "Label1", 8, 207, 240, 20 }, { "Label2", 274, 182, 240, 20 }, { "PushButton1", 526, 179, 240, 20 }, { "Label3", 20, 179, 240, 20 },
};

TEST_F(MainWindowLayout, ControlsStandAtTheirPlacesAndStayThereOnResize)
{
    std::vector<String> names;
    for (Ref<RectControl> const& control : window->controls())
        names.push_back(control->Name());
    EXPECT_EQ(names, (std::vector<String> { "WhiteInCanvas", "BlackInCanvas", "AlphaCanvas", "Label1", "Label2", "PushButton1", "Label3" }));
    for (QSize size : { QSize(786, 228), QSize(1200, 700), QSize(300, 120) }) {
        window->widget()->resize(size.width(), size.height() + window->widget()->menuBar()->height());
        QApplication::processEvents();
        for (Place const& p : places) {
            EXPECT_EQ(widgetOf(p.name)->geometry(), QRect(p.left, p.top, p.width, p.height)) << p.name << " at " << size.width();
            EXPECT_TRUE(widgetOf(p.name)->isVisible()) << p.name;
        }
    }
}

TEST_F(MainWindowLayout, TextsAndEnabledStates)
{
    auto* button = qobject_cast<QPushButton*>(widgetOf("PushButton1"));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), "Save as PNG");
    EXPECT_FALSE(button->isEnabled());
    EXPECT_FALSE(button->isDefault());
    auto label = [&](char const* name) { return qobject_cast<QLabel*>(widgetOf(name)); };
    EXPECT_EQ(label("Label3")->text(), "Drag white picture here");
    EXPECT_EQ(label("Label2")->text(), "Drag black picture here");
    EXPECT_TRUE(label("Label1")->text().startsWith("V 1.0"));
    EXPECT_EQ(label("Label2")->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_EQ(label("Label1")->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    EXPECT_LT(label("Label1")->font().pointSizeF(), label("Label2")->font().pointSizeF());
    for (char const* name : { "WhiteInCanvas", "BlackInCanvas", "AlphaCanvas", "Label1", "Label2", "Label3" })
        EXPECT_TRUE(widgetOf(name)->isEnabled()) << name;
}

TEST_F(MainWindowLayout, AccessorsFindControlsAndMenuItems)
{
    EXPECT_EQ(window->WhiteInCanvas().get(), window->WhiteInCanvas().get());
    EXPECT_EQ(window->AlphaCanvas()->Name(), "AlphaCanvas");
    EXPECT_EQ(window->PushButton1()->Caption(), "Save as PNG");
    EXPECT_EQ(window->Label3()->Text(), "Drag white picture here");
    EXPECT_EQ(window->EditSelectAll()->Text(), "Select &All");
    EXPECT_EQ(window->EditMenu()->Text(), "&Edit");
    EXPECT_TRUE(window->FileQuit()->isKindOf(QuitMenuItem::Lookup_()));
    EXPECT_EQ(window->EditClear()->Name(), "EditClear");
}

TEST_F(MainWindowLayout, OpenHandlersRanAfterTheControlsWereMade)
{
    long const lastMade = indexOf("Window.AddControl", { "Label3" }); // the seventh control
    ASSERT_GE(lastMade, 0);
    EXPECT_EQ(count("AcceptPictureDrop", { "WhiteInCanvas" }), 1);
    EXPECT_EQ(count("AcceptPictureDrop", { "BlackInCanvas" }), 1);
    EXPECT_EQ(count("AcceptPictureDrop", { "AlphaCanvas" }), 0);
    EXPECT_GT(indexOf("AcceptPictureDrop", { "WhiteInCanvas" }), lastMade);
    EXPECT_EQ(window->WhiteInCanvas()->fileDropFilter(), "image/png;image/jpeg;image/tiff;image/pict;image/gif;image/x-bmp;image/x-targa;");
}

TEST_F(MainWindowLayout, ControlsAreMadeAndTheirEventsBoundInOrder)
{
    std::vector<String> added;
    for (RecordedCall const& call : only("Window.AddControl"))
        added.push_back(call.arguments.at(0));
    EXPECT_EQ(added, (std::vector<String> { "WhiteInCanvas", "BlackInCanvas", "AlphaCanvas", "Label1", "Label2", "PushButton1", "Label3" }));

    std::vector<std::vector<String>> bindings;
    for (RecordedCall const& call : only("RuntimeAddEventHandler"))
        bindings.push_back(call.arguments);
    EXPECT_EQ(bindings, (std::vector<std::vector<String>> {
                            { "WhiteInCanvas", "15", "( Canvas, Graphics )" },
                            { "WhiteInCanvas", "1", "( Canvas )" },
                            { "WhiteInCanvas", "6", "( Canvas, DragItem, Int32 )" },
                            { "BlackInCanvas", "1", "( Canvas )" },
                            { "BlackInCanvas", "15", "( Canvas, Graphics )" },
                            { "BlackInCanvas", "6", "( Canvas, DragItem, Int32 )" },
                            { "AlphaCanvas", "15", "( Canvas, Graphics )" },
                            { "PushButton1", "15", "( PushButton )" },
                        }));
    // A control's events are bound after it is added, before the next one is made.
    EXPECT_LT(indexOf("Window.AddControl", { "PushButton1" }), indexOf("RuntimeAddEventHandler", { "PushButton1", "15", "( PushButton )" }));
    EXPECT_LT(indexOf("RuntimeAddEventHandler", { "PushButton1", "15", "( PushButton )" }), indexOf("Window.AddControl", { "Label3" }));
}

TEST_F(MainWindowLayout, PaintsReachTheThreeHandlersAndShowTheirGrounds)
{
    QImage const shot = content()->grab().toImage();
    EXPECT_EQ(shot.pixelColor(20 + 120, 14 + 80), QColor(255, 255, 255));
    EXPECT_EQ(shot.pixelColor(272 + 120, 14 + 80), QColor(0, 0, 0));
    EXPECT_EQ(shot.pixelColor(526 + 120, 14 + 80), QColor(128, 128, 128));
    EXPECT_EQ(shot.pixelColor(20, 14), QColor(255, 255, 255));
    EXPECT_EQ(shot.pixelColor(526 + 239, 14 + 159), QColor(128, 128, 128));
    // Between the canvases the window's own background shows.
    EXPECT_NE(shot.pixelColor(265, 80), QColor(0, 0, 0));
    // The labels' texts are drawn: some pixels in each label are dark.
    auto hasInk = [&](QRect area) {
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                if (shot.pixelColor(x, y).lightness() < 100)
                    return true;
        return false;
    };
    EXPECT_TRUE(hasInk(QRect(20, 179, 240, 20)));
    EXPECT_TRUE(hasInk(QRect(274, 182, 240, 20)));
    EXPECT_TRUE(hasInk(QRect(8, 207, 240, 20)));
    for (char const* canvas : { "WhiteInCanvas", "BlackInCanvas", "AlphaCanvas" })
        EXPECT_GE(count("Control event", { canvas, "Paint" }), 1) << canvas;
}

TEST_F(MainWindowLayout, ClickOnTheEnabledButtonReachesItsHandler)
{
    QWidget* button = widgetOf("PushButton1");
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(count("Control event", { "PushButton1", "Action" }), 0); // disabled: no click
    window->PushButton1()->Enabled(true);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(count("Control event", { "PushButton1", "Action" }), 1);
}

TEST_F(MainWindowLayout, HandlersRaiseOnceTheWindowIsGoneInsteadOfCalling)
{
    // A delegate bound to the window reaches it through a weak reference.
    Ref<Canvas> canvas = window->WhiteInCanvas();
    Ref<Delegate> delegate = RuntimeCreateDelegate(&Window1::WhiteInCanvas_Open, Ref<Window1>(RuntimeNewObject<Window1>()), "( Canvas )", Delegate::WeakReceiver);
    EXPECT_TRUE(raises<NilObjectException>([&] { OpenEventStub(*delegate, std::vector<Value> { Value(Ref<Object>(canvas)) }); }, ""));
}

}
