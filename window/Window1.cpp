#include "window/Window1.h"

#include "matte/Vantrel.h"
#include "runtime/Exceptions.h"
#include "runtime/FolderItem.h"
#include "runtime/Numbers.h"
#include "runtime/PropertyBlock.h"
#include "runtime/SaveAsDialog.h"
#include "runtime/SpecialFolder.h"
#include "shell/Imagetypes.h"
#include "shell/MenuBar1.h"
#include "window/Window1Blocks.h"

#include <functional>

ClassRecord Window1::buildRecord()
{
    using W = Window1;
    std::vector<Attribute> const pub { PublicScope };
    return ClassRecordBuilder<W>("Window1.Window1", &Window::Lookup_())
        .attribute(PublicScope)
        .method("Layout", "%%", pub, &W::Layout)
        .method("CreateControls", "%%", pub, &W::CreateControls)
        .method("_CreateControls0", "%%", { PublicScope, { "Hidden", "" } }, &W::CreateControls0_)
        .method("WhiteInCanvas", "%o<Canvas>%", pub, &W::WhiteInCanvas)
        .method("BlackInCanvas", "%o<Canvas>%", pub, &W::BlackInCanvas)
        .method("AlphaCanvas", "%o<Canvas>%", pub, &W::AlphaCanvas)
        .method("Label1", "%o<Label>%", pub, &W::Label1)
        .method("Label2", "%o<Label>%", pub, &W::Label2)
        .method("PushButton1", "%o<PushButton>%", pub, &W::PushButton1)
        .method("Label3", "%o<Label>%", pub, &W::Label3)
        .method("WhiteInCanvas_Paint", "%%o<Canvas>o<Graphics>", pub, &W::WhiteInCanvas_Paint)
        .method("WhiteInCanvas_Open", "%%o<Canvas>", pub, &W::WhiteInCanvas_Open)
        .method("WhiteInCanvas_DropObject", "%%o<Canvas>o<DragItem>i4", pub, &W::WhiteInCanvas_DropObject)
        .method("BlackInCanvas_Open", "%%o<Canvas>", pub, &W::BlackInCanvas_Open)
        .method("BlackInCanvas_Paint", "%%o<Canvas>o<Graphics>", pub, &W::BlackInCanvas_Paint)
        .method("BlackInCanvas_DropObject", "%%o<Canvas>o<DragItem>i4", pub, &W::BlackInCanvas_DropObject)
        .method("AlphaCanvas_Paint", "%%o<Canvas>o<Graphics>", pub, &W::AlphaCanvas_Paint)
        .method("PushButton1_Action", "%%o<PushButton>", pub, &W::PushButton1_Action)
        .method("EditMenu", "%o<MenuItem>%", pub, &W::EditMenu)
        .method("EditSelectAll", "%o<MenuItem>%", pub, &W::EditSelectAll)
        .method("EditClear", "%o<MenuItem>%", pub, &W::EditClear)
        .method("EditPaste", "%o<MenuItem>%", pub, &W::EditPaste)
        .method("EditCopy", "%o<MenuItem>%", pub, &W::EditCopy)
        .method("EditCut", "%o<MenuItem>%", pub, &W::EditCut)
        .method("EditUndo", "%o<MenuItem>%", pub, &W::EditUndo)
        .method("FileMenu", "%o<MenuItem>%", pub, &W::FileMenu)
        .method("FileQuit", "%o<QuitMenuItem>%", pub, &W::FileQuit)
        .method("Process", "%%", pub, &W::Process)
        .property("whitepicture", "o<Picture>", pub, &W::whitepicture)
        .property("blackpicture", "o<Picture>", pub, &W::blackpicture)
        .property("alphapicture", "o<Picture>", pub, &W::alphapicture)
        .handles("Layout", &W::Layout)
        .handles("CreateControls", &W::CreateControls)
        .finaliser(&W::Exit_)
        .build();
}

Ref<Window1> Window1::Window1_()
{
    Ref<Window> window = RuntimeGetImplicitWindow("Window1.Window1");
    if (!window) {
        Ref<Window> made = RuntimeCheckCast<Window>(RuntimeNewObject(Window1::Lookup_()));
        made->Constructor();
        window = made;
    }
    return RuntimeCheckCast<Window1>(window);
}

void Window1::Exit_()
{
    whitepicture.clear();
    blackpicture.clear();
    alphapicture.clear();
}

void Window1::Layout()
{
    Ref<::MenuBar> bar = MenuBar1::MenuBar1_();
    MenuBar(bar);
    SetProperties_(Ref<Object>(this), Window1Blocks::Window);
}

void Window1::CreateControls()
{
    CreateControls0_();
}

template <class... Args>
void Window1::bind(String const& name, int event, void (Window1::*handler)(Args...), String signature, EventStub stub)
{
    Ref<Delegate> delegate = RuntimeCreateDelegate(handler, Ref<Window1>(this), std::move(signature), Delegate::WeakReceiver);
    RuntimeAddEventHandler(ControlByName_(name), event, stub, std::move(delegate));
}

