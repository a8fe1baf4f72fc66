#pragma once

#include "runtime/Controls.h"
#include "runtime/DragItem.h"
#include "runtime/Graphics.h"
#include "runtime/Picture.h"
#include "runtime/Window.h"

// The main window: three canvases for the white-ground shot, the
// black-ground shot and the result, their labels, and the button that saves
// the result as PNG.
class Window1 : public RuntimeClass<Window1, Window> {
public:
    static ClassRecord buildRecord();

    Ref<Picture> whitepicture;
    Ref<Picture> blackpicture;
    Ref<Picture> alphapicture;

    // The one main window, made on the first call.
    static Ref<Window1> Window1_();

    virtual void Layout();
    virtual void CreateControls();
    virtual void CreateControls0_();
    virtual Ref<Canvas> WhiteInCanvas();
    virtual Ref<Canvas> BlackInCanvas();
    virtual Ref<Canvas> AlphaCanvas();
    virtual Ref<Label> Label1();
    virtual Ref<Label> Label2();
    virtual Ref<PushButton> PushButton1();
    virtual Ref<Label> Label3();
    virtual void WhiteInCanvas_Paint(Ref<Canvas> const& canvas, Ref<Graphics> const& g);
    virtual void WhiteInCanvas_Open(Ref<Canvas> const& canvas);
    virtual void WhiteInCanvas_DropObject(Ref<Canvas> const& canvas, Ref<DragItem> const& item, std::int32_t action);
    virtual void BlackInCanvas_Open(Ref<Canvas> const& canvas);
    virtual void BlackInCanvas_Paint(Ref<Canvas> const& canvas, Ref<Graphics> const& g);
    virtual void BlackInCanvas_DropObject(Ref<Canvas> const& canvas, Ref<DragItem> const& item, std::int32_t action);
    virtual void AlphaCanvas_Paint(Ref<Canvas> const& canvas, Ref<Graphics> const& g);
    virtual void PushButton1_Action(Ref<PushButton> const& button);
    virtual Ref<MenuItem> EditMenu();
    virtual Ref<MenuItem> EditSelectAll();
    virtual Ref<MenuItem> EditClear();
    virtual Ref<MenuItem> EditPaste();
    virtual Ref<MenuItem> EditCopy();
    virtual Ref<MenuItem> EditCut();
    virtual Ref<MenuItem> EditUndo();
    virtual Ref<MenuItem> FileMenu();
    virtual Ref<QuitMenuItem> FileQuit();
    // With both inputs present, computes the result, enables the save
    // button and repaints the result canvas; otherwise does nothing. A
    // computation that fails clears the result and disables the button.
    virtual void Process();

private:
    void Exit_();
    template <class T>
    Ref<T> control(String const& name);
    template <class T>
    Ref<T> menuItem(String const& name);
    template <class... Args>
    void bind(String const& name, int event, void (Window1::*handler)(Args...), String signature, EventStub stub);
    void paintScaled(Ref<Canvas> const& canvas, Ref<Graphics> const& g, Color ground, Ref<Picture> const& picture);
    void clearResult();
    void takeDrop(Ref<Picture>& property, Ref<Canvas> const& canvas, Ref<DragItem> const& item);
};