// Each control in turn is made, added under its name, given its font-size
// unit where it shows text, given its settings, and bound to its handlers;
// every step after the adding finds the control anew by its name.
void Window1::CreateControls0_()
{
    // Event indices in the controls' event tables.
    constexpr int open = 1, dropObject = 6, paint = 15, action = 15;

    struct Made {
        char const* name;
        ClassRecord const& record;
        std::string_view block;
        std::function<void()> bindings;
    };
    Made const controls[] = {
        { "WhiteInCanvas", Canvas::Lookup_(), Window1Blocks::WhiteInCanvas, [this] {
             bind("WhiteInCanvas", paint, &Window1::WhiteInCanvas_Paint, "( Canvas, Graphics )", PaintEventStub);
             bind("WhiteInCanvas", open, &Window1::WhiteInCanvas_Open, "( Canvas )", OpenEventStub);
             bind("WhiteInCanvas", dropObject, &Window1::WhiteInCanvas_DropObject, "( Canvas, DragItem, Int32 )", DropObjectEventStub);
         } },
        { "BlackInCanvas", Canvas::Lookup_(), Window1Blocks::BlackInCanvas, [this] {
             bind("BlackInCanvas", open, &Window1::BlackInCanvas_Open, "( Canvas )", OpenEventStub);
             bind("BlackInCanvas", paint, &Window1::BlackInCanvas_Paint, "( Canvas, Graphics )", PaintEventStub);
             bind("BlackInCanvas", dropObject, &Window1::BlackInCanvas_DropObject, "( Canvas, DragItem, Int32 )", DropObjectEventStub);
         } },
        { "AlphaCanvas", Canvas::Lookup_(), Window1Blocks::AlphaCanvas, [this] {
             bind("AlphaCanvas", paint, &Window1::AlphaCanvas_Paint, "( Canvas, Graphics )", PaintEventStub);
         } },
        { "Label1", Label::Lookup_(), Window1Blocks::Label1, {} },
        { "Label2", Label::Lookup_(), Window1Blocks::Label2, {} },
        { "PushButton1", PushButton::Lookup_(), Window1Blocks::PushButton1, [this] {
             bind("PushButton1", action, &Window1::PushButton1_Action, "( PushButton )", ActionEventStub);
         } },
        { "Label3", Label::Lookup_(), Window1Blocks::Label3, {} },
    };

    for (Made const& made : controls) {
        Ref<RectControl> control = RuntimeCheckCast<RectControl>(New_(made.record));
        control->Constructor();
        AddControl_(made.name, control);
        control = nullptr;

        if (&made.record == &Label::Lookup_())
            RuntimeCheckCast<Label>(ControlByName_(made.name))->TextUnit(0);
        else if (&made.record == &PushButton::Lookup_())
            RuntimeCheckCast<PushButton>(ControlByName_(made.name))->TextUnit(0);
        SetProperties_(RuntimeCheckCast<RectControl>(ControlByName_(made.name)), made.block);
        if (made.bindings)
            made.bindings();
    }
}

template <class T>
Ref<T> Window1::control(String const& name)
{
    return RuntimeCheckCast<T>(ControlByName_(name));
}

template <class T>
Ref<T> Window1::menuItem(String const& name)
{
    Ref<::MenuBar> const bar = MenuBar();
    if (!bar)
        RaiseNilObjectException();
    return RuntimeCheckCast<T>(bar->Lookup_(name));
}

Ref<Canvas> Window1::WhiteInCanvas() { return control<Canvas>("WhiteInCanvas"); }
Ref<Canvas> Window1::BlackInCanvas() { return control<Canvas>("BlackInCanvas"); }
Ref<Canvas> Window1::AlphaCanvas() { return control<Canvas>("AlphaCanvas"); }
Ref<Label> Window1::Label1() { return control<Label>("Label1"); }
Ref<Label> Window1::Label2() { return control<Label>("Label2"); }
Ref<PushButton> Window1::PushButton1() { return control<PushButton>("PushButton1"); }
Ref<Label> Window1::Label3() { return control<Label>("Label3"); }
Ref<MenuItem> Window1::EditMenu() { return menuItem<MenuItem>("EditMenu"); }
Ref<MenuItem> Window1::EditSelectAll() { return menuItem<MenuItem>("EditSelectAll"); }
Ref<MenuItem> Window1::EditClear() { return menuItem<MenuItem>("EditClear"); }
Ref<MenuItem> Window1::EditPaste() { return menuItem<MenuItem>("EditPaste"); }
Ref<MenuItem> Window1::EditCopy() { return menuItem<MenuItem>("EditCopy"); }
Ref<MenuItem> Window1::EditCut() { return menuItem<MenuItem>("EditCut"); }
Ref<MenuItem> Window1::EditUndo() { return menuItem<MenuItem>("EditUndo"); }
Ref<MenuItem> Window1::FileMenu() { return menuItem<MenuItem>("FileMenu"); }
Ref<QuitMenuItem> Window1::FileQuit() { return menuItem<QuitMenuItem>("FileQuit"); }

// The ground colour over the whole canvas, then the picture scaled to fit
// and centred; small pictures are enlarged.
void Window1::paintScaled(Ref<Canvas> const& canvas, Ref<Graphics> const& g, Color ground, Ref<Picture> const& picture)
{
    g->ForeColor(ground);
    g->FillRect(0, 0, canvas->Width(), canvas->Height());
    if (!picture)
        return;
    Ref<Picture> const p = picture;
    double const width = RuntimeCvtSInt32ToReal64(canvas->Width());
    double const height = RuntimeCvtSInt32ToReal64(canvas->Height());
    double const pw = RuntimeCvtSInt32ToReal64(p->Width());
    double const ph = RuntimeCvtSInt32ToReal64(p->Height());
    double const scale = Min(width / pw, height / ph);
    double const x = (width - scale * pw) / 2.0;
    double const y = (height - scale * ph) / 2.0;
    g->DrawPicture(p, RuntimeCvtReal64ToSInt32(x), RuntimeCvtReal64ToSInt32(y),
        RuntimeCvtReal64ToSInt32(scale * pw), RuntimeCvtReal64ToSInt32(scale * ph), 0, 0, p->Width(), p->Height());
}

void Window1::WhiteInCanvas_Paint(Ref<Canvas> const& canvas, Ref<Graphics> const& g)
{
    paintScaled(canvas, g, RGB(255, 255, 255, 0), whitepicture);
}

void Window1::BlackInCanvas_Paint(Ref<Canvas> const& canvas, Ref<Graphics> const& g)
{
    paintScaled(canvas, g, RGB(0, 0, 0, 0), blackpicture);
}

void Window1::AlphaCanvas_Paint(Ref<Canvas> const& canvas, Ref<Graphics> const& g)
{
    paintScaled(canvas, g, RGB(128, 128, 128, 0), alphapicture);
}

void Window1::WhiteInCanvas_Open(Ref<Canvas> const& canvas)
{
    canvas->AcceptPictureDrop();
    canvas->AcceptFileDrop(Imagetypes::All());
}

void Window1::BlackInCanvas_Open(Ref<Canvas> const& canvas)
{
    canvas->AcceptPictureDrop();
    canvas->AcceptFileDrop(Imagetypes::All());
}

// Takes the dropped file, or else the dropped picture data, into a new
// picture of its size, then recomputes. A file wins over picture data, also
// when it does not open, so the picture data is asked for only when the
// drop has no file.
void Window1::takeDrop(Ref<Picture>& property, Ref<Canvas> const& canvas, Ref<DragItem> const& item)
{
    Ref<Picture> p;
    if (item->FolderItemAvailable())
        p = Picture::Open(item->FolderItem());
    else if (item->PictureAvailable())
        p = item->Picture();
    if (p) {
        // The copy is taken as the input only once it is whole: a copy that
        // fails leaves the input, its canvas and the result as they were.
        Ref<Picture> copy = New_<Picture>();
        copy->Constructor(p->Width(), p->Height());
        copy->Graphics()->DrawPicture(p, 0, 0, Graphics::Omitted, Graphics::Omitted, 0, 0, Graphics::Omitted, Graphics::Omitted);
        property = copy;
        canvas->Refresh(true);
    }
    Process();
}

void Window1::WhiteInCanvas_DropObject(Ref<Canvas> const& canvas, Ref<DragItem> const& item, std::int32_t)
{
    takeDrop(whitepicture, canvas, item);
}

void Window1::BlackInCanvas_DropObject(Ref<Canvas> const& canvas, Ref<DragItem> const& item, std::int32_t)
{
    takeDrop(blackpicture, canvas, item);
}

void Window1::Process()
{
    if (!whitepicture)
        return;
    if (!blackpicture)
        return;
    Ref<Vantrel> matte = New_<Vantrel>();
    matte->whitepicture = whitepicture;
    matte->blackpicture = blackpicture;
    try {
        matte->Process();
    } catch (RaisedException const& raised) {
        clearResult();
        raised.exception()->Message = "The result could not be computed: " + raised.exception()->Message;
        throw;
    } catch (...) {
        clearResult();
        throw;
    }
    alphapicture = matte->alphapicture;
    PushButton1()->Enabled(true);
    AlphaCanvas()->Refresh(true);
}

// A result that no longer belongs to the inputs shown goes: the result
// canvas shows its ground and nothing is left to save.
void Window1::clearResult()
{
    alphapicture.clear();
    PushButton1()->Enabled(false);
    AlphaCanvas()->Refresh(true);
}

void Window1::PushButton1_Action(Ref<PushButton> const&)
{
    if (!alphapicture)
        return;
    Ref<SaveAsDialog> dialog = New_<SaveAsDialog>();
    dialog->InitialDirectory(SpecialFolder::Pictures());
    dialog->PromptText("Save as PNG");
    dialog->SuggestedFileName("vantrel.png");
    dialog->Title("Save");
    dialog->Filter("image/png");
    Ref<FolderItem> file = dialog->ShowModal();
    if (!file)
        return;
    alphapicture->Save(file, 150, -1);
}
